#!/usr/bin/env bash
# One colour page of a print, from the job's start to the saved, opened
# picture, split by stage: the real scan job (the demo program) against the
# virtual scanner with its mechanical speed off, the real Pagefit.exe and
# image library, and the viewer stand-in. The print (PRINT inches wide and
# high, by default 6x4) lies 3.5 degrees crooked in a scan area an inch
# larger each way, scanned at DPI (default 300); brightness 60 % makes the
# tone pass run. Prints each run's stages and their medians, then times
# ImageMagick doing the same work (deskew, trim, level, JPEG at the same
# quality) on the same page as the scanner delivered it.
#   agent/job/bench/run_page_bench.sh [RUNS] [PHOTO] [DPI] [PRINT]
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
runs=${1:-7}
photo=${2:-/usr/share/palapeli/collection/castle-maintenon.jpg}
scan_dpi=${3:-300}
print=${4:-6x4}
print_width=${print%x*}
print_height=${print#*x}
bin=$root/build/windows/bin
cmake --build --preset windows -j2 --target VelmoraSetup velmora_scan_demo FixtureViewer >/dev/null || exit 1

prefix=$root/build/page-bench-prefix
"$root/scripts/wine-run" --prefix "$root/build/windows/wineprefix" --ensure || exit 1
rm -rf "$prefix" && cp -a "$root/build/windows/wineprefix" "$prefix" || exit 1
# Installed by the product's setup; the demo program runs from the install
# folder, the one the machine defaults name.
"$root/scripts/wine-run" --prefix "$prefix" "$bin/VelmoraSetup.exe" /S </dev/null >/dev/null 2>&1 || exit 1
programs="$prefix/drive_c/Program Files/Velmora"
cp "$bin/velmora_scan_demo.exe" "$programs/" || exit 1
export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all
# The set-up's Wine session has no display: let it end before ours starts.
wineserver -w

xvfb_pid=
cleanup() {
  wineserver -k 2>/dev/null
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$prefix"
}
trap cleanup EXIT
display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [[ -s $display_file ]] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$display_file")"
rm -f "$display_file"
wineserver -p >/dev/null 2>&1 </dev/null &

settings='HKCU\Software\Sheetfed Scanner\VF-600\0000\Velmora'
record=$(winepath -w "$prefix/drive_c/viewer.txt")
for extension in jpg bmp; do
  wine reg add "HKCR\\.$extension" /ve /d VelmoraFixtureViewer /f >/dev/null 2>&1
done
wine reg add 'HKCR\VelmoraFixtureViewer\shell\open\command' /ve /f \
  /d "\"$(winepath -w "$bin/FixtureViewer.exe")\" \"$record\" \"%1\"" >/dev/null 2>&1
feedctl() { wine "$bin/feedctl.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
width=$(identify -format '%w' "$photo")
# PRINT inches wide on paper, whatever the picture's pixel count.
dpi=$(( (width + print_width / 2) / print_width ))
area=0,0,$(( (print_width + 1) * 300 )),$(( (print_height + 1) * 300 ))
scan() { # format (0 bmp, 1 jpg), auto-crop and deskew, brightness
  feedctl reset >/dev/null
  feedctl plug >/dev/null
  feedctl load --x 150 --y 150 --dpi "$dpi" --skew 3.5 --backing 262626 "$(winepath -w "$photo")" >/dev/null
  wine reg add "$settings\\Paper Size" /v Size /d "$area" /f >/dev/null 2>&1
  wine reg add "$settings" /v "Support 600 dpi" /t REG_DWORD /d 1 /f >/dev/null 2>&1
  local name value
  for name in "Current Resolution=$scan_dpi" "Current Format=$1" "Current AutoCrop=$2" "Current AutoDeskew=$2" \
              "Current Brightness=$3"; do
    value=${name#*=}
    wine reg add "$settings\\Setting" /v "${name%=*}" /t REG_DWORD /d "$value" /f >/dev/null 2>&1
  done
  wine "$programs/velmora_scan_demo.exe" </dev/null 2>/dev/null | tr -d '\r'
}
# The agent's first run makes the per-user settings; the bench's own come after it.
scan 1 1 60 >/dev/null
for run in $(seq "$runs"); do
  scan 1 1 60 | sed -n 's/^last page, ms: //p'
done | tee "$root/build/page-bench.times"
echo "median of $runs runs at $scan_dpi dpi, a ${print_width}x${print_height} inch print, ms:"
for stage in acquisition auto-crop tone save viewer job; do
  column=$(sed 's/whole job/job/' "$root/build/page-bench.times" | grep -o "$stage [0-9]*" | awk '{ print $2 }' | sort -n)
  count=$(wc -l <<<"$column")
  echo "  $stage $(sed -n "$(( (count + 1) / 2 ))p" <<<"$column")"
done
rm -f "$root/build/page-bench.times"

# The same page as the scanner delivered it, for ImageMagick: saved as a
# bitmap without auto-crop and with the tone left alone.
raw=$(scan 0 0 50 | sed -n 's/^saved //p' | head -n 1)
[[ -n $raw ]] || { echo "the page could not be saved as a bitmap"; exit 1; }
raw=$(winepath -u "$raw")
quality=$(wine reg query "$settings" /v "JPEG Compression Ratio" 2>/dev/null | tr -d '\r' | awk '$1 == "JPEG" { print $NF }')
quality=$(( ${quality:-0x50} ))
out=$(mktemp --suffix=.jpg)
times=()
for run in $(seq "$runs"); do
  started=$(date +%s%N)
  convert "$raw" -background '#262626' -deskew 40% -fuzz 15% -trim +repage -level 0%,90% \
    -quality "$quality" "$out" || exit 1
  times+=($(( ($(date +%s%N) - started) / 1000000 )))
done
rm -f "$out"
sorted=$(printf '%s\n' "${times[@]}" | sort -n)
echo "  ImageMagick $(sed -n "$(( (runs + 1) / 2 ))p" <<<"$sorted")" \
  "(convert -deskew 40% -fuzz 15% -trim -level 0%,90% -quality $quality on the $(identify -format '%wx%h' "$raw") scan)"
