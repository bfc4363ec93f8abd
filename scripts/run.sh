#!/usr/bin/env bash
# Starts Tarnel. Until the desktop shell exists, and on any machine without a display, this runs a
# demonstration of tarnel-cli on a generated sample and says what it did.
set -euo pipefail
build=${1:-build}
cli="$build/cli/tarnel-cli"
sample_dir="$build/sample"

echo "== Tarnel demonstration (the desktop shell is not built yet) =="
echo "-- Generating sample media in $sample_dir"
"$build/tests/fixtures/tarnel-make-fixtures" "$sample_dir"
echo
echo "-- $cli --version"
"$cli" --version
echo
echo "-- $cli --help"
"$cli" --help
echo
sample="$sample_dir/h264_aac.mp4"
echo "-- $cli probe $sample"
"$cli" probe "$sample"
echo
echo "-- $cli --loglevel warning run -i $sample -vcodec libx264 -vpre fast -acodec aac -s 160x120 $sample_dir/demo.mkv"
"$cli" --loglevel warning run -i "$sample" -vcodec libx264 -vpre fast -acodec aac -s 160x120 "$sample_dir/demo.mkv"
echo
echo "-- $cli probe $sample_dir/demo.mkv   (the converted file)"
"$cli" probe "$sample_dir/demo.mkv"
echo
echo "-- $cli run -i $sample -qscale 0 $sample_dir/bad.mkv   (a bad option: the engine's message, status 1)"
"$cli" run -i "$sample" -qscale 0 "$sample_dir/bad.mkv" 2>&1 | tail -n 1 || true
echo
echo "Done: made sample media, showed tarnel-cli's help, probed the sample, converted it to a"
echo "160x120 H.264 + AAC Matroska file ($sample_dir/demo.mkv) and probed the result, and showed"
echo "how a bad option is reported. The desktop shell and the player come with later work."
