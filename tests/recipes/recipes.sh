#!/usr/bin/env bash
# The cluster recipes in scripts/, run for real: GNU parallel with 3 job slots over 12 files into one
# folder, one job killed mid-file (kill -9) and the run resumed from its job log; then the Slurm
# array script with SLURM_ARRAY_TASK_ID set by hand.
#   recipes.sh SOURCE_DIR TARNEL_CLI FIXTURE
set -euo pipefail

source_dir=$1
cli=$2
fixture=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config TARNEL_CLI=$cli
mkdir -p "$HOME" "$work/in" "$work/out"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

for i in $(seq -w 1 12); do
  cp "$fixture" "$work/in/clip$i.mp4"
done
ls "$work"/in/*.mp4 >"$work/files.txt"
profile=205 # a slow encoder: each job lasts long enough to be killed in the middle

# Kills the first job seen writing its output (its partial file has data), with kill -9.
kill_one_writer() {
  for _ in $(seq 1 3000); do
    for partial in "$work"/out/.partial-*; do
      [[ -s $partial ]] || continue
      local name=${partial##*/.partial-}
      local pid
      pid=$(pgrep -f -- "convert .*/in/${name%.*}\.mp4$" | head -n 1 || true)
      if [[ -n $pid ]]; then
        kill -9 "$pid"
        echo "${name%.*}"
        return 0
      fi
    done
    sleep 0.01
  done
  return 1
}

"$source_dir/scripts/parallel-convert.sh" "$profile" "$work/out" "$work/files.txt" -j 3 &
runner=$!
killed=$(kill_one_writer) || fail "no job was seen writing"
wait "$runner" && fail "parallel reported no failed job after kill -9"
[[ -e "$work/out/.partial-$killed.mp4" ]] || fail "kill -9 should leave the partial file of $killed"
[[ ! -e "$work/out/$killed.mp4" ]] || fail "an unfinished $killed.mp4 has its final name"

"$source_dir/scripts/parallel-convert.sh" "$profile" "$work/out" "$work/files.txt" -j 3 --resume-failed ||
  fail "the resumed run failed"

outputs=$(find "$work/out" -name '*.mp4' | wc -l)
[[ $outputs -eq 12 ]] || fail "expected 12 outputs, found $outputs"
partials=$(find "$work/out" -name '.partial-*' | wc -l)
[[ $partials -eq 0 ]] || fail "partial files are left: $(ls -a "$work/out")"
for i in $(seq -w 1 12); do
  [[ -s "$work/out/clip$i.mp4" ]] || fail "clip$i.mp4 is missing or empty"
done
[[ $(find "$work/out" -name '*_(new*' | wc -l) -eq 0 ]] || fail "an output got a second name"

# The job log and the JSON lines agree: every job's last entry succeeded, exactly one JSON line says
# "finished" for each file, and the killed job's first attempt left none.
python3 - "$work/out/tarnel-jobs.log" "$work/out/tarnel-results.jsonl" "$killed" <<'PY'
import json, sys, os
joblog, results, killed = sys.argv[1:]
last = {}
with open(joblog) as log:
    header = log.readline().split("\t")
    for line in log:
        fields = dict(zip(header, line.rstrip("\n").split("\t")))
        last[int(fields["Seq"])] = fields
assert len(last) == 12, f"job log has {len(last)} jobs"
attempts = {}
with open(joblog) as log:
    next(log)
    for line in log:
        seq = int(line.split("\t")[0])
        attempts[seq] = attempts.get(seq, 0) + 1
for seq, fields in last.items():
    assert fields["Exitval"] == "0" and fields["Signal"] == "0", f"job {seq} ended {fields}"
retried = [seq for seq, count in attempts.items() if count > 1]
assert len(retried) == 1, f"jobs run twice: {retried}"
finished = {}
with open(results) as lines:
    for line in lines:
        record = json.loads(line)
        assert record["status"] in ("finished", "skipped"), record
        if record["status"] == "finished":
            name = os.path.basename(record["source"])
            finished[name] = finished.get(name, 0) + 1
            assert os.path.basename(record["output"]) == name, record
assert sorted(finished) == [f"clip{i:02d}.mp4" for i in range(1, 13)], sorted(finished)
assert all(count == 1 for count in finished.values()), finished
PY

# Slurm: task 4 converts the fifth line of the list; run again, it is skipped as done.
slurm_out=$work/slurm
line=$(SLURM_ARRAY_TASK_ID=4 "$source_dir/scripts/slurm-convert.sh" 404 "$slurm_out" "$work/files.txt")
python3 -c 'import json,sys; r=json.loads(sys.argv[1]); assert r["status"]=="finished" and r["source"].endswith("clip05.mp4"), r' "$line"
[[ -s "$slurm_out/clip05.avi" ]] || fail "the Slurm task wrote no clip05.avi"
again=$(SLURM_ARRAY_TASK_ID=4 "$source_dir/scripts/slurm-convert.sh" 404 "$slurm_out" "$work/files.txt")
python3 -c 'import json,sys; r=json.loads(sys.argv[1]); assert r["status"]=="skipped", r' "$again"
if SLURM_ARRAY_TASK_ID=12 "$source_dir/scripts/slurm-convert.sh" 404 "$slurm_out" "$work/files.txt" 2>/dev/null; then
  fail "a task past the end of the list should fail"
fi
echo "recipes: parallel (killed $killed, resumed) and Slurm passed"
