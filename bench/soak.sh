#!/usr/bin/env bash
# The long batch run (not part of make test): soak.sh [BUILD_DIR] [FILES] [FOLDER] [SEED]
# Builds SoakBench and runs it; its report ends with the resident size over the run, the threads and
# open files before and after, and the outputs with a problem. The exit status is 0 only when every
# output is valid and nothing leaked.
set -euo pipefail
build=${1:-build}
files=${2:-200}
folder=${3:-${TMPDIR:-/tmp}/tarnel-soak}
seed=${4:-20261210}
cmake --build "$build" --target SoakBench
mkdir -p "$folder"
"$build/bench/SoakBench" "$folder" "$files" "$seed" 2> "$folder/stderr.log" | tee "$folder/report.txt"
