#!/bin/bash
# End-to-end tests of install.exe under Wine: the distribution folder installed, upgraded and
# uninstalled in a private Wine prefix on a private X server, in English and under a Japanese
# locale (code page 932).
#
#   tests/e2e/run_install_e2e.sh [BUILD_WIN_DIR]      (default: build/windows)
#
# The scenarios tests/e2e/install/*.wt (each with an optional NAME.check, a shell fragment run
# after it) run in name order in one prefix and build on each other
# (install, upgrade, uninstall); those named *_ja run under LC_ALL=ja_JP.UTF-8. HOME and the XDG
# folders point into the test folder and winemenubuilder is off, so saving shell links never
# touches the host's menus or home. Screenshots go to BUILD_WIN_DIR/e2e-artefacts/install.
# Prints "install-e2e: N passed, M failed" and exits non-zero on a failure.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build/windows}" && pwd)
dist="$build/dist"
driver="$build/tools/wintest.exe"
scenario_timeout=${E2E_TIMEOUT:-120}
test="$build/install-e2e"
art="$build/e2e-artefacts/install"

for f in "$dist/install.exe" "$dist/installE.INF" "$driver"; do
  [ -f "$f" ] || { echo "install-e2e: missing $f (build the MinGW tree first)"; echo "install-e2e: 0 passed, 1 failed"; exit 1; }
done
wine=$(command -v wine64 || true)
[ -n "$wine" ] || wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

# A folder made immutable by an earlier run (the unwritable destination) cannot be removed as is.
[ -d "$test" ] && chattr -R -i "$test" 2>/dev/null
rm -rf "$test" "$art"
mkdir -p "$test/home/Desktop" "$test/home/.config" "$test/home/.local/share" "$art"
export WINEPREFIX="$test/prefix" HOME="$test/home" XDG_CONFIG_HOME="$test/home/.config" \
  XDG_DATA_HOME="$test/home/.local/share" XDG_CACHE_HOME="$test/home/.cache" \
  XDG_DESKTOP_DIR="$test/home/Desktop" XDG_RUNTIME_DIR="$test/home/.run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="

exec 5< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null & echo "pid $!"; wait)
read -r _ xvfb_pid <&5
read -r display <&5 || true
if [ -z "${display:-}" ]; then
  echo "install-e2e: Xvfb did not start"; echo "install-e2e: 0 passed, 1 failed"; exit 1
fi
export DISPLAY=":$display"
cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  chattr -R -i "$test" 2>/dev/null || true
  kill "$xvfb_pid" >/dev/null 2>&1 || true
}
trap cleanup EXIT

echo "install-e2e: preparing a fresh Wine prefix"
timeout 300 "$wine" wineboot -i >/dev/null 2>&1
"$wineserver" -w >/dev/null 2>&1 || true
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
"$wineserver" -w >/dev/null 2>&1 || true

winpath() { echo "Z:${1//\//\\}"; }
# The scripts name controls by the #defines of the programs' resource headers ("ids").
export WT_RESOURCES="$(winpath "$root/resources")"
# The user's shell folders as the installer reads them.
shell_folder() {
  sed -n '/^\[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders\]/,/^\[/p' \
    "$WINEPREFIX/user.reg" | sed -n "s/^\"$1\"=\"\(.*\)\"$/\1/Ip" | sed 's/\\\\/\\/g'
}
export WT_PROGRAMS="$(shell_folder Programs)" WT_STARTUP="$(shell_folder Startup)" \
  WT_DESKTOPDIR="$(shell_folder Desktop)" WT_YEAR=$(date +%Y) WT_MONTH=$(date +%-m) WT_DAY=$(date +%-d)
echo "install-e2e: start menu $WT_PROGRAMS"

# The user's download of the distribution, and a small resident product beside it.
cp -r "$dist" "$test/download"
# A picture for the installed program to open (8-bit grey, a lattice of spots).
/usr/bin/python3 - "$test/download/grid.bmp" <<'PY'
import sys
from PIL import Image
picture = Image.new("L", (128, 128), 40)
for y in range(128):
    for x in range(128):
        if x % 16 < 4 and y % 16 < 4:
            picture.putpixel((x, y), 220)
picture.save(sys.argv[1])
PY
mkdir -p "$test/resident"
cp "$dist/install.exe" "$test/resident/"
cp "$dist/kestral-cli.exe" "$test/resident/clock.exe"
printf '%s\r\n' '[Install]' 'Title=Resident Clock' 'Folder=ResClock' 'TSR=1' 'Uninstall=Uninstall.exe' \
  '1=clock.exe' '2=install.exe,Uninstall.exe' '3=install.INF,Uninstall.INF' '[Reg]' \
  '1=HKEY_LOCAL_MACHINE\SOFTWARE' '2=HKEY_CURRENT_USER\Software\ResClockTest\Clock' \
  '3=HKEY_CURRENT_USER' '4=hkey_current_user\Software\ResClockTest' \
  > "$test/resident/install.INF"
