#!/bin/bash
# End-to-end tests of the Win32 programs under Wine on a private X server.
#
#   tests/e2e/run_e2e.sh [BUILD_WIN_DIR]      (default: build-win)
#
# Needs: wine, wine64, xvfb, imagemagick (import, convert), python3-pil. Each scenario
# tests/e2e/*.wt is a wintest script run with a hard timeout; screenshots are kept in
# BUILD_WIN_DIR/e2e-artefacts. Prints "e2e: N passed, M failed" and exits non-zero on a failure.
# A scenario with a line "# locale: NAME" runs under that locale (ja_JP.UTF-8: code page 932);
# E2E_ONLY=PATTERN runs only the scenarios whose name matches the shell pattern.
# A line "# timeout: SECONDS" raises the hard timeout; NAME.prepare (sourced, with $work set) makes
# files only that scenario needs.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build-win}" && pwd)
app="$build/spectrum/app/VORALIN00.exe"
kestral="$build/crystal/app/KESTRAL.exe"
driver="$build/tools/wintest.exe"
art="$build/e2e-artefacts"
scenario_timeout=${E2E_TIMEOUT:-90}

for f in "$app" "$driver"; do
  [ -f "$f" ] || { echo "e2e: missing $f (build the MinGW tree first)"; echo "e2e: 0 passed, 1 failed"; exit 1; }
done
wine=$(command -v wine64 || true)
[ -n "$wine" ] || wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine)

export WINEPREFIX="$build/e2e-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
rm -rf "$art"
mkdir -p "$art"

# A private X server on a free display.
exec 5< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null & echo "pid $!"; wait)
read -r _ xvfb_pid <&5
read -r display <&5 || true
if [ -z "${display:-}" ]; then
  echo "e2e: Xvfb did not start"; echo "e2e: 0 passed, 1 failed"; exit 1
fi
export DISPLAY=":$display"
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb_pid" >/dev/null 2>&1 || true
}
trap cleanup EXIT

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "e2e: preparing the Wine prefix (first run only)"
  timeout 300 "$wine" wineboot -i >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1 || true
fi

# Windows unmanaged by a window manager: there is none on the private X server, and a managed
# window that closes makes Wine wait two seconds for a manager's answer.
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
# A document the programs open through the shell (Help's readme) is copied to NAME.opened rather
# than handed to the host's browser: a scenario sees which file the shell was asked to open.
"$wine" reg add 'HKLM\Software\Classes\pdffile\shell\open\command' /ve \
  /d 'C:\windows\system32\cmd.exe /c copy "%1" "%1.opened"' /f >/dev/null 2>&1 || true
# The Japanese faces the programs ask for, as a Japanese Windows has them (fonts-ipafont-gothic).
for face in 'ＭＳゴシック:IPAGothic' 'ＭＳ Ｐゴシック:IPAPGothic'; do
  LC_ALL=C.UTF-8 "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
    /v "${face%%:*}" /d "${face#*:}" /f >/dev/null 2>&1 || true
done
wineserver -w >/dev/null 2>&1 || true

winpath() { echo "Z:${1//\//\\}"; }
# The scripts name controls by the #defines of the programs' resource headers ("ids").
export WT_RESOURCES="$(winpath "$root/resources")"

# Sample files made here, never downloaded.
samples="$build/e2e-samples"
rm -rf "$samples"
mkdir -p "$samples"
/usr/bin/python3 "$here/make_samples.py" "$samples" || { echo "e2e: 0 passed, 1 failed"; exit 1; }

