#!/usr/bin/env bash
# Fuzzes one target: run.sh FUZZ_BUILD_DIR TARGET SECONDS [WORK_DIR [LIBFUZZER_OPTION...]]
# The corpus grows in WORK_DIR/TARGET/corpus (kept between runs), findings land in
# WORK_DIR/TARGET/findings, and the log in WORK_DIR/TARGET/log.
set -euo pipefail
source_dir=$(realpath "$(dirname "$0")/..")
build=$(realpath "$1")
target=$2
seconds=$3
work=${4:-$build/fuzz/work}
extra=("${@:5}")

case $target in
  OpenAndCopyFuzzer | ProbeFuzzer | PlayerFuzzer) seeds=media max_len=131072 ;;
  SettingsFuzzer) seeds=settings max_len=65536 ;;
  CliArgumentsFuzzer) seeds=cli max_len=4096 ;;
  *) echo "unknown fuzz target $target" >&2; exit 2 ;;
esac
# A player session plays in real time between its seeks; the other targets answer at once.
timeout=$([[ $target == PlayerFuzzer ]] && echo 60 || echo 30)

dir=$work/$target
mkdir -p "$dir/corpus" "$dir/findings"
cd "$dir"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$source_dir/tests/lsan.supp
"$build/fuzz/$target" -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb=2048 -max_len="$max_len" \
  -print_final_stats=1 -artifact_prefix="$dir/findings/" "${extra[@]}" corpus "$build/fuzz/seeds/$seeds" 2>&1 | tee log | tail -20
