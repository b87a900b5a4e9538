#!/usr/bin/python3
"""Every procedure the three Win32 programs hand to Win32 runs inside the callback guard.

A window, dialog, hook or enumeration handler (a function of ours taking HWND, UINT, WPARAM,
LPARAM, or HWND and LPARAM) may appear as a value only as the template argument of the guarded
forms in frame/support (guardedWindowProcedure, guardedDialogProcedure, guardedHook,
guardedEnumCallback) or of what is built on them (registerWindowClass, registerMainClass,
runDialog); and no function but those templates is declared CALLBACK. Prints what breaks the
rule, and "N passed, M failed".

    tests/source/guarded_callbacks.py [ROOT]
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parents[2])
FOLDERS = ["frame", "spectrum/app", "crystal/app", "install/program"]
SUPPORT = ROOT / "frame/support"
GUARDS = ("guardedWindowProcedure", "guardedDialogProcedure", "guardedHook", "guardedEnumCallback",
          "registerWindowClass", "registerMainClass", "runDialog")

HANDLER = re.compile(
    r"^\s*(?:static\s+)?(?:LRESULT|INT_PTR|UINT_PTR|BOOL)\s+(?:CALLBACK\s+)?(\w+)\s*\(\s*HWND\b[^;{)]*"
    r"(?:UINT\b[^;{)]*WPARAM\b[^;{)]*LPARAM\b|LPARAM\b)[^;{)]*\)\s*\{", re.M)


def strip_comments(text):
    text = re.sub(r"//[^\n]*", "", text)
    text = re.sub(r"/\*.*?\*/", "", text, flags=re.S)
    return re.sub(r'"(?:\\.|[^"\\\n])*"', '""', text)


def sources():
    for folder in FOLDERS:
        for path in sorted((ROOT / folder).rglob("*")):
            if path.suffix in (".cpp", ".h") and SUPPORT not in path.parents:
                yield path


def main():
    problems = []
    handlers = {}
    texts = {}
    for path in sources():
        texts[path] = strip_comments(path.read_text(encoding="utf-8"))
        for name in HANDLER.findall(texts[path]):
            handlers.setdefault(name, path)
    guarded_use = re.compile(r"(?:%s)\s*<\s*$" % "|".join(GUARDS))
    for path, text in texts.items():
        rel = path.relative_to(ROOT)
        for match in re.finditer(r"\bCALLBACK\b", text):
            line = text.count("\n", 0, match.start()) + 1
            problems.append(f"{rel}:{line}: CALLBACK outside the guard templates")
        for name in handlers:
            for match in re.finditer(r"\b%s\b" % re.escape(name), text):
                after = text[match.end():match.end() + 40].lstrip()
                if after.startswith("("):
                    continue  # a call or the definition
                before = text[max(0, match.start() - 80):match.start()]
                before = re.sub(r"\b(?:frame::)", "", before)
                if guarded_use.search(before):
                    continue
                line = text.count("\n", 0, match.start()) + 1
                problems.append(f"{rel}:{line}: {name} handed on unguarded")
    for problem in problems:
        print("FAIL", problem)
    checked = len(handlers)
    print(f"guarded callbacks: {checked} handlers in {len(texts)} files")
    print(f"{0 if problems else 1} passed, {1 if problems else 0} failed")
    return 1 if problems or not checked else 0


if __name__ == "__main__":
    sys.exit(main())
