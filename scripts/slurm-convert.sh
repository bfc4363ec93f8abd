#!/usr/bin/env bash
# A Slurm array job: task N converts line N+1 of a file list into one shared output folder.
#
#   count=$(wc -l < files.txt)
#   sbatch --array=0-$((count - 1))%16 scripts/slurm-convert.sh PROFILE OUTDIR files.txt
#
# The same line run by hand (to test the recipe, or to redo one file):
#   SLURM_ARRAY_TASK_ID=4 scripts/slurm-convert.sh 403 /shared/out files.txt
#
# Outputs keep their sources' names, are complete whenever they exist (written under a partial name,
# renamed at the end), and an existing one is skipped: resubmitting the whole array finishes what
# is missing. The file's JSON line goes to standard output, which Slurm keeps per task.
#SBATCH --job-name=tarnel-convert
#SBATCH --cpus-per-task=2
#SBATCH --output=tarnel-%A_%a.out
set -euo pipefail

if (($# < 3)); then
  echo "usage: $0 PROFILE OUTDIR FILELIST (with SLURM_ARRAY_TASK_ID set)" >&2
  exit 2
fi
profile=$1
out=$2
list=$3
task=${SLURM_ARRAY_TASK_ID:?"set by an array job (sbatch --array), or by hand"}
if ! [[ $task =~ ^[0-9]+$ ]]; then
  echo "SLURM_ARRAY_TASK_ID is not a number: $task" >&2
  exit 2
fi
file=$(sed -n "$((task + 1))p" "$list")
if [[ -z $file ]]; then
  echo "$list has no line $((task + 1)) for task $task" >&2
  exit 2
fi
mkdir -p "$out"
exec "${TARNEL_CLI:-tarnel-cli}" convert --profile "$profile" --out "$out" --keep-names --skip-existing \
  --json --timeout "${TARNEL_TIMEOUT:-30}" "$file"
