#!/usr/bin/python3
"""Assembles a user's guide PDF from a small text markup and its PNG pictures.

    make_guide.py GUIDE.md OUTPUT.pdf

The markup, one block per paragraph (blocks are separated by blank lines):
    # Title                  the guide's title (first block)
    ## Heading / ### Heading  section and subsection headings
    - item                   a bulleted list (one item a line)
    | a | b |                a table (first row is the header; a |---| row is skipped)
    ![Caption](path.png)     a picture, path relative to the guide, scaled to the text width
    anything else            a paragraph; **bold**, *italic* and `code` inline
Pictures are embedded as they are; the PDF has no date or random identifier in it, so the same
input gives the same file.
"""
import html
import re
import sys
from pathlib import Path

from reportlab.lib import colors
from reportlab.lib.pagesizes import A4
from reportlab.lib.styles import ParagraphStyle, getSampleStyleSheet
from reportlab.lib.units import cm
from reportlab.platypus import (Image, KeepTogether, ListFlowable, ListItem, PageBreak,
                                Paragraph, SimpleDocTemplate, Spacer, Table, TableStyle)

TEXT_WIDTH = A4[0] - 4 * cm


def inline(text):
    """Markup of one paragraph's text: escapes, then **bold** and `code`."""
    text = html.escape(text, quote=False)
    text = re.sub(r"\*\*(.+?)\*\*", r"<b>\1</b>", text)
    text = re.sub(r"(?<![*\w])\*(?!\s)(.+?)\*(?![*\w])", r"<i>\1</i>", text)
    text = re.sub(r"`(.+?)`", r'<font face="Courier">\1</font>', text)
    return text


def styles():
    base = getSampleStyleSheet()
    return {
        "title": ParagraphStyle("GuideTitle", parent=base["Title"], fontSize=22, spaceAfter=14),
        "h2": ParagraphStyle("GuideH2", parent=base["Heading2"], textColor=colors.HexColor("#1f4e79"),
                             spaceBefore=12),
        "h3": ParagraphStyle("GuideH3", parent=base["Heading3"], spaceBefore=8),
        "body": ParagraphStyle("GuideBody", parent=base["BodyText"], fontSize=10, leading=14,
                               spaceAfter=6),
        "caption": ParagraphStyle("GuideCaption", parent=base["Italic"], fontSize=9,
                                  alignment=1, spaceAfter=10),
        "cell": ParagraphStyle("GuideCell", parent=base["BodyText"], fontSize=9, leading=11),
    }


def picture(path, caption, st):
    image = Image(str(path))
    scale = min(1.0, TEXT_WIDTH / image.imageWidth, (12 * cm) / image.imageHeight)
    image.drawWidth = image.imageWidth * scale
    image.drawHeight = image.imageHeight * scale
    return KeepTogether([image, Paragraph(inline(caption), st["caption"])])


def table(lines, st):
    rows = []
    for line in lines:
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if all(re.fullmatch(r":?-+:?", c) for c in cells):
            continue
        rows.append([Paragraph(inline(c), st["cell"]) for c in cells])
    width = TEXT_WIDTH / max(len(r) for r in rows)
    t = Table(rows, colWidths=[width] * len(rows[0]), repeatRows=1)
    t.setStyle(TableStyle([
        ("BACKGROUND", (0, 0), (-1, 0), colors.HexColor("#dce6f1")),
        ("GRID", (0, 0), (-1, -1), 0.4, colors.HexColor("#9aa8b8")),
        ("VALIGN", (0, 0), (-1, -1), "TOP"),
    ]))
    return [t, Spacer(1, 8)]


def build(source, output):
    st = styles()
    text = source.read_text(encoding="utf-8")
    story = []
    for block in re.split(r"\n\s*\n", text.strip()):
        lines = block.splitlines()
        first = lines[0]
        if first.startswith("# "):
            story.append(Paragraph(inline(first[2:]), st["title"]))
        elif first.startswith("## "):
            story.append(Paragraph(inline(first[3:]), st["h2"]))
        elif first.startswith("### "):
            story.append(Paragraph(inline(first[4:]), st["h3"]))
        elif first.strip() == "---":
            story.append(PageBreak())
        elif first.startswith("!["):
            m = re.fullmatch(r"!\[(.*)\]\((.+)\)", first.strip())
            if not m:
                raise SystemExit(f"make_guide: bad picture line: {first}")
            path = source.parent / m.group(2)
            if not path.is_file():
                raise SystemExit(f"make_guide: missing picture {path}")
            story.append(picture(path, m.group(1), st))
        elif first.startswith("- "):
            items = [ListItem(Paragraph(inline(l[2:]), st["body"]), leftIndent=12)
                     for l in lines if l.startswith("- ")]
            story.append(ListFlowable(items, bulletType="bullet", start="\u2022", leftIndent=12))
        elif first.startswith("|"):
            story.extend(table(lines, st))
        else:
            story.append(Paragraph(inline(" ".join(l.strip() for l in lines)), st["body"]))
    if not story:
        raise SystemExit(f"make_guide: {source} is empty")

    title = re.sub(r"^# ", "", text.strip().splitlines()[0])

    def footer(canvas, doc):
        canvas.saveState()
        canvas.setFont("Helvetica", 8)
        canvas.drawRightString(A4[0] - 2 * cm, 1.2 * cm, f"{title}  -  {doc.page}")
        canvas.restoreState()

    doc = SimpleDocTemplate(str(output), pagesize=A4, leftMargin=2 * cm, rightMargin=2 * cm,
                            topMargin=2 * cm, bottomMargin=2 * cm, title=title, author="",
                            invariant=1)
    doc.build(story, onFirstPage=footer, onLaterPages=footer)


def main():
    if len(sys.argv) != 3:
        raise SystemExit("usage: make_guide.py GUIDE.md OUTPUT.pdf")
    build(Path(sys.argv[1]), Path(sys.argv[2]))


if __name__ == "__main__":
    main()
