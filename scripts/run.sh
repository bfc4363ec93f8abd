#!/usr/bin/env bash
# Starts Tarnel. On a machine without a display it shows what tarnel-cli does instead, on a
# generated sample.
set -euo pipefail
build=${1:-build}

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  exec "$build/app/tarnel"
fi

cli="$build/cli/tarnel-cli"
sample_dir="$build/sample"
echo "== No display found: the desktop program needs one. A demonstration of tarnel-cli instead =="
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
echo "how a bad option is reported. On a desktop, 'make run' starts the Tarnel window."
