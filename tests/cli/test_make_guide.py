#!/usr/bin/python3
"""tools/docs/make_guide.py checked from outside: the PDF it assembles is read back with
Ghostscript (page count, text), and a guide naming a missing picture is refused. Japanese guides
are read back with poppler (pdffonts, pdftotext): the font is embedded and every Japanese
character comes back as text."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

from PIL import Image

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
TOOL = os.path.join(ROOT, "tools", "docs", "make_guide.py")
# Where fonts-ipafont-gothic puts the font the build gives the Japanese guides.
JAPANESE_FONT = next((f for f in ("/usr/share/fonts/opentype/ipafont-gothic/ipagp.ttf",
                                  "/usr/share/fonts/truetype/ipafont-gothic/ipagp.ttf")
                      if os.path.isfile(f)), None)
JAPANESE = re.compile("[\u3000-\u30ff\u3400-\u9fff\uff00-\uffef]")

GUIDE = """# Sample guide

## First section

A paragraph with **bold**, *italic* and `code` & <angles>.

- one item
- another item

| Button | Action |
|---|---|
| Open | opens a file |

![A red square](pic.png)

---

## Second page

The last words.
"""


JAPANESE_GUIDE = """<!--
A note for the editors: KEEP-OUT
-->

# 日本語のガイド

## 最初の節

**太字**と `code` を含む段落です。
改行をまたぐ日本語の
文章は空白なしでつながります。

- 項目その一
- 項目その二

| ボタン | 機能 |
|---|---|
| Open BMP | ファイルを開く |

![赤い四角形](pic.png)
"""


def make(folder, text, *options):
    guide = os.path.join(folder, "guide.md")
    with open(guide, "w", encoding="utf-8") as f:
        f.write(text)
    out = os.path.join(folder, "out.pdf")
    done = subprocess.run(["/usr/bin/python3", TOOL, *options, guide, out], capture_output=True,
                          text=True, timeout=120)
    return done, out


def pdf_fonts(path):
    """pdffonts' table: (name, type, embedded) for every font the PDF names."""
    lines = subprocess.run(["pdffonts", path], capture_output=True, text=True,
                           timeout=120).stdout.splitlines()[2:]
    rows = []
    for line in lines:
        cells = line.split()
        # name, type (one or two words), encoding, emb, sub, uni, object, generation
        rows.append((cells[0], " ".join(cells[1:-6]), cells[-5] == "yes"))
    return rows


def pdf_text(path):
    return subprocess.run(["pdftotext", "-enc", "UTF-8", path, "-"], capture_output=True,
                          text=True, timeout=120).stdout


@unittest.skipUnless(shutil.which("gs"), "Ghostscript reads the PDF back")
class MakeGuide(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp()
        Image.new("RGB", (120, 80), (200, 30, 30)).save(os.path.join(self.folder, "pic.png"))

    def tearDown(self):
        shutil.rmtree(self.folder)

    def test_pages_text_and_reproducible_output(self):
        done, out = make(self.folder, GUIDE)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(out, "rb") as f:
            first = f.read()
        self.assertTrue(first.startswith(b"%PDF"))
        text = subprocess.run(["gs", "-q", "-dNOPAUSE", "-dBATCH", "-sDEVICE=txtwrite",
                               "-sOutputFile=-", out], capture_output=True, text=True,
                              timeout=120).stdout
        for words in ("Sample guide", "First section", "bold", "code & <angles>", "one item",
                      "opens a file", "A red square", "The last words."):
            self.assertIn(words, text)
        self.assertNotIn("**", text)
        pages = subprocess.run(["gs", "-q", "-dNODISPLAY", "-dNOSAFER", "-c",
                                f"({out}) (r) file runpdfbegin pdfpagecount = quit"],
                               capture_output=True, text=True, timeout=120).stdout.strip()
        self.assertEqual(pages, "2")  # the --- line starts a page
        # The same input gives the same bytes.
        done, out = make(self.folder, GUIDE)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), first)

    def test_missing_picture_is_refused(self):
        done, out = make(self.folder, GUIDE.replace("pic.png", "absent.png"))
        self.assertNotEqual(done.returncode, 0)
        self.assertIn("missing picture", done.stderr)
        self.assertFalse(os.path.exists(out))


