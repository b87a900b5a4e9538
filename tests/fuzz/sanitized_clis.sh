#!/usr/bin/env bash
# Runs the command-line tools built with AddressSanitizer and UndefinedBehaviorSanitizer (the
# fuzzing build, build-fuzz) over every file of the fuzz corpora, as a user would hand them over:
# each run must end with a result or a refusal (status 0, 1 or 2) and no sanitizer report.
# Usage: sanitized_clis.sh   (builds the two tools in build-fuzz when they are missing)
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$root/build-fuzz
if [ ! -x "$build/cli/voralin00-cli" ] || [ ! -x "$build/cli/kestral-cli" ]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DSUITE_FUZZ=ON >/dev/null
    cmake --build "$build" -j2 --target voralin00-cli kestral-cli >/dev/null || {
        echo "sanitized-cli: 0 passed, 1 failed (build)"; exit 1; }
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Allocations past 2 GiB fail as std::bad_alloc would (the tools then refuse), instead of aborting.
export ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1:max_allocation_size_mb=2048
export UBSAN_OPTIONS=print_stacktrace=1
passed=0
failed=0
try() {  # try LABEL COMMAND...
    local label=$1 status
    shift
    (cd "$work" && timeout 60 "$@") >"$work/out.log" 2>&1
    status=$?
    if [ $status -gt 2 ] || grep -qE 'ERROR: AddressSanitizer|runtime error:' "$work/out.log"; then
        echo "FAIL $label (status $status)"
        grep -m 5 -E 'ERROR|runtime error|SUMMARY' "$work/out.log"
        failed=$((failed + 1))
    else
        passed=$((passed + 1))
    fi
}
for f in "$root"/tests/fuzz/corpus/bmp/*; do
    cp "$f" "$work/in.bmp"
    try "voralin00-cli info $(basename "$f")" "$build/cli/voralin00-cli" info in.bmp
    try "voralin00-cli spectrum $(basename "$f")" "$build/cli/voralin00-cli" spectrum in.bmp out.bmp
done
# Microscope images keep their own extension, which names their reader.
for f in "$root"/tests/fuzz/corpus/{tiff,png,mrc,dm}/*; do
    ext=${f##*.}
    cp "$f" "$work/in.$ext"
    try "voralin00-cli info $(basename "$f")" "$build/cli/voralin00-cli" info "in.$ext"
    try "voralin00-cli filter $(basename "$f")" "$build/cli/voralin00-cli" filter "in.$ext" out.tif
done
# The microscope formats: info reads each whole, as Open would.
for pair in tiff:tif png:png mrc:mrc dm:dm3 emd:emd; do
    area=${pair%%:*} ext=${pair#*:}
    [ -d "$root/tests/fuzz/corpus/$area" ] || continue
    for f in "$root/tests/fuzz/corpus/$area"/*; do
        cp "$f" "$work/in.$ext"
        try "voralin00-cli info $area/$(basename "$f")" "$build/cli/voralin00-cli" info "in.$ext"
    done
done
if [ -d "$root/tests/fuzz/corpus/cif" ]; then
    for f in "$root"/tests/fuzz/corpus/cif/*; do
        cp "$f" "$work/in.cif"
        try "kestral-cli slice cif/$(basename "$f")" "$build/cli/kestral-cli" slice in.cif --uvw 0 0 1 \
            --reference ref.txt
    done
fi
for f in "$root"/tests/fuzz/corpus/crystal/*; do
    cp "$f" "$work/in.txt"
    try "kestral-cli slice $(basename "$f")" "$build/cli/kestral-cli" slice in.txt --uvw 1 1 0 \
        --reference ref.txt --crystal-out back.txt
done
for f in "$root"/tests/fuzz/corpus/cif/*; do
    cp "$f" "$work/in.cif"
    try "kestral-cli convert $(basename "$f")" "$build/cli/kestral-cli" convert in.cif back.txt
    try "kestral-cli slice $(basename "$f")" "$build/cli/kestral-cli" slice in.cif --uvw 1 1 0 \
        --periodic-cell --max-strain 5 --slice-thickness 1 --reference ref.txt --xyz cell.xyz \
        --extxyz cell.extxyz --tile 2 2 1
done
echo "sanitized-cli: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
