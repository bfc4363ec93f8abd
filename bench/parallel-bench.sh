#!/usr/bin/env bash
# Twelve short files through scripts/parallel-convert.sh with 1, 2 and 3 job slots on this machine:
# the throughput of each relative to one slot, and the peak resident memory of a tarnel-cli process.
#   bench/parallel-bench.sh BUILD_DIR [PROFILE] [ROUNDS]
set -euo pipefail

build=$(cd "$1" && pwd)
profile=${2:-403}
rounds=${3:-3}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
mkdir -p "$HOME" "$work/in"
"$build/tests/fixtures/tarnel-make-fixtures" "$work/fixtures" >/dev/null
for i in $(seq -w 1 12); do
  cp "$work/fixtures/h264_aac.mp4" "$work/in/clip$i.mp4"
done
ls "$work"/in/*.mp4 >"$work/files.txt"

# Each job's peak resident size (KiB), as the kernel counted it for the finished child.
cat >"$work/measured-cli" <<WRAP
#!/usr/bin/env python3
import resource, subprocess, sys
status = subprocess.call(["$build/cli/tarnel-cli"] + sys.argv[1:])
with open("$work/peaks.txt", "a") as peaks:
    peaks.write(f"{resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss}\n")
sys.exit(status)
WRAP
chmod +x "$work/measured-cli"
export TARNEL_CLI=$work/measured-cli

declare -A best
for round in $(seq 1 "$rounds"); do
  for slots in 1 2 3; do
    rm -rf "$work/out"
    start=$(date +%s%N)
    "$source_dir/scripts/parallel-convert.sh" "$profile" "$work/out" "$work/files.txt" -j "$slots" 2>/dev/null
    elapsed=$(($(date +%s%N) - start)) # ns
    echo "round $round, $slots slot(s): $((elapsed / 1000000)) ms"
    if [[ -z ${best[$slots]:-} ]] || ((elapsed < best[$slots])); then
      best[$slots]=$elapsed
    fi
  done
done
echo
echo "12 files, profile $profile, best of $rounds rounds:"
for slots in 1 2 3; do
  python3 -c 'import sys; s, t, one = map(int, sys.argv[1:]); print(f"  {s} slot(s): {t / 1e9:.2f} s, throughput x{one / t:.2f} of one slot")' \
    "$slots" "${best[$slots]}" "${best[1]}"
done
printf "  peak resident memory per process: median %d KiB, highest %d KiB\n" \
  "$(sort -n "$work/peaks.txt" | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')" \
  "$(sort -n "$work/peaks.txt" | tail -n 1)"
