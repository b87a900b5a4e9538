#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each for SECONDS (default 60).
# Each target's writable corpus is a temporary folder; the repository's corpus
# (tests/fuzz/corpus/<name without fuzz_>) is read only as seeds, so a run never changes the tree.
# Exits non-zero when any target finds a crash; its inputs are kept in build-fuzz/artifacts/.
set -euo pipefail

seconds=${1:-60}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$root/build-fuzz

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSUITE_FUZZ=ON >/dev/null
cmake --build "$build" -j2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$build/artifacts"

# only_library_crashes EXE NAME LIBRARY BEFORE: true when every crash input the run added (after
# the first BEFORE, oldest first) crashes inside LIBRARY; with no LIBRARY, when it added none.
only_library_crashes() {
    local exe=$1 name=$2 library=$3 before=$4 input frame
    local crashes
    mapfile -t crashes < <(ls -tr "$build/artifacts" | grep "^$name-crash-" | tail -n +"$((before + 1))")
    [ ${#crashes[@]} -eq 0 ] && return 0
    [ -n "$library" ] || return 1
    for input in "${crashes[@]}"; do
        frame=$("$exe" "$build/artifacts/$input" 2>&1 >/dev/null | grep -E '^ +#[0-9]+ ' |
            grep -vE '__interceptor_|__asan_|__sanitizer|libclang_rt|compiler-rt' | head -n 1 || true)
        if grep -q "$library" <<<"$frame"; then
            echo "== $name: $input crashes inside $library (kept, not counted): $frame"
        else
            echo "== $name: $input crashes in our own code: $frame"
            return 1
        fi
    done
}

status=0
found=0
passed=0
failed=0
for exe in "$build"/tests/fuzz/fuzz_*; do
    [ -f "$exe" ] && [ -x "$exe" ] || continue
    found=1
    name=$(basename "$exe")
    area=${name#fuzz_}
    mkdir -p "$work/$area"
    seeds=()
    [ -d "$root/tests/fuzz/corpus/$area" ] && seeds=("$root/tests/fuzz/corpus/$area")
    # A target's own flags: the lines of tests/fuzz/<name>.options that are not comments.
    options=()
    [ -f "$root/tests/fuzz/$name.options" ] &&
        mapfile -t options < <(grep -v -e '^#' -e '^$' "$root/tests/fuzz/$name.options")
    # tests/fuzz/<name>.third_party names a library the target reads through whose own faults we
    # cannot mend here: the run goes on past a crash, and each crash found is replayed; one whose
    # innermost frame outside the sanitizer lies in that library is logged and kept, any other
    # fails the run as always.
    library=""
    [ -f "$root/tests/fuzz/$name.third_party" ] &&
        library=$(grep -v -e '^#' -e '^$' "$root/tests/fuzz/$name.third_party" | head -n 1)
    [ -n "$library" ] && options+=(-ignore_crashes=1)
    before=$(ls "$build/artifacts" | grep -c "^$name-crash-" || true)
    echo "== $name: $seconds s"
    rc=0
    "$exe" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=30 "${options[@]}" \
        -artifact_prefix="$build/artifacts/$name-" -print_final_stats=1 \
        "$work/$area" "${seeds[@]}" 2>"$work/$name.log" || rc=$?
    # Past the library's crashes the fork mode still exits 1: then the replay decides, and the
    # run must have ended by itself with no other finding (a leak, running out of memory).
    if [ -n "$library" ] && [ $rc -ne 0 ] && grep -q '^INFO: exiting' "$work/$name.log" &&
       ! ls "$build/artifacts" | grep -qE "^$name-(leak|oom)-"; then
        rc=0
    fi
    if [ $rc -ne 0 ] || ! only_library_crashes "$exe" "$name" "$library" "$before"; then
        tail -n 60 "$work/$name.log"
        echo "== $name FAILED (inputs in $build/artifacts/)"
        status=1
        failed=$((failed + 1))
    else
        grep -E '^(stat::number_of_executed_units|Done)' "$work/$name.log" || true
        echo "== $name passed"
        passed=$((passed + 1))
    fi
done
if [ "$found" = 0 ]; then
    echo "no fuzz targets built" >&2
    exit 1
fi
echo "fuzz: $passed passed, $failed failed"
exit $status
