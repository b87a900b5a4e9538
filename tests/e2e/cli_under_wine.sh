#!/usr/bin/env bash
# The Windows builds of the command-line tools, run under Wine, must write the same bytes as the
# native builds for the same steps.
# Usage: cli_under_wine.sh NATIVE_BUILD_DIR WINDOWS_BUILD_DIR
set -uo pipefail
native=$1
windows=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The same private prefix as the end-to-end tests of the programs.
export WINEPREFIX=$windows/e2e-prefix WINEARCH=win64
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
command -v wine >/dev/null || { echo "wine-cli: 0 passed, 1 failed (wine is not installed)"; exit 1; }

cp "$root/tests/data/sample/lattice.bmp" "$work/lattice.bmp"
cp "$root/tests/data/crystal/srtio3.txt" "$root/tests/data/crystal/zno_hex.txt" "$work/"
cd "$work"
passed=0
failed=0
check() {  # check NAME OUTPUT COMMAND ARGS...
    local name=$1 out=$2
    shift 2
    if ! "$native/cli/$1" "${@:2}" "native-$out" 2>/dev/null; then
        echo "FAIL $name: native run failed"; failed=$((failed + 1)); return
    fi
    local status=0
    timeout 300 wine "$windows/cli/$1.exe" "${@:2}" "wine-$out" >wine-run.log 2>&1 || status=$?
    if [ $status -ne 0 ]; then
        # What Wine or the tool said, to tell a fault of ours from one of Wine's.
        echo "FAIL $name: the Windows build failed under Wine (status $status)"
        tail -n 5 wine-run.log | tr -d '\r' | sed 's/^/     /'
        failed=$((failed + 1)); return
    fi
    if cmp -s "native-$out" "wine-$out"; then
        echo "ok   $name"; passed=$((passed + 1))
    else
        echo "FAIL $name: outputs differ"; failed=$((failed + 1))
    fi
}
# The output name comes last, so the commands are written with the input first.
check "voralin00 normalise" n.bmp voralin00-cli normalise lattice.bmp
check "voralin00 spectrum" s.bmp voralin00-cli spectrum lattice.bmp --log --rainbow
check "voralin00 filter" f.bmp voralin00-cli filter lattice.bmp --filter band-pass --wa 0.1 --wb 0.4
check "voralin00 adjust" a.bmp voralin00-cli adjust lattice.bmp --contrast 3 --brightness -2
check "voralin00 linewave" l.txt voralin00-cli linewave lattice.bmp --angle 33
# kestral-cli writes several files a run: compare every file each build wrote.
check_slice() {  # check_slice NAME CRYSTAL U V W
    local name=$1 crystal=$2 dir
    dir=$(tr -c 'A-Za-z0-9\n' '_' <<<"$1")
    shift 2
    local ok=1 f
    for side in native wine; do
        mkdir -p "$side-$dir"
        local tool="$native/cli/kestral-cli"
        local run=()
        [ "$side" = wine ] && { tool="$windows/cli/kestral-cli.exe"; run=(timeout 300 wine); }
        if ! (cd "$side-$dir" && "${run[@]}" "$tool" slice "../$crystal" --uvw "$@" --reference ref.txt \
                --normal slice.dat --convergent beam.xyz --pages page.bmp --crystal-out crystal.txt \
                >/dev/null 2>&1); then
            echo "FAIL $name: the $side build failed"; ok=0
        fi
    done
    for f in "native-$dir"/*; do
        cmp -s "$f" "wine-$dir/$(basename "$f")" || { echo "FAIL $name: $(basename "$f") differs"; ok=0; }
    done
    [ "$(ls "native-$dir" | wc -l)" = "$(ls "wine-$dir" | wc -l)" ] || { echo "FAIL $name: file lists differ"; ok=0; }
    if [ $ok = 1 ]; then echo "ok   $name ($(ls "native-$dir" | wc -l) files)"; passed=$((passed + 1)); else failed=$((failed + 1)); fi
}
check_slice "kestral SrTiO3 [0 0 1]" srtio3.txt 0 0 1
check_slice "kestral ZnO [1 1 0]" zno_hex.txt 1 1 0
# Usage errors and refusals: the same status and the same stderr from both builds.
check_refusal() {  # [WANT_STATUS=N] check_refusal NAME TOOL ARGS...
    local name=$1 tool=$2 nstatus wstatus
    shift 2
    "$native/cli/$tool" "$@" >/dev/null 2>native-err.txt; nstatus=$?
    timeout 300 wine "$windows/cli/$tool.exe" "$@" >/dev/null 2>wine-err.txt; wstatus=$?
    if [ "$nstatus" = "$wstatus" ] && [ "$nstatus" != 0 ] && \
        [ "$nstatus" = "${WANT_STATUS:-$nstatus}" ] && \
        cmp -s native-err.txt <(tr -d '\r' <wine-err.txt); then
        echo "ok   $name (status $nstatus)"; passed=$((passed + 1))
    else
        echo "FAIL $name: status $nstatus natively, $wstatus under Wine"; failed=$((failed + 1))
        diff native-err.txt <(tr -d '\r' <wine-err.txt) | head -5
    fi
}
check_refusal "kestral --uvw beyond 32 bits" kestral-cli slice srtio3.txt --uvw 99999999999 0 0 --reference r.txt
check_refusal "kestral --uvw beyond 64 bits" kestral-cli slice srtio3.txt --uvw 1 -99999999999999999999 0 --reference r.txt
check_refusal "kestral slice without outputs" kestral-cli slice srtio3.txt --uvw 1 1 0
check_refusal "kestral same output twice" kestral-cli slice srtio3.txt --uvw 1 1 0 --reference x.txt --convergent x.txt
check_refusal "voralin00 --wa without --filter" voralin00-cli filter lattice.bmp o.bmp --wa 0.3
check_refusal "voralin00 out of range" voralin00-cli filter lattice.bmp o.bmp --filter low --wa 2
check_refusal "voralin00 unknown option" voralin00-cli spectrum lattice.bmp o.bmp --logscale
check_refusal "voralin00 missing input" voralin00-cli spectrum missing.bmp o.bmp
[ ! -e r.txt ] && [ ! -e x.txt ] && [ ! -e o.bmp ] || { echo "FAIL a refused run wrote a file"; failed=$((failed + 1)); }
# Batch work: the same files from both builds.
mkdir -p native-batch wine-batch
cp lattice.bmp second.bmp
"$native/cli/voralin00-cli" spectrum --quiet --out-dir native-batch lattice.bmp second.bmp >/dev/null 2>&1
timeout 300 wine "$windows/cli/voralin00-cli.exe" spectrum --quiet --out-dir wine-batch lattice.bmp second.bmp >/dev/null 2>&1
if cmp -s native-batch/lattice.bmp wine-batch/lattice.bmp && cmp -s native-batch/second.bmp wine-batch/second.bmp; then
    echo "ok   voralin00 batch"; passed=$((passed + 1))
else
    echo "FAIL voralin00 batch: outputs differ or are missing"; failed=$((failed + 1))
fi

# File names outside the ANSI code page: the .exe takes its arguments as wide characters and
# opens files by wide paths.
result() {  # result NAME OK
    if [ "$2" = 1 ]; then echo "ok   $1"; passed=$((passed + 1)); else echo "FAIL $1"; failed=$((failed + 1)); fi
}
cp lattice.bmp "画像.bmp"
cp srtio3.txt "結晶.txt"
ok=0
LC_ALL=C.UTF-8 timeout 300 wine "$windows/cli/voralin00-cli.exe" normalise "画像.bmp" "出力.bmp" >/dev/null 2>&1 &&
    cmp -s "出力.bmp" native-n.bmp && ok=1
result "voralin00 wide file names" $ok
ok=0
LC_ALL=C.UTF-8 timeout 300 wine "$windows/cli/kestral-cli.exe" slice "結晶.txt" --uvw 0 0 1 \
    --crystal-out "結晶2.txt" >/dev/null 2>&1 && cmp -s "結晶2.txt" srtio3.txt && ok=1
result "kestral wide file names" $ok
ok=0
LC_ALL=C.UTF-8 timeout 300 wine "$windows/cli/voralin00-cli.exe" spectrum --quiet --out-dir "結果" \
    "画像.bmp" >/dev/null 2>&1 && cmp -s "結果/画像.bmp" native-batch/lattice.bmp && ok=1
result "voralin00 wide names in batch work" $ok
# The side outputs (radial CSV and plot, spot list, arrays) are opened by wide paths as well.
"$native/cli/voralin00-cli" radial lattice.bmp native-radial.csv --plot native-plot.png --quiet
"$native/cli/voralin00-cli" spots lattice.bmp --csv native-spots.csv >/dev/null
"$native/cli/voralin00-cli" filter lattice.bmp native-f.bmp --npy native-f.npy \
    --difference-npy native-d.npy --quiet
ok=0
LC_ALL=C.UTF-8 timeout 300 wine "$windows/cli/voralin00-cli.exe" radial lattice.bmp "résumé_ü.csv" \
    --plot "plöt_日本.png" --quiet >/dev/null 2>&1 &&
    LC_ALL=C.UTF-8 timeout 300 wine "$windows/cli/voralin00-cli.exe" spots lattice.bmp \
        --csv "斑点.csv" >/dev/null 2>&1 &&
    LC_ALL=C.UTF-8 timeout 300 wine "$windows/cli/voralin00-cli.exe" filter lattice.bmp "濾過.bmp" \
        --npy "配列_ü.npy" --difference-npy "差分_é.npy" --quiet >/dev/null 2>&1 &&
    cmp -s "plöt_日本.png" native-plot.png && cmp -s "斑点.csv" native-spots.csv &&
    /usr/bin/python3 - <<'PY' && ok=1
import numpy as np
# The transforms of the two builds differ in the last bits of a double.
pairs = [(np.genfromtxt("résumé_ü.csv", delimiter=",", skip_header=1),
          np.genfromtxt("native-radial.csv", delimiter=",", skip_header=1)),
         (np.load("配列_ü.npy"), np.load("native-f.npy")),
         (np.load("差分_é.npy"), np.load("native-d.npy"))]
for wine, native in pairs:
    assert wine.shape == native.shape
    assert np.allclose(wine, native, rtol=1e-9, atol=1e-6)  # levels of 0..255
PY
result "voralin00 side outputs under wide names" $ok
# No output may replace an input (a usage error), and standard output that cannot be written is an error.
WANT_STATUS=2 check_refusal "voralin00 output over its input" voralin00-cli radial lattice.bmp lattice.bmp
WANT_STATUS=2 check_refusal "voralin00 side output over another" voralin00-cli filter lattice.bmp o.bmp --difference o.bmp
WANT_STATUS=2 check_refusal "kestral output over its crystal" kestral-cli slice srtio3.txt --uvw 1 1 0 --reference srtio3.txt
ln lattice.bmp hard-link.bmp
WANT_STATUS=2 check_refusal "voralin00 output over a hard link of its input" voralin00-cli normalise lattice.bmp hard-link.bmp
ok=0
if ! timeout 300 wine "$windows/cli/voralin00-cli.exe" info lattice.bmp >/dev/full 2>full-err.txt; then
    grep -q "could not be written to standard output" full-err.txt && ok=1
fi
result "voralin00 info to a full device under Wine is an error" $ok

# A write the file system cuts short at its very end: the C runtime under Wine reports full counts
# (the old build said "successfully created" with a page 630 bytes short), so the tools check the
# size on disk. The old file must stay as it was and the failure must be reported.
wineserver -p >/dev/null 2>&1  # started outside the limit below
"$native/cli/kestral-cli" slice srtio3.txt --uvw 0 0 1 --pages native-page.bmp >/dev/null 2>&1
limit=$(( $(stat -c %s native-page.bmp) / 1024 ))  # 1 KiB blocks: the last write is cut short
printf 'the old page\n' >page.bmp
cp page.bmp old-page.bmp
ok=0
if ! (trap '' XFSZ; ulimit -f "$limit"; timeout 300 wine "$windows/cli/kestral-cli.exe" slice srtio3.txt \
        --uvw 0 0 1 --pages page.bmp >/dev/null 2>short-err.txt); then
    grep -q "Error: File write error." short-err.txt && cmp -s page.bmp old-page.bmp &&
        [ -z "$(ls ./*.tmp 2>/dev/null)" ] && ok=1
fi
result "kestral short write under Wine is reported and keeps the old file" $ok
ok=0
limit=$(( $(stat -c %s native-n.bmp) / 1024 ))  # the temporary bitmap's last write cut short
if ! (trap '' XFSZ; ulimit -f "$limit"; timeout 300 wine "$windows/cli/voralin00-cli.exe" normalise \
        lattice.bmp short.bmp >/dev/null 2>short-err.txt); then
    grep -q "Unable to create a temporary bitmap file." short-err.txt && [ ! -e short.bmp ] &&
        [ -z "$(ls latticeB_* ./*.tmp 2>/dev/null)" ] && ok=1
fi
result "voralin00 short temporary bitmap under Wine is reported" $ok

# A full file system: the free space is asked for the output's own folder, not for Z:\.
if [ "$(id -u)" = 0 ] && mkdir -p tiny && mount -t tmpfs -o size=1m tmpfs tiny 2>/dev/null; then
    head -c 900000 /dev/zero >tiny/filler
    printf 'old output\n' >tiny/o.bmp
    ok=0
    if ! timeout 300 wine "$windows/cli/voralin00-cli.exe" filter lattice.bmp tiny/o.bmp >/dev/null 2>&1; then
        [ "$(cat tiny/o.bmp)" = "old output" ] && ok=1
    fi
    result "voralin00 full disk under Wine is refused" $ok
    umount -l tiny
else
    echo "skip full disk under Wine (cannot mount a small file system here)"
fi
wineserver -k >/dev/null 2>&1

# Microscope images: both builds decode with the same code, so what opens gives the same
# description, spectrum and float TIFF, and what is refused is refused with the same message.
mkdir -p micro
if /usr/bin/python3 "$root/tests/e2e/make_micro_corpus.py" micro >/dev/null 2>&1; then
    for f in micro/*; do
        name=$(basename "$f")
        case "$name" in
            *_refused.*)
                check_refusal "info $name refused alike" voralin00-cli info "$f"
                continue ;;
        esac
        "$native/cli/voralin00-cli" info "$f" >native-info.txt 2>&1
        timeout 300 wine "$windows/cli/voralin00-cli.exe" info "$f" 2>&1 | tr -d '\r' >wine-info.txt
        if cmp -s native-info.txt wine-info.txt; then
            echo "ok   info $name"; passed=$((passed + 1))
        else
            echo "FAIL info $name"; diff native-info.txt wine-info.txt | head -4; failed=$((failed + 1))
        fi
        check "spectrum $name" "$name.s.bmp" voralin00-cli spectrum "$f" --log
        check "filter $name to float TIFF" "$name.f.tif" voralin00-cli filter "$f" --filter low --wa 0.3
    done
else
    echo "FAIL the microscope corpus could not be written"; failed=$((failed + 1))
fi
# Stacks: an image inside a DM4 movie, a multi-page TIFF and an MRC stack opens alike, one beyond
# the count is refused alike, and --all-images writes the same files.
mkdir -p stacks
if /usr/bin/python3 - stacks "$root/tests/cli" <<'PY' 2>/dev/null
import sys
sys.path.insert(0, sys.argv[2])
import dmfile, mrcfile, numpy as np, tifffile
rng = np.random.default_rng(5)
y, x = np.mgrid[0:70, 0:80]
a = np.stack([30000 + 9000 * np.cos(2 * np.pi * ((x + 2 * k) / 7.1 + y / 9.3)) for k in range(5)])
a = (a + rng.normal(0, 500, a.shape)).astype(np.uint16)
dmfile.write_dm(f"{sys.argv[1]}/movie.dm4", a, 4, 0.2, "nm")
tifffile.imwrite(f"{sys.argv[1]}/pages.tif", a)
with mrcfile.new(f"{sys.argv[1]}/sections.mrcs") as m:
    m.set_data(a)
PY
then
    for f in stacks/*; do
        name=$(basename "$f")
        "$native/cli/voralin00-cli" info "$f" --image 3 >native-info.txt 2>&1
        timeout 300 wine "$windows/cli/voralin00-cli.exe" info "$f" --image 3 2>&1 | tr -d '\r' >wine-info.txt
        if grep -q "image 3 of 5" native-info.txt && cmp -s native-info.txt wine-info.txt; then
            echo "ok   info $name --image 3"; passed=$((passed + 1))
        else
            echo "FAIL info $name --image 3"; diff native-info.txt wine-info.txt | head -4; failed=$((failed + 1))
        fi
        check "spectrum $name --image 3" "$name.s3.bmp" voralin00-cli spectrum "$f" --image 3 --log
        check_refusal "$name --image 6 refused alike" voralin00-cli normalise "$f" --image 6 "beyond-$name.bmp"
    done
    ok=1
    "$native/cli/voralin00-cli" normalise --quiet --out-dir native-all --all-images stacks/movie.dm4 >/dev/null 2>&1 || ok=0
    timeout 300 wine "$windows/cli/voralin00-cli.exe" normalise --quiet --out-dir wine-all --all-images stacks/movie.dm4 >/dev/null 2>&1 || ok=0
    [ "$(ls native-all 2>/dev/null | tr '\n' ' ')" = "movie_0001.bmp movie_0002.bmp movie_0003.bmp movie_0004.bmp movie_0005.bmp " ] || ok=0
    diff -r native-all wine-all >/dev/null 2>&1 || ok=0
    result "--all-images writes the same files under Wine" $ok
else
    echo "FAIL the stacks could not be written"; failed=$((failed + 1))
fi
# EMD: HDF5 is not built for Windows yet, so the Windows build refuses EMD files by name.
if /usr/bin/python3 -c "import sys; sys.path.insert(0, '$root/tests/cli'); import emdfile, numpy
emdfile.write_berkeley('micro-image.emd', 'image', numpy.ones((64, 64)), 0.1)" 2>/dev/null; then
    ok=0
    if ! timeout 300 wine "$windows/cli/voralin00-cli.exe" info micro-image.emd >/dev/null 2>emd-err.txt; then
        grep -q "EMD files (HDF5) cannot be opened by this Windows build" emd-err.txt && ok=1
    fi
    result "EMD refused by name under Wine" $ok
else
    echo "FAIL the EMD file could not be written"; failed=$((failed + 1))
fi
# Vendors' calibrations in TIFF tags: both builds give the same pixel size, source, magnification,
# high tension and note for every layout.
mkdir -p vendor
if /usr/bin/python3 "$root/tests/cli/vendor_tiffs.py" vendor >/dev/null 2>&1; then
    for f in vendor/*.tif vendor/vendor_fei_negative.tif:ja_JP.UTF-8; do
        lang=${f#*:}; [ "$lang" = "$f" ] && lang=C
        f=${f%%:*}
        LANG=$lang LC_ALL=$lang "$native/cli/voralin00-cli" info "$f" >native-info.txt 2>&1
        LANG=$lang LC_ALL=$lang timeout 300 wine "$windows/cli/voralin00-cli.exe" info "$f" 2>&1 |
            tr -d '\r' >wine-info.txt
        if grep -q "pixel size\|ピクセルサイズ" native-info.txt && cmp -s native-info.txt wine-info.txt; then
            echo "ok   info $(basename "$f") ($lang)"; passed=$((passed + 1))
        else
            echo "FAIL info $(basename "$f") ($lang)"; diff native-info.txt wine-info.txt | head -4
            failed=$((failed + 1))
        fi
    done
else
    echo "FAIL the vendors' TIFF files could not be written"; failed=$((failed + 1))
fi
echo "wine-cli: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
