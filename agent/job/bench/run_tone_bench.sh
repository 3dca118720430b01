#!/usr/bin/env bash
# The tone pass with the reduction to 1 bit on a 600 dpi A4 grey page made
# from a photograph, against a plain copy of the file and ImageMagick's level
# and threshold on the same page. Builds the benchmark optimised first.
#   agent/job/bench/run_tone_bench.sh BUILD-DIR [RUNS] [PHOTO]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source=$(cd "$here/../../.." && pwd)
build=${1:?usage: run_tone_bench.sh BUILD-DIR [RUNS] [PHOTO]}
runs=${2:-5}
photo=${3:-/usr/share/palapeli/collection/citrus-fruits.jpg}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake -S "$source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DVELMORA_FOLDERS="common;tests/harness;agent" >/dev/null
cmake --build "$build" --target tone_bench -j2 >/dev/null

convert "$photo" -resize '4960x7016!' -colorspace Gray -depth 8 "gray:$work/page.raw"
"$build/agent/job/tone_bench" "$work" "$runs" "$work/page.raw"
