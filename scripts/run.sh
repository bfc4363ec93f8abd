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
echo "Done: made sample media files and showed what tarnel-cli offers so far."
