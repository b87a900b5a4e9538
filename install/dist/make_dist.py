#!/usr/bin/python3
"""Assembles the distribution folder: the programs, the guides and the two installation
descriptions, the Japanese one in code page 932 as the installer reads it there.

    make_dist.py OUTDIR DESCRIPTIONS_DIR FILE...

A guide that has not been built yet is left out with a note, and so are the description's file
and Group entries that name it, renumbered without gaps, so the installer never reports a file
missing from the folder."""
import re
import shutil
import sys
from pathlib import Path


def entries(lines, section):
    """Indexes of the numbered entries of one section."""
    out, current = [], None
    for i, line in enumerate(lines):
        if line is None:
            continue
        head = re.match(r"\s*\[(.*)\]", line)
        if head:
            current = head.group(1).strip().lower()
        elif current == section and re.match(r"\s*\d+\s*=", line):
            out.append(i)
    return out


def describe(source, target, present, encoding):
    lines = source.read_text(encoding="utf-8").splitlines()
    keep = []
    for section, name_of in (("install", lambda v: v.split(",")[0]),
                             ("group", lambda v: v.split(",")[1] if "," in v else "")):
        number = 0
        for i in entries(lines, section):
            value = lines[i].split("=", 1)[1].strip()
            name = name_of(value).strip()
            if section == "install" and name.lower().startswith("install"):
                name = ""  # the installer and its descriptions are always there
            if name and name.lower() not in present:
                lines[i] = None
                continue
            number += 1
            lines[i] = "%d=%s" % (number, value)
    text = "\r\n".join(l for l in lines if l is not None) + "\r\n"
    target.write_bytes(text.encode(encoding))


def main():
    out, descriptions, files = Path(sys.argv[1]), Path(sys.argv[2]), sys.argv[3:]
    if out.exists():
        shutil.rmtree(out)
    out.mkdir(parents=True)
    present = set()
    for f in files:
        path = Path(f)
        if path.is_file():
            shutil.copy2(path, out / path.name)
            present.add(path.name.lower())
        else:
            print("dist: note: %s is not built yet; left out of the distribution" % path.name)
    describe(descriptions / "installE.INF", out / "installE.INF", present, "cp1252")
    describe(descriptions / "installJ.INF", out / "installJ.INF", present, "cp932")


main()
