#!/usr/bin/env bash
# End-to-end tests of VelmoraSetup.exe: each scenario runs the real setup (and
# uninstaller) silently in a fresh copy of the build's Wine prefix, then reads
# back the files, the registry (from the prefix's registry files, once its
# Wine server has ended and saved them) and what the agent's own settings
# code makes of them (settings_probe.exe, run from the install folder).
#
#   setup_test.sh SCENARIO
#
# Registered by installer/CMakeLists.txt, which passes in the environment:
#   VELMORA_BIN            the build's program folder (setup, probe, files)
#   VELMORA_BASE_PREFIX    the build's Wine prefix, copied for each scenario
#   VELMORA_WINE_RUN       scripts/wine-run
#   VELMORA_SETUP_CONFIG   installer/setup_config.cmake of the build
#   VELMORA_BUILD_SETUP    installer/build_setup.cmake
#   VELMORA_TEST_WORK      a scratch folder of the build tree
set -uo pipefail
scenario=${1:?scenario}
bin=$VELMORA_BIN
work=$VELMORA_TEST_WORK/$scenario
setup=$bin/VelmoraSetup.exe
failures=0

# Reports the line of the scenario's check, not of the helper it went through.
fail() {
  local frame=1
  while [[ ${FUNCNAME[frame]:-} == expect_* ]]; do frame=$((frame + 1)); done
  echo "FAIL ($scenario, line ${BASH_LINENO[frame - 1]}): $*"
  failures=$((failures + 1))
}
expect_eq() { # expected actual what
  [[ $1 == "$2" ]] && return
  if [[ $1 == *$'\n'* || $2 == *$'\n'* ]]; then
    fail "$3: differs (< expected, > got):"
    diff <(printf '%s\n' "$1") <(printf '%s\n' "$2") | grep '^[<>]'
  else
    fail "$3: expected '$1', got '$2'"
  fi
}
expect_file() { [[ -e $1 ]] || fail "missing: $1"; }
expect_no_file() { [[ ! -e $1 ]] || fail "still there: $1"; }

# ---------------------------------------------------------------------------
# Prefixes

prefixes=()
cleanup() {
  local p
  for p in "${prefixes[@]}"; do
    WINEPREFIX=$p wineserver -k 2>/dev/null
    rm -rf "$p"
  done
}
trap cleanup EXIT

"$VELMORA_WINE_RUN" --prefix "$VELMORA_BASE_PREFIX" --ensure || exit 1
rm -rf "$work" && mkdir -p "$work"

# fresh_prefix NAME: a copy of the build's prefix; sets $prefix, and
# $baseline to our registry places as the copy holds them (other test
# programs of the build's prefix may have left empty keys there).
fresh_prefix() {
  prefix=$work/$1
  prefixes+=("$prefix")
  cp -a "$VELMORA_BASE_PREFIX" "$prefix" || exit 1
  baseline=$(ours_in_registry)
}

