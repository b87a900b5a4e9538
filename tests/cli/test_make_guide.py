#!/usr/bin/python3
"""tools/docs/make_guide.py checked from outside: the PDF it assembles is read back with
Ghostscript (page count, text), and a guide naming a missing picture is refused."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from PIL import Image

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
TOOL = os.path.join(ROOT, "tools", "docs", "make_guide.py")

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


def make(folder, text):
    guide = os.path.join(folder, "guide.md")
    with open(guide, "w", encoding="utf-8") as f:
        f.write(text)
    out = os.path.join(folder, "out.pdf")
    done = subprocess.run(["/usr/bin/python3", TOOL, guide, out], capture_output=True, text=True,
                          timeout=120)
    return done, out


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


if __name__ == "__main__":
    sys.exit(unittest.main(verbosity=2))
