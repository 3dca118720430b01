#!/usr/bin/env bash
# One 300 dpi colour page of a 6 x 4 inch print, from the job's start to the
# saved, opened picture, split by stage: the real scan job (the demo program)
# against the virtual scanner with its mechanical speed off, the real
# Pagefit.exe and image library, and the viewer stand-in. The print lies
# 3.5 degrees crooked in a 7 x 5 inch scan area; brightness 60 % makes the
# tone pass run. Prints each run's stages and their medians.
#   agent/job/bench/run_page_bench.sh [RUNS] [PHOTO]
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
runs=${1:-7}
photo=${2:-/usr/share/palapeli/collection/castle-maintenon.jpg}
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
wine reg add "HKCR\\.jpg" /ve /d VelmoraFixtureViewer /f >/dev/null 2>&1
wine reg add 'HKCR\VelmoraFixtureViewer\shell\open\command' /ve /f \
  /d "\"$(winepath -w "$bin/FixtureViewer.exe")\" \"$record\" \"%1\"" >/dev/null 2>&1
feedctl() { wine "$bin/feedctl.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
width=$(identify -format '%w' "$photo")
# 6 inches wide on paper, whatever the picture's pixel count.
dpi=$(( (width + 3) / 6 ))

for run in $(seq "$runs"); do
  feedctl reset >/dev/null
  feedctl plug >/dev/null
  feedctl load --x 150 --y 150 --dpi "$dpi" --skew 3.5 --backing 262626 "$(winepath -w "$photo")" >/dev/null
  # The agent's first run makes the per-user settings; the bench's own come after it.
  if [[ $run -gt 1 ]]; then
    wine reg add "$settings\\Paper Size" /v Size /d 0,0,2100,1500 /f >/dev/null 2>&1
    wine reg add "$settings\\Setting" /v "Current Brightness" /t REG_DWORD /d 60 /f >/dev/null 2>&1
  fi
  wine "$programs/velmora_scan_demo.exe" </dev/null 2>/dev/null | tr -d '\r' | sed -n 's/^last page, ms: //p'
done | tail -n +2 | tee "$root/build/page-bench.times"
echo "median of $((runs - 1)) runs (the first makes the settings), ms:"
for stage in acquisition auto-crop tone save viewer job; do
  column=$(sed 's/whole job/job/' "$root/build/page-bench.times" | grep -o "$stage [0-9]*" | awk '{ print $2 }' | sort -n)
  count=$(wc -l <<<"$column")
  echo "  $stage $(sed -n "$(( (count + 1) / 2 ))p" <<<"$column")"
done
rm -f "$root/build/page-bench.times"