# The Windows user of the prefix (named after whoever made the build's prefix).
prefix_user() {
  local desktop
  for desktop in "$prefix"/drive_c/users/*/Desktop; do
    [[ $desktop == */Public/* ]] || { basename "$(dirname "$desktop")"; return; }
  done
}
win() { "$VELMORA_WINE_RUN" --prefix "$prefix" "$@" </dev/null 2>/dev/null; }
unix_path() { WINEPREFIX=$prefix winepath -u "$1" 2>/dev/null; }
# Waits for every program of the prefix to end and its server to save the registry.
settle() { WINEPREFIX=$prefix timeout 60 wineserver -w; }

# A setup like the build's, with another "TimeStamp": a newer or older build.
setup_with_stamp() { # stamp output
  cmake -DCONFIG="$VELMORA_SETUP_CONFIG" -DOUT="$2" -DSTAMP="$1" -P "$VELMORA_BUILD_SETUP" >/dev/null || exit 1
}

# The folder goes last and unquoted, as the setup wants it: Wine quotes an
# argument holding blanks, so the folder's words are passed one by one and
# the command line joins them with single blanks.
# Its output goes nowhere: an agent the setup starts inherits it, and would
# hold the caller's pipe open.
install_silently() { # setup [folder]; echoes the exit code
  if [[ -n ${2:-} ]]; then
    local -a words
    read -r -a words <<<"/D=$2"
    win "$1" /S "${words[@]}" >/dev/null
  else
    win "$1" /S >/dev/null
  fi
  echo $?
}

# The uninstaller copies itself to the temporary folder and returns at once,
# as it does for a user; settle waits for the copy to finish. Fails when a
# program of the prefix still runs a minute later.
uninstall_silently() { # folder
  win "$1\\Uninstall.exe" /S
  settle
}

# Runs the agent's settings code from the install folder, under a name no
# longer than the agent's own so the deepest folder still fits.
probe() { # folder args...
  local folder=$1
  shift
  cp "$bin/settings_probe.exe" "$(unix_path "$folder")/probe.exe" || return 99
  win "$folder\\probe.exe" "$@" | tr -d '\r'
  local status=${PIPESTATUS[0]}
  rm -f "$(unix_path "$folder")/probe.exe"
  return "$status"
}

# ---------------------------------------------------------------------------
# The registry as saved in the prefix's files, one "key|name|value" line per
# value under keys starting with PREFIX; strings keep their quotes and
# numbers read dword:xxxxxxxx, as Wine stores them. Each key Wine saves also
# prints as "key|": those with values, and empty ones with no subkeys (so
# an empty key left behind shows).
registry() { # system|user PREFIX
  # Through the environment: awk -v would read the backslashes as escapes.
  want=$2 awk '
    BEGIN { want = ENVIRON["want"] }
    function unescape(s) { gsub(/\\\\/, "\001", s); gsub(/\001/, "\\", s); return s }
    /^\[/ {
      key = $0; sub(/^\[/, "", key); sub(/\][^\]]*$/, "", key); key = unescape(key)
      inside = (index(key, want) == 1)
      if (inside) print key "|"
      next
    }
    inside && /^"/ {
      line = $0
      match(line, /^"([^"\\]|\\.)*"=/)
      name = substr(line, 2, RLENGTH - 3); value = substr(line, RLENGTH + 1)
      print key "|" unescape(name) "|" unescape(value)
    }
  ' "$prefix/$1.reg" | sort
}

# What the setup writes: the machine's keys and the logon start.
setup_registry() {
  {
    registry system 'Software\Sheetfed Scanner'
    registry system 'Software\Tessaro Corp'
    registry system 'Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmora'
    registry user 'Software\Microsoft\Windows\CurrentVersion\Run' | grep '|Velmora|'
  } | sort
}
# And with the user's copy the agent made of the machine defaults.
ours_in_registry() {
  { setup_registry; registry user 'Software\Sheetfed Scanner'; } | sort
}
# What of ours is there now and was not in the fresh copy.
new_in_registry() {
  comm -13 <(printf '%s\n' "$baseline" | sed '/^$/d') <(ours_in_registry)
}

machine_stamp() {
  registry system 'Software\Sheetfed Scanner\VF-600\0000' | sed -n 's/^[^|]*\\0000|TimeStamp|"\(.*\)"$/\1/p'
}
user_stamp() {
  registry user 'Software\Sheetfed Scanner\VF-600\0000' | sed -n 's/^[^|]*\\0000|TimeStamp|"\(.*\)"$/\1/p'
}

shipped_files() { # every file of the build the setup ships, by name
  sed -n 's/^  !insertmacro ${DO} "\(.*\)" "\(.*\)"$/\2/p' "$(dirname "$VELMORA_SETUP_CONFIG")/shipped_files.nsh" | sort
}
shipped_source() { # name -> the build's file
  sed -n "s/^  !insertmacro \${DO} \"\\(.*\\)\" \"$1\"\$/\\1/p" "$(dirname "$VELMORA_SETUP_CONFIG")/shipped_files.nsh"
}

# What a silent install into FOLDER leaves in the registry, exactly.
expected_registry() { # folder stamp
  local f=$1 stamp=$2 base='Software\Sheetfed Scanner' s
  s="$base\\VF-600\\0000\\Velmora"
  sort <<EOF
$base\\VF-600\\0000|
$base\\VF-600\\0000|System Directory|"$f\\"
$base\\VF-600\\0000|TimeStamp|"$stamp"
$s|
$s|Default Processor|dword:00000001
$s|Enable Warning|dword:00000001
$s|Folder Name|"Velmora Scans"
$s|Product Model|"VF-600"
$s|VID_PID|"VID_F0E5&PID_5CA7"
$s\\Paper Size|
$s\\Paper Size|Size|"0,0,2480,3508"
$s\\Setting|
$s\\Setting|Current AutoCrop|dword:00000001
$s\\Setting|Current AutoDeskew|dword:00000001
$s\\Setting|Current Format|dword:00000001
$s\\Setting|Current Resolution|dword:0000012c
$s\\Setting|Current ScanMode|dword:00000002
Software\\Tessaro Corp\\Common Files|
Software\\Tessaro Corp\\Common Files|Image Library|"$f\\Pixkit.dll"
Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmora|
Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmora|DisplayIcon|"$f\\Velmora.exe"
Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmora|DisplayName|"Velmora"
Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmora|DisplayVersion|"$stamp"
Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmora|InstallLocation|"$f"
Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmora|NoModify|dword:00000001
Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmora|NoRepair|dword:00000001
Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmora|QuietUninstallString|"\\"$f\\Uninstall.exe\\" /S"
Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmora|UninstallString|"\\"$f\\Uninstall.exe\\""
Software\\Microsoft\\Windows\\CurrentVersion\\Run|Velmora|"\\"$f\\Velmora.exe\\""
EOF
}

# Files, registry and the agent's view after a silent install into FOLDER.
check_installed() { # folder stamp
  local folder=$1 stamp=$2 dir
  dir=$(unix_path "$folder")
  local name
  while read -r name; do
    cmp -s "$dir/$name" "$(shipped_source "$name")" || fail "$name is not the build's file"
  done < <(shipped_files)
  expect_eq $'[SYSTEM]\r\nModule=VF-600\r' "$(cat "$dir/Module.ini")" "Module.ini"
  expect_file "$dir/Uninstall.exe"
  local menu
  menu=$(unix_path 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Velmora')
  expect_file "$menu/Uninstall Velmora.lnk"
  settle
  expect_eq "$(expected_registry "$folder" "$stamp")" "$(setup_registry)" "registry after install"

  local shown
  shown=$(probe "$folder" show)
  expect_eq 0 $? "the agent's settings code in $folder"
  grep -qx 'Current Resolution=300' <<<"$shown" || fail "the user's copy lacks the machine defaults: $shown"
  grep -qx 'image library: loaded' <<<"$shown" || fail "image library: $shown"
  settle
  expect_eq "$stamp" "$(user_stamp)" "the user's copy's stamp"
}

# ---------------------------------------------------------------------------
# Scenarios

# Silent installs into the default folder, one with blanks, and one as deep
# as the agent's path buffers allow; one character deeper is refused with
# nothing written.
scenario_install_folders() {
  local max_length stamp
  max_length=$(sed -n 's/^set(MAX_FOLDER_LENGTH \([0-9]*\))$/\1/p' "$VELMORA_SETUP_CONFIG")
  stamp=$(cat "$(dirname "$VELMORA_SETUP_CONFIG")/VelmoraSetup.stamp")
  [[ -n $stamp ]] || { fail "the build left no stamp beside the setup"; return; }

  local deep='C:\Velmora Long'
  while [[ ${#deep} -lt $max_length ]]; do deep="$deep\\Folder of Photo Tools"; done
  deep=${deep:0:$max_length}
  deep=${deep% } # a folder name may not end in a blank
  while [[ ${#deep} -lt $max_length ]]; do deep="${deep}x"; done

  local case folder
  for case in 'default|C:\Program Files\Velmora' 'blanks|C:\My Photo Tools\Velmora Agent 2' "deep|$deep"; do
    folder=${case#*|}
    fresh_prefix "${case%%|*}"
    if [[ ${case%%|*} == default ]]; then
      expect_eq 0 "$(install_silently "$setup")" "install into the default folder"
    else
      expect_eq 0 "$(install_silently "$setup" "$folder")" "install into $folder"
    fi
    check_installed "$folder" "$stamp"
  done

  fresh_prefix too-deep
  expect_eq 5 "$(install_silently "$setup" "${deep}y")" "install into a folder one character too deep"
  settle
  expect_eq "" "$(new_in_registry)" "registry after the refused install"
  expect_no_file "$(unix_path "${deep}y")"
}

# The same build again keeps what the user set; a newer build replaces the
# files, writes its stamp and so resets the user's copy.
scenario_reinstall_and_upgrade() {
  local folder='C:\Program Files\Velmora' old=$work/old-setup.exe new=$work/new-setup.exe
  setup_with_stamp "2026-11-30 08:00:00 UTC" "$old"
  setup_with_stamp "2026-12-07 09:00:00 UTC" "$new"
  fresh_prefix upgrade
  expect_eq 0 "$(install_silently "$old")" "install of the older build"
  probe "$folder" show >/dev/null
  expect_eq 0 "$(probe "$folder" set "Current Brightness" 77; echo $?)" "the user sets a brightness"

  expect_eq 0 "$(install_silently "$old")" "same build again"
  grep -qx 'Current Brightness=77' <<<"$(probe "$folder" show)" || fail "the same build's reinstall lost the user's setting"
  settle
  expect_eq "2026-11-30 08:00:00 UTC" "$(user_stamp)" "user stamp after the same build"

  # A damaged file must come back as the build's.
  local dir
  dir=$(unix_path "$folder")
  printf 'damaged' >"$dir/VelmoraRes.dll"
  expect_eq 0 "$(install_silently "$new")" "upgrade"
  settle
  expect_eq "2026-12-07 09:00:00 UTC" "$(machine_stamp)" "machine stamp after the upgrade"
  local shown
  shown=$(probe "$folder" show)
  grep -q '^Current Brightness=' <<<"$shown" && fail "the upgrade kept the user's old brightness: $shown"
  grep -qx 'Current Resolution=300' <<<"$shown" || fail "the user's copy lacks the new defaults: $shown"
  check_installed "$folder" "2026-12-07 09:00:00 UTC"
}

# An upgrade while the agent runs: the setup asks it to quit through its quit
# switch, replaces the files once it is gone, and starts it again; the new
# agent finds the new stamp and starts the user afresh from the new defaults.
scenario_upgrade_running_agent() {
  [[ -n ${DISPLAY:-} ]] || { echo "no display: skipped"; exit 77; }
  local folder='C:\Program Files\Velmora' old=$work/old-setup.exe new=$work/new-setup.exe
  setup_with_stamp "2026-11-30 08:00:00 UTC" "$old"
  setup_with_stamp "2026-12-07 09:00:00 UTC" "$new"
  fresh_prefix running
  expect_eq 0 "$(install_silently "$old")" "install of the older build"
  # A plugged, calibrated scanner: the agent starts straight into its tray.
  win "$folder\\feedctl.exe" reset >/dev/null
  win "$folder\\feedctl.exe" plug >/dev/null
  local calibration
  calibration=$(unix_path 'C:\users\Public\Documents\VF-600\shading.bin')
  mkdir -p "$(dirname "$calibration")" && printf 'calibrated' >"$calibration"
  expect_eq 0 "$(probe "$folder" set "Current Brightness" 77; echo $?)" "the user sets a brightness"

  win "$folder\\Velmora.exe" >/dev/null &
  local first_agent=$!
  expect_eq 0 "$(probe "$folder" agent-window 20000; echo $?)" "the older agent's tray window"
  printf 'damaged' >"$(unix_path "$folder")/Pagefit.exe"

  expect_eq 0 "$(install_silently "$new")" "upgrade over the running agent"
  local waited=0
  while kill -0 "$first_agent" 2>/dev/null && [[ $waited -lt 100 ]]; do sleep 0.1; waited=$((waited + 1)); done
  kill -0 "$first_agent" 2>/dev/null && fail "the older agent still runs after the upgrade"
  wait "$first_agent"
  expect_eq 0 $? "the older agent's exit code (it quit, it was not killed)"
  cmp -s "$(unix_path "$folder")/Pagefit.exe" "$(shipped_source Pagefit.exe)" || fail "Pagefit.exe was not replaced"
  expect_eq 0 "$(probe "$folder" agent-window 20000; echo $?)" "the agent started again by the setup"

  # The new agent made the user's copy afresh from the new defaults.
  local copy
  copy=$(win reg query 'HKCU\Software\Sheetfed Scanner\VF-600\0000' /s | tr -d '\r')
  grep -q 'TimeStamp.*REG_SZ.*2026-12-07 09:00:00 UTC' <<<"$copy" || fail "the running agent's copy is not the new one: $copy"
  grep -q 'Current Brightness' <<<"$copy" && fail "the user's brightness survived the new build's defaults"

  # The Start-menu entry for the settings opens them in the running agent.
  win "$folder\\VelmoraSettings.exe" >/dev/null
  expect_eq 0 $? "the settings entry's exit code"
  expect_eq 0 "$(probe "$folder" agent-dialog 20000; echo $?)" "the agent's settings dialog, opened from the Start menu"

  # Uninstalling stops the agent before its files go: nothing runs on after it.
  uninstall_silently "$folder" || fail "a program of the prefix still runs after the uninstall"
  expect_no_file "$(unix_path "$folder")"
  expect_eq "" "$(new_in_registry)" "registry after uninstalling under a running agent"
}

# The Start-menu entry for the settings with no agent running: it starts the
# installed agent and has it open its settings dialog.
scenario_settings_entry() {
  [[ -n ${DISPLAY:-} ]] || { echo "no display: skipped"; exit 77; }
  local folder='C:\My Photo Tools\Velmora'
  fresh_prefix settings
  expect_eq 0 "$(install_silently "$setup" "$folder")" "install"
  win "$folder\\feedctl.exe" reset >/dev/null
  win "$folder\\feedctl.exe" plug >/dev/null
  local calibration
  calibration=$(unix_path 'C:\users\Public\Documents\VF-600\shading.bin')
  mkdir -p "$(dirname "$calibration")" && printf 'calibrated' >"$calibration"
  local menu
  menu=$(unix_path 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Velmora')
  expect_file "$menu/Velmora Settings.lnk"
  grep -q 'VelmoraSettings.exe' "$menu/Velmora Settings.lnk" || fail "the settings entry does not start VelmoraSettings.exe"

  win "$folder\\VelmoraSettings.exe" >/dev/null
  expect_eq 0 $? "the settings entry's exit code"
  expect_eq 0 "$(probe "$folder" agent-window 20000; echo $?)" "the agent the settings entry started"
  expect_eq 0 "$(probe "$folder" agent-dialog 20000; echo $?)" "its settings dialog"
  win "$folder\\Velmora.exe" q >/dev/null
  settle || fail "a program of the prefix still runs after the quit switch"
}

# Installing into another folder removes the first installation.
scenario_move() {
  local first='C:\Program Files\Velmora' second='C:\Scanner\Velmora'
  fresh_prefix move
  expect_eq 0 "$(install_silently "$setup")" "first install"
  expect_eq 0 "$(install_silently "$setup" "$second")" "install into another folder"
  expect_no_file "$(unix_path "$first")"
  settle
  local stamp
  stamp=$(machine_stamp)
  check_installed "$second" "$stamp"
}

# Uninstall removes every file and key of ours and nothing of the user's:
# pictures, calibration data, the virtual scanner's state, and a value
# another program keeps in the scanner maker's shared key.
scenario_uninstall() {
  local folder='C:\Program Files\Velmora'
  fresh_prefix uninstall
  local reg=$work/other-program.reg
  printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Tessaro Corp\\Common Files]\r\n"Other Library"="C:\\\\Other\\\\other.dll"\r\n' >"$reg"
  win regedit /S "$(WINEPREFIX=$prefix winepath -w "$reg" 2>/dev/null)"
  expect_eq 0 "$(install_silently "$setup")" "install"
  probe "$folder" show >/dev/null

  local keep=(
    'C:\users\Public\Documents\VF-600\shading.bin'
    "C:\\users\\$(prefix_user)\\Desktop\\Velmora Scans\\Image00001.jpg"
    'C:\ProgramData\Velmora\Virtual Feeder\device-state.bin'
    "$folder\\Image00002.jpg"
  )
  local file path
  for file in "${keep[@]}"; do
    path=$(unix_path "$file")
    mkdir -p "$(dirname "$path")" && printf 'precious' >"$path"
  done

  uninstall_silently "$folder"
  for file in "${keep[@]}"; do
    expect_eq precious "$(cat "$(unix_path "$file")" 2>/dev/null)" "kept $file"
  done
  local left
  left=$(ls -A "$(unix_path "$folder")" 2>/dev/null | tr '\n' ' ')
  expect_eq "Image00002.jpg " "$left" "left in the install folder"
  expect_no_file "$(unix_path 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Velmora')"
  expect_eq $'Software\\Tessaro Corp\\Common Files|\nSoftware\\Tessaro Corp\\Common Files|Other Library|"C:\\Other\\other.dll"' \
    "$(new_in_registry)" "registry after uninstall"
}

# Older Windows than the build targets: a clear refusal, nothing written.
scenario_unsupported_windows() {
  fresh_prefix winxp
  win winecfg /v winxp
  settle
  expect_eq 3 "$(install_silently "$setup")" "install on Windows XP"
  settle
  expect_eq "" "$(new_in_registry)" "registry after the refusal"
  expect_no_file "$(unix_path 'C:\Program Files\Velmora')"
}

case $scenario in
  install_folders | reinstall_and_upgrade | move | uninstall | unsupported_windows | upgrade_running_agent | \
    settings_entry)
    "scenario_$scenario" ;;
  *) echo "setup_test: no scenario '$scenario'" >&2; exit 2 ;;
esac
if [[ $failures -gt 0 ]]; then
  echo "$scenario: $failures check(s) failed"
  exit 1
fi
echo "$scenario: passed"
