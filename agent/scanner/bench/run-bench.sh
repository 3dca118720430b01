#!/usr/bin/env bash
# Builds and runs the scanner acquisition benchmark under Wine in a build
# tree of the Windows preset (default: build/windows beside the sources).
#   agent/scanner/bench/run-bench.sh [BUILD_DIR]
# It runs twice: with the device's own 64 KiB blocks and with 1 MiB blocks.
set -euo pipefail
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
build_dir=${1:-$source_dir/build/windows}
if [[ ! -f $build_dir/CMakeCache.txt ]]; then
  cmake --preset windows -B "$build_dir" -S "$source_dir"
fi
cmake --build "$build_dir" --target scanner_bench -j2
for block in 0 1048576; do
  "$source_dir/scripts/wine-run" --prefix "$build_dir/wineprefix" "$build_dir/bin/scanner_bench.exe" $block
done