@unittest.skipUnless(JAPANESE_FONT and shutil.which("pdffonts") and shutil.which("pdftotext"),
                     "fonts-ipafont-gothic and poppler-utils")
class JapaneseGuide(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp()
        Image.new("RGB", (120, 80), (200, 30, 30)).save(os.path.join(self.folder, "pic.png"))

    def tearDown(self):
        shutil.rmtree(self.folder)

    def assert_embedded_japanese(self, pdf):
        fonts = pdf_fonts(pdf)
        self.assertTrue(fonts)
        for name, kind, embedded in fonts:
            # A font the PDF only names would be the reader's choice, and it may have no kana.
            self.assertTrue(embedded, f"{name} is not embedded")
            self.assertEqual(kind, "TrueType")
            self.assertIn("IPAPGothic", name)

    def test_font_embedded_text_extractable_notes_left_out(self):
        done, out = make(self.folder, JAPANESE_GUIDE, "--japanese-font", JAPANESE_FONT)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assert_embedded_japanese(out)
        text = pdf_text(out)
        for words in ("日本語のガイド", "最初の節", "太字", "code", "改行をまたぐ日本語の文章は",
                      "項目その一", "ファイルを開く", "Open BMP", "赤い四角形"):
            self.assertIn(words, text)
        self.assertNotIn("KEEP-OUT", text)
        self.assertNotIn("**", text)
        with open(out, "rb") as f:
            first = f.read()
        done, out = make(self.folder, JAPANESE_GUIDE, "--japanese-font", JAPANESE_FONT)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), first)

    def test_japanese_without_its_font_is_refused(self):
        done, out = make(self.folder, JAPANESE_GUIDE)
        self.assertNotEqual(done.returncode, 0)
        self.assertIn("--japanese-font", done.stderr)
        self.assertFalse(os.path.exists(out))
        done, out = make(self.folder, JAPANESE_GUIDE, "--japanese-font",
                         os.path.join(self.folder, "absent.ttf"))
        self.assertNotEqual(done.returncode, 0)
        self.assertIn("no font", done.stderr)
        self.assertFalse(os.path.exists(out))

    def test_character_the_font_lacks_is_refused(self):
        # It would print as an empty box.
        done, out = make(self.folder, JAPANESE_GUIDE + "\n絵文字 \U0001F600 です。\n",
                         "--japanese-font", JAPANESE_FONT)
        self.assertNotEqual(done.returncode, 0)
        self.assertIn("U+1F600", done.stderr)
        self.assertFalse(os.path.exists(out))

    def test_product_guides(self):
        """The guides the build puts beside the programs as VORALIN0J.PDF and KESTRAJ.PDF."""
        for source, readme, words in (
                ("voralin00_guide_ja.md", "VORALIN0J.PDF", ("Orbilux [II] - ユーザーズガイド",
                                                            "イメージ情報", "Inverse FFT")),
                ("kestral_guide_ja.md", "KESTRAJ.PDF", ("Tessaly: ユーザーズガイド",
                                                        "結晶データファイル", "Wrong data file."))):
            with self.subTest(readme=readme):
                out = os.path.join(self.folder, readme)
                guide = os.path.join(ROOT, "docs", source)
                done = subprocess.run(["/usr/bin/python3", TOOL, "--japanese-font",
                                       JAPANESE_FONT, guide, out], capture_output=True,
                                      text=True, timeout=300)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assert_embedded_japanese(out)
                text = pdf_text(out)
                for w in words + (readme,):
                    self.assertIn(w, text)
                # Every Japanese character of the guide comes back as that character.
                with open(guide, encoding="utf-8") as f:
                    source_text = re.sub(r"<!--.*?-->", "", f.read(), flags=re.S)
                missing = set(JAPANESE.findall(source_text)) - set(text)
                self.assertFalse(missing, f"not in the PDF's text: {sorted(missing)}")
                self.assertNotIn("keeping it in step", text.lower())


if __name__ == "__main__":
    sys.exit(unittest.main(verbosity=2))
