#!/usr/bin/python3
"""Assembles a user's guide PDF from a small text markup and its PNG pictures.

    make_guide.py [--japanese-font FONT.ttf] GUIDE.md OUTPUT.pdf

The markup, one block per paragraph (blocks are separated by blank lines):
    # Title                  the guide's title (first block)
    ## Heading / ### Heading  section and subsection headings
    - item                   a bulleted list (one item a line)
    | a | b |                a table (first row is the header; a |---| row is skipped)
    ![Caption](path.png)     a picture, path relative to the guide, scaled to the text width
    anything else            a paragraph; **bold**, *italic* and `code` inline
    <!-- ... -->             a note for the guide's editors, left out of the PDF
Pictures are embedded as they are; the PDF has no date or random identifier in it, so the same
input gives the same file.

A Japanese guide is set in the TrueType font given with --japanese-font (embedded, as a subset)
and its lines break between any two characters. The PDF core fonts have no Japanese glyphs, so
a guide with Japanese text and no such font is refused rather than printed as empty boxes.
"""
import argparse
import html
import re
from pathlib import Path

from reportlab import rl_config
from reportlab.lib import colors
from reportlab.lib.pagesizes import A4
from reportlab.lib.styles import ParagraphStyle, getSampleStyleSheet
from reportlab.lib.units import cm
from reportlab.pdfbase import pdfmetrics
from reportlab.pdfbase.ttfonts import TTFont
from reportlab.platypus import (Image, KeepTogether, ListFlowable, ListItem, PageBreak,
                                Paragraph, SimpleDocTemplate, Spacer, Table, TableStyle)

TEXT_WIDTH = A4[0] - 4 * cm
JAPANESE_FACE = "GuideJapanese"
BULLET = "\u2022"
# Kana, CJK punctuation, ideographs and full-width forms: text the core fonts cannot show.
JAPANESE_TEXT = re.compile("[\u3000-\u30ff\u3400-\u9fff\uf900-\ufaff\uff00-\uffef]")


class Typeface:
    """The fonts of one guide: the PDF core fonts, or one embedded Japanese TrueType font."""

    def __init__(self, japanese_font=None):
        self.japanese = japanese_font is not None
        if not self.japanese:
            self.body, self.code, self.footer, self.wrap = None, "Courier", "Helvetica", None
            return
        self.font = TTFont(JAPANESE_FACE, str(japanese_font))
        pdfmetrics.registerFont(self.font)
        # The font has no bold or italic cut: <b> and <i> fall back to the same face, and
        # bold is shown in colour instead (see inline).
        pdfmetrics.registerFontFamily(JAPANESE_FACE, normal=JAPANESE_FACE, bold=JAPANESE_FACE,
                                      italic=JAPANESE_FACE, boldItalic=JAPANESE_FACE)
        self.body = self.code = self.footer = JAPANESE_FACE
        # Every page starts in this font, so the PDF names no font it does not embed.
        rl_config.canvas_basefontname = JAPANESE_FACE
        self.wrap = "CJK"

    def missing_glyphs(self, text):
        """Characters the Japanese font cannot draw (they would print as empty boxes)."""
        if not self.japanese:
            return []
        have = self.font.face.charToGlyph
        return sorted({c for c in text + BULLET if ord(c) > 0x7e and ord(c) not in have})


def inline(text, face):
    """Markup of one paragraph's text: escapes, then **bold** and `code`."""
    text = html.escape(text, quote=False)
    bold = r'<b><font color="#1f4e79">\1</font></b>' if face.japanese else r"<b>\1</b>"
    text = re.sub(r"\*\*(.+?)\*\*", bold, text)
    text = re.sub(r"(?<![*\w])\*(?!\s)(.+?)\*(?![*\w])", r"<i>\1</i>", text)
    # One face for all Japanese text: code stands out by its colour.
    colour = ' color="#7a3b00"' if face.japanese else ""
    text = re.sub(r"`(.+?)`", rf'<font face="{face.code}"{colour}>\1</font>', text)
    return text


