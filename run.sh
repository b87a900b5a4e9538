#!/usr/bin/env bash
# Build, demonstration and test entry point for a Debian machine.
#   ./run.sh demo    install what is missing, build both command-line tools, filter the sample
#                    micrograph and slice the sample crystal into out/
#   ./run.sh test    install what is missing, build natively and for Windows, run every test
#   ./run.sh build   install what is missing and build both
#   ./run.sh bench   build and run the benchmarks (installs FFTW 3 for the comparison)
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
JOBS=${JOBS:-$(nproc)}
FUZZ_SECONDS=${FUZZ_SECONDS:-30}

BUILD_PACKAGES=(cmake ninja-build g++ python3-dev pybind11-dev python3-pybind11 libgtest-dev libgmock-dev python3 python3-pil python3-numpy
                g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 fonts-dejavu-core
                python3-reportlab fonts-ipafont-gothic gemmi-dev tao-pegtl-dev libstb-dev libtiff-dev zlib1g-dev
                libz-mingw-w64-dev dpkg-dev debian-archive-keyring libhdf5-dev)
TEST_PACKAGES=(clang clang-tidy libclang-rt-14-dev python3-ase python3-pymatgen imagemagick ghostscript wine wine64 xvfb x11-utils
               locales poppler-utils python3-scipy python3-spglib python3-tifffile python3-mrcfile python3-hyperspy
               python3-h5py python3-dask python3-distributed)
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

# Wine takes the code page from the locale: the Japanese scenarios run under ja_JP.UTF-8, which
# gives code page 932. Generated once; later runs find it in place.
ensure_japanese_locale() {
    locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8' && return 0
    echo "== Generating the ja_JP.UTF-8 locale"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    if grep -q '^# *ja_JP.UTF-8 UTF-8' /etc/locale.gen; then
        $sudo sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    elif ! grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen; then
        echo 'ja_JP.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
    fi
    $sudo locale-gen
}

build_native() {  # build_native [TARGET...]
    cmake -S "$ROOT" -B "$ROOT/build/native" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$ROOT/build/native" -j "$JOBS" ${1:+--target "$@"}
}

build_windows() {
    cmake -S "$ROOT" -B "$ROOT/build/windows" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
    cmake --build "$ROOT/build/windows" -j "$JOBS"
}

demo() {
    ensure_packages "${BUILD_PACKAGES[@]}"
    build_native voralin00-cli kestral-cli
    "$ROOT/tools/demo.sh" "$ROOT/build/native/cli" "$ROOT/out"
}

# Runs one stage of the suite, keeps its output in the log, and adds up its "N passed, M failed"
# line (ctest's summary is read as well).
TOTAL_PASSED=0
TOTAL_FAILED=0
stage() {
    local name=$1 log
    shift
    log=$(mktemp)
    echo "== $name"
    # A failing stage is counted, not fatal: the later stages still run and the summary prints.
    local status=0 passed failed summary
    "$@" 2>&1 | tee "$log" || status=${PIPESTATUS[0]}
    summary=$(grep -E '[0-9]+ passed, [0-9]+ failed' "$log" | tail -n 1 || true)
    if [ -n "$summary" ]; then
        passed=$(sed -E 's/(^|.*[^0-9])([0-9]+) passed.*/\2/' <<<"$summary")
        failed=$(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$summary")
    elif summary=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1); then
        failed=$(sed -E 's/.*passed, ([0-9]+) tests failed.*/\1/' <<<"$summary")
        passed=$(( $(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$summary") - failed ))
    else
        passed=0
        failed=1
    fi
    [ "$status" -ne 0 ] && [ "$failed" -eq 0 ] && failed=1
    rm -f "$log"
    TOTAL_PASSED=$((TOTAL_PASSED + passed))
    TOTAL_FAILED=$((TOTAL_FAILED + failed))
}

run_tests() {
    ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
    ensure_japanese_locale
    build_native
    build_windows
    export E2E_NATIVE_BUILD="$ROOT/build/native"
    stage "Unit and command-line tests" ctest --test-dir "$ROOT/build/native" --output-on-failure -j "$JOBS"
    stage "Function size (clang-tidy)" /usr/bin/python3 "$ROOT/tests/lint/function_size.py" \
        "$ROOT/build/native" "$ROOT/build/windows"
    if [ -x "$ROOT/tests/fuzz/run.sh" ]; then
        stage "Fuzzing (${FUZZ_SECONDS} s a target)" "$ROOT/tests/fuzz/run.sh" "$FUZZ_SECONDS"
        stage "Sanitized command-line tools over the fuzz corpora" "$ROOT/tests/fuzz/sanitized_clis.sh"
    fi
    stage "Command-line tools under Wine" "$ROOT/tests/e2e/cli_under_wine.sh" \
        "$ROOT/build/native" "$ROOT/build/windows"
    if [ -x "$ROOT/tests/e2e/run_e2e.sh" ]; then
        stage "Windows programs under Wine" "$ROOT/tests/e2e/run_e2e.sh" "$ROOT/build/windows"
    fi
    if [ -x "$ROOT/tests/e2e/run_install_e2e.sh" ]; then
        stage "Installer under Wine" "$ROOT/tests/e2e/run_install_e2e.sh" "$ROOT/build/windows"
    fi
    echo "all: $TOTAL_PASSED passed, $TOTAL_FAILED failed"
    [ "$TOTAL_FAILED" -eq 0 ]
}

bench() {
    ensure_packages "${BUILD_PACKAGES[@]}" "${BENCH_PACKAGES[@]}"
    cmake -S "$ROOT" -B "$ROOT/build/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSUITE_BENCH=ON \
        -DSUITE_TESTS=OFF >/dev/null
    cmake --build "$ROOT/build/bench" -j "$JOBS"
    for b in "$ROOT"/build/bench/bench/*_bench; do
        [ -x "$b" ] && "$b"
    done
    /usr/bin/python3 "$ROOT/bench/image_open_bench.py" "$ROOT/build/bench/cli/voralin00-cli"
}

case "${1:-}" in
    demo) demo ;;
    test) run_tests ;;
    build) ensure_packages "${BUILD_PACKAGES[@]}"; build_native; build_windows ;;
    bench) bench ;;
    *) echo "usage: $0 demo|test|build|bench" >&2; exit 2 ;;
esac