# Hostile and small distributions: the installer, a small program and a description each.
distribution() {  # distribution NAME LINE...
  local dir="$test/hostile/$1"
  shift
  mkdir -p "$dir"
  cp "$dist/install.exe" "$dir/"
  cp "$dist/kestral-cli.exe" "$dir/tool.exe"
  printf '%s\r\n' "$@" > "$dir/install.INF"
}
distribution title '[Install]' 'Title=.\StartUp' 'Folder=Hostile' '1=tool.exe'
distribution windows '[Install]' 'Title=..\..\..\..\..\..\..\..\windows' 'Folder=Hostile' '1=tool.exe'
distribution caption '[Install]' 'Title=Hostile' 'Folder=Hostile' '1=tool.exe' '[Group]' \
  '1=..\..\x,tool.exe'
distribution folder '[Install]' 'Title=Hostile' 'Folder=..' '1=tool.exe'
distribution open '[Install]' 'Title=Hostile' 'Folder=Hostile' 'Open=C:\windows\system32\cmd.exe' \
  '1=tool.exe'
distribution source '[Install]' 'Title=Hostile' 'Folder=Hostile' '1=C:\windows\win.ini,win.ini'
distribution taken '[Install]' 'Title=Taken Tool' 'Folder=TakenTool' 'Uninstall=Uninstall.exe' \
  '1=tool.exe' '2=install.exe,Uninstall.exe' '3=install.INF,Uninstall.INF'
distribution regtool '[Install]' 'Title=Reg Tool' 'Folder=RegTool' 'Uninstall=Uninstall.exe' \
  '1=tool.exe' '2=tool.exe,cell.rgt' '3=install.exe,Uninstall.exe' '4=install.INF,Uninstall.INF' \
  '[Reg]' '1=HKEY_CURRENT_USER\Environment' \
  '2=HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\OtherTool' \
  '3=HKEY_CLASSES_ROOT\.txt' '4=HKEY_CURRENT_USER\Software\RegVendor\RegTool' \
  '5=HKEY_CLASSES_ROOT\.rgt'
distribution small '[Install]' 'Title=Small Tool' 'Folder=SmallTool' 'Uninstall=Uninstall.exe' \
  '1=tool.exe' '2=install.exe,Uninstall.exe' '3=install.INF,Uninstall.INF' '[Group]' \
  '1=Small Tool,tool.exe'
distribution linktool '[Install]' 'Title=Link Tool' 'Folder=LinkTool' 'Uninstall=Uninstall.exe' \
  '1=tool.exe' '2=install.exe,Uninstall.exe' '3=install.INF,Uninstall.INF'