passed=0
failed=0
for scenario in "$here"/*.wt; do
  name=$(basename "$scenario" .wt)
  # shellcheck disable=SC2254
  case "$name" in ${E2E_ONLY:-*}) ;; *) continue ;; esac
  locale=$(sed -n 's/^# locale: *//p' "$scenario" | head -n 1)
  # A scenario with a line "# timeout: SECONDS" gets longer than the default (a big image).
  timeout_here=$(sed -n 's/^# timeout: *//p' "$scenario" | head -n 1)
  if [ -n "$locale" ] && ! locale -a 2>/dev/null | tr -d - | grep -qixF "$(tr -d - <<<"$locale")"; then
    failed=$((failed + 1)); echo "e2e: FAIL $name (locale $locale missing: ./run.sh test generates it)"; continue
  fi
  case "$name" in kestral_*) [ -f "$kestral" ] || { failed=$((failed + 1)); echo "e2e: FAIL $name (no $kestral)"; continue; } ;; esac
  work="$build/e2e-work/$name"
  rm -rf "$work"
  mkdir -p "$work"
  cp "$app" "$work/VORALIN00.EXE"
  cp "$samples"/* "$work/"
  [ -f "$kestral" ] && cp "$kestral" "$work/KESTRAL.EXE"
  cp "$root"/tests/data/crystal/*.txt "$work/"
  cp "$root"/tests/data/cif/*.cif "$work/"
  # The readmes one folder down: a scenario copies one beside the program when Help should find it.
  mkdir -p "$work/guides"
  for pdf in "$build"/spectrum/app/*.PDF "$build"/crystal/app/*.PDF; do
    [ -f "$pdf" ] && cp "$pdf" "$work/guides/"
  done
  cp "$scenario" "$work/script.wt"
  # NAME.prepare makes files only that scenario needs, beside the program.
  if [ -f "$here/$name.prepare" ]; then
    ( set -e; . "$here/$name.prepare" ) > "$work/prepare.log" 2>&1 || {
      failed=$((failed + 1)); echo "e2e: FAIL $name (prepare)"; sed 's/^/    /' "$work/prepare.log" | tail -20; continue; }
  fi
  # A scenario that names a screen size ("# screen: 1440x1080") gets its own X server of that size.
  screen=$(sed -n 's/^# screen: *//p' "$scenario" | head -n 1)
  shared_display=$DISPLAY own_xvfb=
  if [ -n "$screen" ]; then
    exec 6< <(Xvfb -displayfd 1 -screen 0 "${screen}x24" -nolisten tcp 2>/dev/null & echo "pid $!"; wait)
    read -r _ own_xvfb <&6
    read -r own_display <&6 || true
    wineserver -k >/dev/null 2>&1 || true
    export DISPLAY=":$own_display"
  fi
  export WT_APP="$(winpath "$work/VORALIN00.EXE")" WT_WORK="$(winpath "$work")" WT_ART="$(winpath "$art")" \
    WT_KESTRAL="$(winpath "$work/KESTRAL.EXE")"
  start=$(date +%s)
  (cd "$work" && [ -n "$locale" ] && export LC_ALL="$locale"
   timeout -k 5 "${timeout_here:-$scenario_timeout}" "$wine" "$driver" "$(winpath "$work/script.wt")") \
    > "$work/driver.log" 2>&1
  rc=$?
  import -window root "$art/$name-end.png" >/dev/null 2>&1 || true
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "$own_xvfb" ]; then
    kill "$own_xvfb" >/dev/null 2>&1 || true
    export DISPLAY=$shared_display
  fi
  for bmp in "$art"/*.bmp; do
    [ -f "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" >/dev/null 2>&1 && rm -f "$bmp"
  done
  if [ -f "$here/$name.check" ] && [ $rc -eq 0 ]; then
    # Not part of an || list: there set -e would be ignored and only the last line would count.
    ( set -e; . "$here/$name.check" ) > "$work/check.log" 2>&1
    check_rc=$?
    [ $check_rc -eq 0 ] || rc=$check_rc
    cat "$work/check.log" >> "$work/driver.log"
  fi
  seconds=$(( $(date +%s) - start ))
  if [ $rc -eq 0 ] && grep -q '^ok' "$work/driver.log"; then
    passed=$((passed + 1)); echo "e2e: PASS $name (${seconds}s)"
  else
    failed=$((failed + 1)); echo "e2e: FAIL $name (${seconds}s, exit $rc)"
    sed 's/^/    /' "$work/driver.log" | tail -20
  fi
done

echo "e2e: $passed passed, $failed failed"
[ $failed -eq 0 ]
