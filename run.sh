#!/usr/bin/env bash
# Build, demonstration and test entry point for a Debian machine.
#   ./run.sh demo    install what is missing, build, run the spectrum pipeline on the sample
#   ./run.sh test    install what is missing, build natively and for Windows, run every test
#   ./run.sh build   install what is missing and build both
#   ./run.sh bench   build and run the benchmarks (installs FFTW 3 for the comparison)
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
JOBS=${JOBS:-$(nproc)}
FUZZ_SECONDS=${FUZZ_SECONDS:-30}

BUILD_PACKAGES=(cmake ninja-build g++ libgtest-dev libgmock-dev python3 python3-pil python3-numpy
                g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64)
TEST_PACKAGES=(clang libclang-rt-14-dev python3-ase imagemagick wine wine64 xvfb x11-utils)
BENCH_PACKAGES=(libfftw3-dev pkg-config)

ensure_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "== Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
}

build_native() {
    cmake -S "$ROOT" -B "$ROOT/build/native" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
    cmake --build "$ROOT/build/native" -j "$JOBS"
}

build_windows() {
    cmake -S "$ROOT" -B "$ROOT/build/windows" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
    cmake --build "$ROOT/build/windows" -j "$JOBS"
}

demo() {
    ensure_packages "${BUILD_PACKAGES[@]}"
    build_native
    local cli="$ROOT/build/native/cli/voralin00-cli" sample="$ROOT/tests/data/sample/lattice.bmp"
    local out="$ROOT/out"
    mkdir -p "$out"
    echo "== Sample: $sample"
    "$cli" info "$sample"
    "$cli" spectrum "$sample" "$out/spectrum.bmp" --log
    "$cli" filter "$sample" "$out/filtered.bmp" --filter low --wa 0.3
    "$cli" linewave "$sample" "$out/linewave.txt" --angle 20
    echo "== Written:"
    echo "   spectrum (log scale):        $out/spectrum.bmp"
    echo "   low-pass filtered image:     $out/filtered.bmp"
    echo "   spectrum along a 20° line:   $out/linewave.txt"
}

run_tests() {
    ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
    build_native
    build_windows
    local failed=0
    echo "== Unit and command-line tests"
    ctest --test-dir "$ROOT/build/native" --output-on-failure -j "$JOBS" || failed=1
    if [ -x "$ROOT/tests/fuzz/run.sh" ]; then
        echo "== Fuzzing (${FUZZ_SECONDS} s a target)"
        "$ROOT/tests/fuzz/run.sh" "$FUZZ_SECONDS" || failed=1
    fi
    if [ -x "$ROOT/tests/e2e/run_e2e.sh" ]; then
        echo "== Windows programs under Wine"
        "$ROOT/tests/e2e/run_e2e.sh" "$ROOT/build/windows" || failed=1
    fi
    return $failed
}

bench() {
    ensure_packages "${BUILD_PACKAGES[@]}" "${BENCH_PACKAGES[@]}"
    build_native -DSUITE_BENCH=ON
    for b in "$ROOT"/build/native/bench/*_bench; do
        [ -x "$b" ] && "$b"
    done
}

case "${1:-}" in
    demo) demo ;;
    test) run_tests ;;
    build) ensure_packages "${BUILD_PACKAGES[@]}"; build_native; build_windows ;;
    bench) bench ;;
    *) echo "usage: $0 demo|test|build|bench" >&2; exit 2 ;;
esac
