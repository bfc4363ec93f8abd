#!/usr/bin/env bash
# Converts the files named in a list, one tarnel-cli job per file, with GNU parallel: on this
# machine or over ssh on several, all writing into one shared output folder.
#
#   scripts/parallel-convert.sh PROFILE OUTDIR FILELIST [parallel options...]
#
# Examples:
#   scripts/parallel-convert.sh 403 /shared/out files.txt -j 3
#   scripts/parallel-convert.sh 403 /shared/out files.txt --sshlogin 4/node1,4/node2 --resume-failed
#
# Each job runs `tarnel-cli convert --keep-names --skip-existing --json FILE`: outputs keep their
# sources' names, are written under a partial name and renamed when complete, and a file whose
# output exists is skipped. The job log ($JOBLOG, default OUTDIR/tarnel-jobs.log) records every job's
# exit status; running the same command again with --resume-failed redoes the failed and killed
# jobs only. Each file's JSON line is appended to $RESULTS (default OUTDIR/tarnel-results.jsonl).
# Over ssh, the files, OUTDIR and tarnel-cli ($TARNEL_CLI) must have the same paths on every machine.
set -euo pipefail

if (($# < 3)); then
  echo "usage: $0 PROFILE OUTDIR FILELIST [parallel options...]" >&2
  exit 2
fi
profile=$1
out=$2
list=$3
shift 3
cli=${TARNEL_CLI:-tarnel-cli}
mkdir -p "$out"

# --group (the default) keeps each job's lines together; the time-out keeps a stalled network
# input from holding a slot for ever.
parallel --joblog "${JOBLOG:-$out/tarnel-jobs.log}" "$@" \
  "$cli" convert --profile "$profile" --out "$out" --keep-names --skip-existing --json \
  --timeout "${TARNEL_TIMEOUT:-30}" {} \
  :::: "$list" >>"${RESULTS:-$out/tarnel-results.jsonl}"
