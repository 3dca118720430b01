#!/usr/bin/env bash
# JPEG save of a 600 dpi A4 colour page (4960 x 7016) at quality 80: Pixkit.dll
# timed inside Windows under Wine against cjpeg on the same pixels.
#   libs/pixkit/bench/jpeg_bench.sh WINDOWS_BUILD_DIR [PHOTO]
# Needs the targets Pixkit and pixkit_jpeg_bench built in WINDOWS_BUILD_DIR.
set -euo pipefail
build=$(cd "$1" && pwd)
photo=${2:-/usr/share/palapeli/collection/citrus-fruits.jpg}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

convert "$photo" -resize '4960x7016!' -depth 8 "$work/page.ppm"
convert "$work/page.ppm" -type TrueColor BMP3:"$work/page.bmp"

prefix=$build/wineprefix
winpath=$(WINEPREFIX=$prefix winepath -w "$work" 2>/dev/null)
result=$("$here/../../../scripts/wine-run" --prefix "$prefix" "$build/bin/pixkit_jpeg_bench.exe" \
  "$winpath\\page.bmp" "$winpath" 80 3 | tr -d '\r')
pixkit_ms=$(awk '/pixkit_jpeg_ms/ {print $2}' <<<"$result")
pixkit_bytes=$(awk '/pixkit_jpeg_bytes/ {print $2}' <<<"$result")

best=
for run in 1 2 3; do
  start=$(date +%s%N)
  cjpeg -quality 80 "$work/page.ppm" >"$work/cjpeg.jpg"
  ms=$(( ($(date +%s%N) - start) / 1000000 ))
  if [[ -z $best || $ms -lt $best ]]; then best=$ms; fi
done
cjpeg_bytes=$(stat -c %s "$work/cjpeg.jpg")
# The page is beyond ImageMagick's default resource limits: decode with
# djpeg and compare with a small program of our own.
c++ -O2 -o "$work/ppm_psnr" "$here/ppm_psnr.cpp"
djpeg -ppm "$work/pixkit-bench-2.jpg" >"$work/pixkit.ppm"
djpeg -ppm "$work/cjpeg.jpg" >"$work/cjpeg.ppm"
psnr_pixkit=$("$work/ppm_psnr" "$work/page.ppm" "$work/pixkit.ppm")
psnr_cjpeg=$("$work/ppm_psnr" "$work/page.ppm" "$work/cjpeg.ppm")

printf '%-28s %10s %12s %10s\n' "4960x7016 colour, quality 80" "time ms" "bytes" "PSNR dB"
printf '%-28s %10s %12s %10s\n' "Pixkit.dll (under Wine)" "$pixkit_ms" "$pixkit_bytes" "$psnr_pixkit"
printf '%-28s %10s %12s %10s\n' "cjpeg (native Linux)" "$best" "$cjpeg_bytes" "$psnr_cjpeg"
