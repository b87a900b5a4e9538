#!/usr/bin/python3
"""No function of the project's sources runs over 120 lines.

    tests/lint/function_size.py NATIVE_BUILD_DIR [WINDOWS_BUILD_DIR]

Runs clang-tidy's readability-function-size check alone over every source file of the two
builds' compile_commands.json (the native one for the portable code and the unit tests, the
MinGW one for the Win32 files, parsed by clang for the x86_64-w64-mingw32 target), and over the
project's headers they include. The unit tests and fuzz targets are left out. A function over the limit fails the check unless it is named
below, with the reason it stays long. Prints one line per long function (and per file clang could
not parse, per exemption no longer needed), then "N passed, M failed"; exits 1 on a failure.
"""
import json
import os
import re
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

LINE_THRESHOLD = 120

# Long by nature: a table or a dispatcher read as a list, not as a procedure.
# Key: path from the top folder, then the function's name as clang-tidy prints it.
EXEMPT = {
    # The end-to-end driver: one branch per script command, each a few lines.
    ("tools/wintest/wintest.cpp", "step"),
}

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WARNING = re.compile(r"^(/[^:]+):(\d+):\d+: warning: function '([^']+)' exceeds recommended "
                     r"size/complexity thresholds \[readability-function-size\]$")
LINES = re.compile(r"note: (\d+) lines including whitespace and comments")
CONFIG = json.dumps({
    "Checks": "-*,readability-function-size",
    "CheckOptions": [{"key": "readability-function-size.LineThreshold", "value": LINE_THRESHOLD}],
})
# Only the project's own headers; never the build folders' generated files or the system's.
HEADER_FILTER = "^" + re.escape(ROOT) + "/(core|frame|image|spectrum|crystal|cli|install|tools|resources)/"


def sources(build):
    with open(os.path.join(build, "compile_commands.json")) as f:
        entries = json.load(f)
    out = []
    for e in entries:
        path = os.path.realpath(os.path.join(e["directory"], e["file"]))
        inside = path[len(ROOT):]
        # The program's code; the unit tests and fuzz targets are not held to the limit.
        if (path.startswith(ROOT + "/") and not inside.startswith(("/build", "/tests/")) and
                path.endswith((".cpp", ".c"))):
            out.append(path)
    return sorted(set(out))


def mingw_arguments(build):
    """clang parses the Win32 files for MinGW's target with MinGW's C++ library and headers,
    asked from the compiler the build uses (clang's own builtin headers stay in front)."""
    with open(os.path.join(build, "compile_commands.json")) as f:
        first = json.load(f)[0]
    compiler = first.get("command", "").split()[0] if "command" in first else first["arguments"][0]
    probe = subprocess.run([compiler, "-E", "-x", "c++", "-", "-v"], input="", capture_output=True,
                           text=True)
    folders, inside = [], False
    for line in probe.stderr.splitlines():
        if line.startswith("#include <...>"):
            inside = True
        elif line.startswith("End of search list"):
            inside = False
        elif inside:
            folder = os.path.normpath(line.strip())
            if "/include/c++" in folder or folder.endswith("-mingw32/include"):
                folders.append(folder)
    return (["--extra-arg=--target=x86_64-w64-mingw32"] +
            ["--extra-arg=-isystem" + folder for folder in folders])


def tidy(path, build, extra):
    # The compiler's warnings are the builds' business (with -Werror there): none here, so a
    # warning only clang gives never reads as a file it could not parse.
    args = ["clang-tidy", "--quiet", "-p", build, "--config=" + CONFIG,
            "--header-filter=" + HEADER_FILTER, "--extra-arg=-w"] + extra
    # gemmi's documents need clang's C++17 mode (the build says why).
    if path.endswith("crystal/engine/cif_reader.cpp"):
        args.append("--extra-arg=-std=c++17")
    run = subprocess.run(args + [path], capture_output=True, text=True)
    found = []
    lines = run.stdout.splitlines()
    for i, line in enumerate(lines):
        m = WARNING.match(line)
        if not m:
            continue
        length = next((LINES.search(l) for l in lines[i + 1:i + 6] if LINES.search(l)), None)
        found.append((os.path.relpath(m.group(1), ROOT), int(m.group(2)), m.group(3),
                      int(length.group(1)) if length else 0))
    # A file clang could not parse would hide its functions: that is a failure too.
    if run.returncode != 0 and not found:
        errors = [l for l in (run.stdout + run.stderr).splitlines() if " error: " in l]
        if errors:
            return found, f"{os.path.relpath(path, ROOT)}: clang could not parse it: {errors[0]}"
    return found, None


def main():
    if len(sys.argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    native = os.path.abspath(sys.argv[1])
    jobs = []
    native_sources = sources(native)
    jobs += [(p, native, []) for p in native_sources]
    if len(sys.argv) > 2:
        windows = os.path.abspath(sys.argv[2])
        mingw = mingw_arguments(windows)
        jobs += [(p, windows, mingw) for p in sources(windows) if p not in set(native_sources)]
    with ThreadPoolExecutor(max_workers=int(os.environ.get("JOBS", os.cpu_count() or 2))) as pool:
        results = list(pool.map(lambda j: tidy(*j), jobs))

    problems = [problem for _, problem in results if problem]
    long_functions = sorted({f for found, _ in results for f in found})
    over = exempt = 0
    for path, line, name, length in long_functions:
        if (path, name) in EXEMPT:
            exempt += 1
            continue
        over += 1
        print(f"{path}:{line}: {name} has {length} lines (limit {LINE_THRESHOLD})")
    unused = sorted(EXEMPT - {(p, n) for p, _, n, _ in long_functions})
    for path, name in unused:
        print(f"{path}: {name} is exempt but no longer long: take it off the list")
    for problem in problems:
        print(problem)
    failed = over + len(unused) + len(problems)
    print(f"function size: {len(jobs)} files, {exempt} exempt functions; "
          f"{len(jobs)} passed, {failed} failed" if not failed else
          f"function size: {len(jobs)} files, {exempt} exempt functions; 0 passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