def styles(face):
    base = getSampleStyleSheet()
    st = {
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
    if face.japanese:
        for style in st.values():
            style.fontName = face.body
            style.wordWrap = face.wrap
        st["body"].leading = 16
        st["cell"].leading = 13
    return st


def joined(lines, face):
    """One paragraph from its source lines. Lines join with a blank, as English words need, but
    Japanese text broken across two lines joins without one."""
    out = lines[0].strip()
    for line in lines[1:]:
        line = line.strip()
        glue = face.japanese and JAPANESE_TEXT.match(line[:1]) and JAPANESE_TEXT.match(out[-1:])
        out += line if glue else " " + line
    return out


def picture(path, caption, st, face):
    image = Image(str(path))
    scale = min(1.0, TEXT_WIDTH / image.imageWidth, (12 * cm) / image.imageHeight)
    image.drawWidth = image.imageWidth * scale
    image.drawHeight = image.imageHeight * scale
    return KeepTogether([image, Paragraph(inline(caption, face), st["caption"])])


def table(lines, st, face):
    rows = []
    for line in lines:
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if all(re.fullmatch(r":?-+:?", c) for c in cells):
            continue
        rows.append([Paragraph(inline(c, face), st["cell"]) for c in cells])
    width = TEXT_WIDTH / max(len(r) for r in rows)
    t = Table(rows, colWidths=[width] * len(rows[0]), repeatRows=1)
    t.setStyle(TableStyle([
        ("BACKGROUND", (0, 0), (-1, 0), colors.HexColor("#dce6f1")),
        ("GRID", (0, 0), (-1, -1), 0.4, colors.HexColor("#9aa8b8")),
        ("VALIGN", (0, 0), (-1, -1), "TOP"),
    ] + ([("FONTNAME", (0, 0), (-1, -1), face.body)] if face.japanese else [])))
    return [t, Spacer(1, 8)]


def build(source, output, japanese_font=None):
    text = source.read_text(encoding="utf-8")
    text = re.sub(r"<!--.*?-->", "", text, flags=re.S)
    if japanese_font is None and JAPANESE_TEXT.search(text):
        raise SystemExit(f"make_guide: {source} has Japanese text: give --japanese-font")
    face = Typeface(japanese_font)
    missing = face.missing_glyphs(text)
    if missing:
        listed = " ".join(f"U+{ord(c):04X}" for c in missing)
        raise SystemExit(f"make_guide: the font has no glyph for {listed} in {source}")
    st = styles(face)
    story = []
    for block in re.split(r"\n\s*\n", text.strip()):
        lines = block.splitlines()
        first = lines[0]
        if first.startswith("# "):
            story.append(Paragraph(inline(first[2:], face), st["title"]))
        elif first.startswith("## "):
            story.append(Paragraph(inline(first[3:], face), st["h2"]))
        elif first.startswith("### "):
            story.append(Paragraph(inline(first[4:], face), st["h3"]))
        elif first.strip() == "---":
            story.append(PageBreak())
        elif first.startswith("!["):
            m = re.fullmatch(r"!\[(.*)\]\((.+)\)", first.strip())
            if not m:
                raise SystemExit(f"make_guide: bad picture line: {first}")
            path = source.parent / m.group(2)
            if not path.is_file():
                raise SystemExit(f"make_guide: missing picture {path}")
            story.append(picture(path, m.group(1), st, face))
        elif first.startswith("- "):
            items = [ListItem(Paragraph(inline(l[2:], face), st["body"]), leftIndent=12)
                     for l in lines if l.startswith("- ")]
            bullet_font = {"bulletFontName": face.body} if face.japanese else {}
            story.append(ListFlowable(items, bulletType="bullet", start=BULLET, leftIndent=12,
                                      **bullet_font))
        elif first.startswith("|"):
            story.extend(table(lines, st, face))
        else:
            story.append(Paragraph(inline(joined(lines, face), face), st["body"]))
    if not story:
        raise SystemExit(f"make_guide: {source} is empty")

    title = re.sub(r"^# ", "", text.strip().splitlines()[0])

    def footer(canvas, doc):
        canvas.saveState()
        canvas.setFont(face.footer, 8)
        canvas.drawRightString(A4[0] - 2 * cm, 1.2 * cm, f"{title}  -  {doc.page}")
        canvas.restoreState()

    doc = SimpleDocTemplate(str(output), pagesize=A4, leftMargin=2 * cm, rightMargin=2 * cm,
                            topMargin=2 * cm, bottomMargin=2 * cm, title=title, author="",
                            invariant=1)
    doc.build(story, onFirstPage=footer, onLaterPages=footer)


def main():
    parser = argparse.ArgumentParser(description="Assembles a user's guide PDF.")
    parser.add_argument("--japanese-font", type=Path, metavar="FONT.ttf",
                        help="TrueType font for a Japanese guide")
    parser.add_argument("guide", type=Path)
    parser.add_argument("output", type=Path)
    args = parser.parse_args()
    if args.japanese_font is not None and not args.japanese_font.is_file():
        raise SystemExit(f"make_guide: no font {args.japanese_font}")
    build(args.guide, args.output, args.japanese_font)


if __name__ == "__main__":
    main()