# What other users may plant: links from the host (Wine reports a Unix link to a folder as a
# reparse point) into an administrator's documents; and a destination no one can write to
# (root ignores mode bits: the folder is made immutable).
drive="$WINEPREFIX/drive_c"
mkdir -p "$drive/AdminDocs/Empty" "$drive/LinkTool" "$drive/Locked"
echo secret > "$drive/AdminDocs/secret.doc"
echo index > "$drive/AdminDocs/index.gid"
ln -s "$drive/AdminDocs" "$drive/LinkTool/docs"
ln -s "$drive/AdminDocs" "$drive/LinkDest"
chattr +i "$drive/Locked"
# The host path of a Windows path on drive C.
hostpath() { local p=${1#[Cc]:\\}; echo "$drive/${p//\\//}"; }
export WT_HOSTILE="$(winpath "$test/hostile")"
export WT_DL="$(winpath "$test/download")" WT_RES="$(winpath "$test/resident")" \
  WT_ART="$(winpath "$art")" WT_DESKTOP="$(winpath "$test/home/Desktop")"

# LOGFONTW: 12 pixels, bold, SHIFTJIS_CHARSET, face "IPAPGothic".
caption_font=$(/usr/bin/python3 -c "import struct; print((struct.pack('<5l8B', -12, 0, 0, 0, 700, 0, 0, 0, 128, 0, 0, 0, 0) + 'IPAPGothic'.encode('utf-16-le').ljust(64, b'\\0')).hex())")
japanese_ok=0
locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$' && japanese_ok=1

passed=0
failed=0

# The elevated installer loads no library from its own or the current folder: at load time it
# imports only the system's known libraries and the common controls (which the manifest's
# dependency takes from the system's side-by-side store), and it restricts the search before
# anything else (SetDefaultDllDirectories, looked up by name).
objdump=$(command -v x86_64-w64-mingw32-objdump || command -v objdump)
imports=$("$objdump" -p "$dist/install.exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '[:lower:]' '[:upper:]' |
  sort | tr '\n' ' ')
allowed="ADVAPI32.DLL COMCTL32.DLL COMDLG32.DLL KERNEL32.DLL MSVCRT.DLL OLE32.DLL SHELL32.DLL USER32.DLL "
if [ "$imports" = "$allowed" ] && grep -q SetDefaultDllDirectories "$dist/install.exe"; then
  passed=$((passed + 1)); echo "install-e2e: PASS imports ($imports)"
else
  failed=$((failed + 1)); echo "install-e2e: FAIL imports: $imports (allowed: $allowed)"
  grep -q SetDefaultDllDirectories "$dist/install.exe" || echo "    the library search is not restricted"
fi

# The guarded callbacks the installer's windows run in, called by Win32 itself (Wine's).
support_check="$build/tests/win32/frame_support_check.exe"
if [ ! -f "$support_check" ]; then
  failed=$((failed + 1)); echo "install-e2e: FAIL frame_support (missing $support_check)"
elif support_out=$(timeout 60 "$wine" "$support_check" 2>/dev/null); then
  passed=$((passed + 1)); echo "install-e2e: PASS frame_support ($(tail -n 1 <<<"$support_out"))"
else
  failed=$((failed + 1)); echo "install-e2e: FAIL frame_support"; sed 's/^/    /' <<<"$support_out"
fi

for scenario in "$here"/install/*.wt; do
  name=$(basename "$scenario" .wt)
  locale_env=()
  case "$name" in
    *_ja)
      if [ $japanese_ok = 0 ]; then
        failed=$((failed + 1)); echo "install-e2e: FAIL $name (no ja_JP.UTF-8 locale: run.sh test makes it)"; continue
      fi
      locale_env=(LC_ALL=ja_JP.UTF-8 LANG=ja_JP.UTF-8) ;;
  esac
  # A new wineserver for every scenario: the code page follows the locale it starts with.
  "$wineserver" -k >/dev/null 2>&1 || true
  "$wineserver" -w >/dev/null 2>&1 || true
  if [ ${#locale_env[@]} -gt 0 ]; then
    # Wine draws title bars in its caption font, which has no Japanese: a Japanese face for it.
    env "${locale_env[@]}" "$wine" reg add 'HKCU\Control Panel\Desktop\WindowMetrics' /v CaptionFont \
      /t REG_BINARY /d "$caption_font" /f >/dev/null 2>&1 || true
    "$wineserver" -k >/dev/null 2>&1 || true
    "$wineserver" -w >/dev/null 2>&1 || true
  fi
  log="$test/$name.log"
  export WT_FAILSHOT="$(winpath "$art/$name-failed.bmp")"
  start=$(date +%s)
  (cd "$test" && env "${locale_env[@]}" timeout -k 5 "$scenario_timeout" "$wine" "$driver" "$(winpath "$scenario")") \
    > "$log" 2>&1
  rc=$?
  if [ $rc -eq 0 ] && [ -f "$here/install/$name.check" ]; then
    # What the system itself says after the scenario (its list of programs, pending renames).
    ( set -e; . "$here/install/$name.check" ) >> "$log" 2>&1 || rc=1
  fi
  "$wineserver" -k >/dev/null 2>&1 || true
  if [ ${#locale_env[@]} -gt 0 ]; then
    "$wine" reg delete 'HKCU\Control Panel\Desktop\WindowMetrics' /v CaptionFont /f >/dev/null 2>&1 || true
    "$wineserver" -k >/dev/null 2>&1 || true
  fi
  for bmp in "$art"/*.bmp; do
    [ -f "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" >/dev/null 2>&1 && rm -f "$bmp"
  done
  seconds=$(( $(date +%s) - start ))
  if [ $rc -eq 0 ] && grep -q '^ok' "$log"; then
    passed=$((passed + 1)); echo "install-e2e: PASS $name (${seconds}s)"
  else
    failed=$((failed + 1)); echo "install-e2e: FAIL $name (${seconds}s, exit $rc)"
    sed 's/^/    /' "$log" | tail -20
  fi
done

# Nothing may reach the host's menus or home: the test HOME holds only what Wine made there.
if [ -d "$test/home/.local/share/applications" ] && \
   find "$test/home/.local/share/applications" -name '*.desktop' | grep -q .; then
  failed=$((failed + 1)); echo "install-e2e: FAIL menu entries were written for the host"
fi

echo "install-e2e: $passed passed, $failed failed"
[ $failed -eq 0 ]
