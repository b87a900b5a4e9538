#!/usr/bin/python3
"""Draws the artwork of a program from its one text description (see voralin00.art).

A description with "logo motif lattice" (kestral.art) gets the crystal logo in the size given by
"logo size W H" and the crystal icon, and no filter illustration, graph captions or cursor.

Writes into OUTDIR: the icon-bar buttons as 4-bit BMPs (stem + skin + state), the start-up logo
IBMP_1, the filter illustration IBMP_0, the graph captions IBMP_2 and IBMP_3, the icon ICON_1.ico,
the cursor CURSOR_1.cur, and artwork.rc, the resource script that names them all.

    make_artwork.py DESCRIPTION OUTDIR [--preview SHEET.png]
"""
import struct
import sys
from pathlib import Path

from PIL import Image, ImageDraw, ImageFont

STATES = ("Up", "Dn", "In")
ROLES = ("face", "light", "shadow", "dark", "ink", "accent", "muted", "warm")
FILLERS = {"Gap": 16, "Space": 2000}
FONT_DIR = Path("/usr/share/fonts/truetype/dejavu")


def rgb(text):
    text = text.lstrip("#")
    return tuple(int(text[i:i + 2], 16) for i in (0, 2, 4))


def parse(path):
    desc = {"palette": {}, "style": {}, "glyph": {}, "glyph_order": [], "logo": {}}
    current = None
    for raw in Path(path).read_text(encoding="utf-8").splitlines():
        line = raw
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        words = line.split()
        if raw[0].isspace() and current:
            desc["glyph"][current].append(words)
            continue
        current = None
        key = words[0]
        if key == "palette":
            desc["palette"][words[1]] = dict(zip(ROLES, (rgb(w) for w in words[2:10])))
        elif key == "style":
            desc["style"][words[1]] = words[2]
        elif key == "glyph":
            current = words[1]
            desc["glyph"][current] = []
            desc["glyph_order"].append(current)
        elif key == "logo":
            value = line.split(None, 2)[2].strip()
            desc["logo"][words[1]] = value.strip('"') if words[1] != "colours" else [
                rgb(w) for w in value.split()]
        elif key in ("caption2", "caption3"):
            desc[key] = line.split(None, 1)[1].strip().strip('"')
        else:
            raise SystemExit(f"{path}: unknown line: {raw}")
    return desc


def font(size, bold=False):
    name = "DejaVuSans-Bold.ttf" if bold else "DejaVuSans.ttf"
    try:
        return ImageFont.truetype(str(FONT_DIR / name), size)
    except OSError:
        return ImageFont.load_default()


# ---- 4-bit BMP, ICO and CUR writers ----

def write_bmp4(path, image, palette):
    """image: mode "P" whose indices are < 16; palette: 16 RGB triples."""
    width, height = image.size
    row = ((width + 1) // 2 + 3) // 4 * 4
    pixels = image.load()
    body = bytearray()
    for y in range(height - 1, -1, -1):
        line = bytearray(row)
        for x in range(width):
            index = pixels[x, y] & 15
            line[x // 2] |= index << 4 if x % 2 == 0 else index
        body += line
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    offset = 14 + 40 + len(table)
    header = struct.pack("<2sIHHI", b"BM", offset + len(body), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, len(body), 2835, 2835, 16, 16)
    Path(path).write_bytes(header + info + table + body)


def to_p16(image, palette):
    """Maps an RGB picture drawn only in palette colours to palette indices."""
    lookup = {colour: i for i, colour in enumerate(palette)}
    out = Image.new("P", image.size)
    src, dst = image.load(), out.load()
    for y in range(image.size[1]):
        for x in range(image.size[0]):
            dst[x, y] = lookup[src[x, y]]
    return out


def quantise16(image):
    q = image.convert("RGB").quantize(colors=16, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    flat = q.getpalette()[:48]
    flat += [0] * (48 - len(flat))
    return q, [tuple(flat[i:i + 3]) for i in range(0, 48, 3)]


def quantise_to(image, colours):
    """Maps a picture to the 16 colours of its design, so no colour of the design is lost."""
    colours = (list(colours) + [(0, 0, 0)] * 16)[:16]
    flat = [v for c in colours for v in c]
    palette_image = Image.new("P", (1, 1))
    palette_image.putpalette(flat + [0] * (768 - len(flat)))
    return image.convert("RGB").quantize(palette=palette_image, dither=Image.Dither.NONE), colours


def mix(a, b, t):
    return tuple(int(a[i] + (b[i] - a[i]) * t) for i in range(3))


def dib32(image):
    image = image.convert("RGBA")
    w, h = image.size
    px = image.load()
    rows = b"".join(bytes(v for x in range(w) for v in (px[x, y][2], px[x, y][1], px[x, y][0], px[x, y][3]))
                    for y in range(h - 1, -1, -1))
    mask_row = ((w + 31) // 32) * 4
    mask = bytearray()
    for y in range(h - 1, -1, -1):
        line = bytearray(mask_row)
        for x in range(w):
            if px[x, y][3] < 128:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    info = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, len(rows) + len(mask), 0, 0, 0, 0)
    return info + rows + bytes(mask)


def write_icon(path, images, kind=1, hotspot=(0, 0)):
    blobs = [dib32(im) for im in images]
    out = struct.pack("<HHH", 0, kind, len(images))
    offset = 6 + 16 * len(images)
    for im, blob in zip(images, blobs):
        w, h = im.size
        planes, bits = (1, 32) if kind == 1 else hotspot
        out += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, planes, bits, len(blob), offset)
        offset += len(blob)
    Path(path).write_bytes(out + b"".join(blobs))


# ---- buttons ----

def draw_glyph(draw, commands, colour_of, dx, dy):
    def pts(values):
        nums = [int(v) for v in values]
        return [(nums[i] + dx, nums[i + 1] + dy) for i in range(0, len(nums), 2)]

    for words in commands:
        op = words[0]
        if op == "line":
            draw.line(pts(words[1:5]), fill=colour_of(words[5]))
        elif op == "polyline":
            draw.line(pts(words[2:]), fill=colour_of(words[1]))
        elif op == "rect":
            draw.rectangle(pts(words[1:5]), outline=colour_of(words[5]))
        elif op == "fill":
            draw.rectangle(pts(words[1:5]), fill=colour_of(words[5]))
        elif op in ("ring", "disc"):
            cx, cy, r = (int(v) for v in words[1:4])
            box = [cx - r + dx, cy - r + dy, cx + r + dx, cy + r + dy]
            if op == "ring":
                draw.ellipse(box, outline=colour_of(words[4]))
            else:
                draw.ellipse(box, fill=colour_of(words[4]))
        elif op == "polygon":
            draw.polygon(pts(words[2:]), fill=colour_of(words[1]))
        else:
            raise SystemExit(f"unknown glyph command {op}")


def button(desc, skin, stem, state):
    pal = desc["palette"][skin]
    style = desc["style"].get(skin, "flat")
    width = FILLERS.get(stem, 32)
    im = Image.new("RGB", (width, 20), pal["face"])
    d = ImageDraw.Draw(im)
    w, h = width - 1, 19
    pressed = state == "Dn"
    if stem in FILLERS:
        d.line([(0, h), (w, h)], fill=pal["shadow"])
        if style == "raised":
            d.line([(0, 0), (w, 0)], fill=pal["light"])
    elif style == "flat":
        if pressed:
            d.rectangle([1, 1, w - 1, h - 1], fill=pal["light"], outline=pal["accent"])
        d.line([(0, h), (w, h)], fill=pal["shadow"])
        d.line([(w, 3), (w, h - 3)], fill=pal["shadow"])
    elif style == "raised":
        tl, br = (pal["shadow"], pal["light"]) if pressed else (pal["light"], pal["dark"])
        d.line([(0, h), (0, 0), (w, 0)], fill=tl)
        d.line([(1, h), (w, h), (w, 1)], fill=br)
        if not pressed:
            d.line([(1, h - 1), (w - 1, h - 1), (w - 1, 1)], fill=pal["shadow"])
    else:  # rounded
        fill = pal["muted"] if pressed else pal["face"]
        d.rounded_rectangle([1, 1, w - 1, h - 1], radius=4, fill=fill, outline=pal["shadow"])
        if not pressed:
            d.line([(4, 2), (w - 4, 2)], fill=pal["light"])
            d.line([(3, 3), (w - 3, 3)], fill=pal["light"])
    if stem in desc["glyph"]:
        commands = desc["glyph"][stem]
        if state == "In":
            draw_glyph(d, commands, lambda r: pal["light"], 1, 1)
            draw_glyph(d, commands, lambda r: pal[r] if r in ("face", "light") else pal["muted"], 0, 0)
        else:
            shift = 1 if pressed else 0
            draw_glyph(d, commands, lambda r: pal[r], shift, shift)
    palette = [pal[r] for r in ROLES]
    palette += [(0, 0, 0)] * (16 - len(palette))
    return im, palette


# ---- pictures ----

def logo(desc):
    navy, blue, sky, warm, white = desc["logo"]["colours"]
    scale = 2
    W, H = 448 * scale, 326 * scale
    im = Image.new("RGB", (W, H), navy)
    d = ImageDraw.Draw(im)
    for y in range(H):  # a quiet vertical gradient
        t = y / H
        d.line([(0, y), (W, y)], fill=tuple(int(navy[i] * (1 - 0.35 * t)) for i in range(3)))
    # A diffraction-like spectrum: centre spot, a hexagonal lattice of spots and two rings.
    cx, cy = 118 * scale, 163 * scale
    for r, c in ((92, blue), (60, sky)):
        d.ellipse([cx - r * scale, cy - r * scale, cx + r * scale, cy + r * scale], outline=c,
                  width=scale)
    import math
    for ring, radius, size in ((1, 30, 7), (2, 52, 5), (3, 78, 4)):
        for k in range(6 * ring if ring < 3 else 6):
            a = math.radians(k * 360 / (6 * ring if ring < 3 else 6) + (30 if ring == 2 else 0))
            x, y = cx + radius * scale * math.cos(a), cy + radius * scale * math.sin(a)
            s = size * scale
            d.ellipse([x - s, y - s, x + s, y + s], fill=warm if ring == 1 else sky)
    s = 12 * scale
    d.ellipse([cx - s, cy - s, cx + s, cy + s], fill=white)
    d.line([(232 * scale, 70 * scale), (232 * scale, 256 * scale)], fill=blue, width=scale)
    d.text((248 * scale, 104 * scale), desc["logo"]["title"], font=font(30 * scale, True), fill=white)
    d.text((250 * scale, 152 * scale), desc["logo"]["subtitle"], font=font(9 * scale), fill=sky)
    d.text((250 * scale, 172 * scale), desc["logo"]["footnote"], font=font(9 * scale), fill=sky)
    d.rectangle([250 * scale, 200 * scale, 330 * scale, 203 * scale], fill=warm)
    return im.resize((448, 326), Image.Resampling.LANCZOS)


def lattice_logo(desc):
    """A cubic cell seen obliquely beside four stacked sliced planes, with the title."""
    navy, blue, sky, warm, white = desc["logo"]["colours"]
    width, height = (int(v) for v in desc["logo"].get("size", "384 288").split())
    scale = 2
    W, H = width * scale, height * scale
    im = Image.new("RGB", (W, H), navy)
    d = ImageDraw.Draw(im)
    for y in range(H):
        t = y / H
        d.line([(0, y), (W, y)], fill=tuple(int(navy[i] * (1 - 0.35 * t)) for i in range(3)))
    # The unit cell: front and back squares and their joining edges.
    ox, oy, e, k = 40 * scale, 200 * scale, 110 * scale, 45 * scale
    front = [(ox, oy), (ox + e, oy), (ox + e, oy - e), (ox, oy - e)]
    back = [(x + k, y - k) for x, y in front]
    for poly in (back, front):
        d.line(poly + [poly[0]], fill=sky, width=2 * scale)
    for a, b in zip(front, back):
        d.line([a, b], fill=sky, width=2 * scale)
    r = 7 * scale
    for x, y in front + back:
        d.ellipse([x - r, y - r, x + r, y + r], fill=warm)
    cx, cy = ox + e / 2 + k / 2, oy - e / 2 - k / 2
    d.ellipse([cx - r - 3, cy - r - 3, cx + r + 3, cy + r + 3], fill=white)
    # Sliced planes: four thin parallelograms with dots.
    for n in range(4):
        y0 = (92 + 34 * n) * scale
        x0 = 220 * scale
        poly = [(x0, y0), (x0 + 120 * scale, y0), (x0 + 140 * scale, y0 - 16 * scale),
                (x0 + 20 * scale, y0 - 16 * scale)]
        d.polygon(poly, outline=blue, fill=mix(navy, blue, 0.35))
        for j in range(5):
            x = x0 + (18 + 24 * j + (12 if n % 2 else 0)) * scale
            s = 3 * scale
            d.ellipse([x - s, y0 - 8 * scale - s, x + s, y0 - 8 * scale + s],
                      fill=warm if (j + n) % 2 else white)
    d.text((24 * scale, 18 * scale), desc["logo"]["title"], font=font(30 * scale, True), fill=white)
    d.text((26 * scale, 228 * scale), desc["logo"]["subtitle"], font=font(10 * scale), fill=sky)
    d.text((26 * scale, 248 * scale), desc["logo"]["footnote"], font=font(10 * scale), fill=sky)
    d.rectangle([26 * scale, 270 * scale, 106 * scale, 273 * scale], fill=warm)
    return im.resize((width, height), Image.Resampling.LANCZOS)


def lattice_icon_image(size):
    big = size * 4
    im = Image.new("RGBA", (big, big), (0, 0, 0, 0))
    d = ImageDraw.Draw(im)
    d.rounded_rectangle([0, 0, big - 1, big - 1], radius=big // 5, fill=(15, 39, 66, 255))
    lo, hi, k = big * 0.18, big * 0.62, big * 0.2
    front = [(lo, hi + k), (hi, hi + k), (hi, lo + k), (lo, lo + k)]
    back = [(x + k, y - k) for x, y in front]
    w = max(2, big // 24)
    for poly in (back, front):
        d.line(poly + [poly[0]], fill=(95, 176, 255, 255), width=w)
    for a, b in zip(front, back):
        d.line([a, b], fill=(95, 176, 255, 255), width=w)
    s = big * 0.06
    for x, y in front + back:
        d.ellipse([x - s, y - s, x + s, y + s], fill=(224, 138, 30, 255))
    return im.resize((size, size), Image.Resampling.LANCZOS)


def filter_illustration():
    im = Image.new("RGB", (284 * 2, 142 * 2), (255, 255, 255))
    d = ImageDraw.Draw(im)
    ink, blue, warm, grey = (35, 54, 77), (31, 120, 209), (224, 138, 30), (200, 208, 218)
    f = font(22)
    # Left: the spectrum square with the two radii.
    d.rectangle([20, 24, 250, 254], fill=(238, 242, 247), outline=ink, width=2)
    cx, cy = 135, 139
    d.ellipse([cx - 100, cy - 100, cx + 100, cy + 100], fill=(214, 232, 250), outline=blue, width=3)
    d.ellipse([cx - 48, cy - 48, cx + 48, cy + 48], fill=(255, 255, 255), outline=warm, width=3)
    d.ellipse([cx - 5, cy - 5, cx + 5, cy + 5], fill=ink)
    d.line([(cx, cy), (cx + 48, cy)], fill=warm, width=3)
    d.line([(cx, cy), (cx - 71, cy - 71)], fill=blue, width=3)
    d.text((cx + 8, cy + 6), "w1", font=f, fill=warm)
    d.text((cx - 70, cy - 52), "w2", font=f, fill=blue)
    # Right: the weight against frequency of a band-pass filter.
    x0, y0, x1, y1 = 300, 230, 548, 40
    d.line([(x0, y1 - 10), (x0, y0), (x1 + 8, y0)], fill=ink, width=2)
    for gx in range(x0 + 40, x1, 40):
        d.line([(gx, y1), (gx, y0 - 2)], fill=grey, width=1)
    a, b = x0 + 70, x0 + 170
    d.line([(x0, y0 - 2), (a, y0 - 2), (a, y1 + 20), (b, y1 + 20), (b, y0 - 2), (x1, y0 - 2)],
           fill=blue, width=4)
    d.text((a - 14, y0 + 6), "w1", font=f, fill=warm)
    d.text((b - 14, y0 + 6), "w2", font=f, fill=blue)
    d.text((x0 - 22, y1 + 8), "1", font=f, fill=ink)
    d.text((x0 - 22, y0 - 26), "0", font=f, fill=ink)
    d.text((x1 - 10, y0 + 6), "w", font=f, fill=ink)
    return im.resize((284, 142), Image.Resampling.LANCZOS)


def caption(text, size, rotate=False, face=(240, 240, 240)):
    w, h = size
    if rotate:
        w, h = h, w
    im = Image.new("RGB", (w * 3, h * 3), face)
    d = ImageDraw.Draw(im)
    f = font(int(h * 3 * 0.62))
    box = d.textbbox((0, 0), text, font=f)
    tx = (w * 3 - (box[2] - box[0])) // 2 - box[0]
    ty = (h * 3 - (box[3] - box[1])) // 2 - box[1]
    d.text((tx, ty), text, font=f, fill=(35, 54, 77))
    im = im.resize((w, h), Image.Resampling.LANCZOS)
    return im.rotate(90, expand=True) if rotate else im


def icon_image(size):
    big = size * 4
    im = Image.new("RGBA", (big, big), (0, 0, 0, 0))
    d = ImageDraw.Draw(im)
    d.rounded_rectangle([0, 0, big - 1, big - 1], radius=big // 5, fill=(15, 39, 66, 255))
    c = big / 2
    for r, col in ((0.36, (31, 120, 209, 255)), (0.22, (95, 176, 255, 255))):
        d.ellipse([c - r * big, c - r * big, c + r * big, c + r * big], outline=col, width=max(2, big // 32))
    for dx, dy in ((0.22, 0), (-0.22, 0), (0, 0.22), (0, -0.22)):
        s = big * 0.05
        d.ellipse([c + dx * big - s, c + dy * big - s, c + dx * big + s, c + dy * big + s], fill=(224, 138, 30, 255))
    s = big * 0.08
    d.ellipse([c - s, c - s, c + s, c + s], fill=(255, 255, 255, 255))
    return im.resize((size, size), Image.Resampling.LANCZOS)


def cursor_image():
    im = Image.new("RGBA", (32, 32), (0, 0, 0, 0))
    d = ImageDraw.Draw(im)
    for colour, width in (((255, 255, 255, 255), 3), ((0, 0, 0, 255), 1)):
        d.ellipse([9, 9, 21, 21], outline=colour, width=width)
        for a, b in (((15, 1), (15, 7)), ((15, 23), (15, 29)), ((1, 15), (7, 15)), ((23, 15), (29, 15))):
            d.line([a, b], fill=colour, width=width)
    d.point((15, 15), fill=(0, 0, 0, 255))
    return im


def main(argv):
    if len(argv) < 3:
        raise SystemExit(__doc__)
    desc = parse(argv[1])
    out = Path(argv[2])
    out.mkdir(parents=True, exist_ok=True)
    rc = ["// Generated by make_artwork.py from %s; do not edit." % Path(argv[1]).name]
    sheet = []
    stems = ["Gap"] + desc["glyph_order"] + ["Space"]
    for skin in desc["palette"]:
        letter = "" if skin == "-" else skin
        for stem in stems:
            for state in STATES:
                name = f"{stem}{letter}{state}"
                im, palette = button(desc, skin, stem, state)
                write_bmp4(out / f"{name}.bmp", to_p16(im, palette), palette)
                rc.append(f'{name} BITMAP "{name}.bmp"')
                if stem != "Space":
                    sheet.append((skin, stem, state, im))
    lattice = desc["logo"].get("motif") == "lattice"
    icon = lattice_icon_image if lattice else icon_image
    if lattice:
        pictures = {"IBMP_1": lattice_logo(desc)}
    else:
        pictures = {
            "IBMP_1": logo(desc),
            "IBMP_0": filter_illustration(),
            "IBMP_2": caption(desc.get("caption2", "Frequency"), (78, 21)),
            "IBMP_3": caption(desc.get("caption3", "W"), (11, 17), rotate=True),
        }
    navy, blue, sky, warm, white = desc["logo"]["colours"]
    dim = tuple(int(v * 0.65) for v in navy)
    logo_colours = [navy, mix(navy, dim, 0.5), dim, blue, sky, warm, white, mix(navy, blue, 0.5),
                    mix(navy, sky, 0.5), mix(navy, warm, 0.5), mix(navy, white, 0.5),
                    mix(dim, sky, 0.5), mix(blue, sky, 0.5), mix(sky, white, 0.5),
                    mix(warm, white, 0.5), mix(dim, warm, 0.5)]
    for name, im in pictures.items():
        q, palette = quantise_to(im, logo_colours) if name == "IBMP_1" else quantise16(im)
        write_bmp4(out / f"{name}.bmp", q, palette)
        rc.append(f'{name} BITMAP "{name}.bmp"')
    write_icon(out / "ICON_1.ico", [icon(32), icon(16)])
    rc.append('ICON_1 ICON "ICON_1.ico"')
    if not lattice:
        write_icon(out / "CURSOR_1.cur", [cursor_image()], kind=2, hotspot=(15, 15))
        rc.append('CURSOR_1 CURSOR "CURSOR_1.cur"')
    (out / "artwork.rc").write_text("\n".join(rc) + "\n", encoding="ascii")

    if len(argv) >= 5 and argv[3] == "--preview":
        cols = len(stems) - 1
        rows = len(desc["palette"]) * len(STATES)
        board = Image.new("RGB", (cols * 36 * 3, rows * 24 * 3 + 340 * 1), (255, 255, 255))
        for i, (skin, stem, state, im) in enumerate(sheet):
            r, c = divmod(i, cols * 3)
            c, s = divmod(c, 3)
            row = list(desc["palette"]).index(skin) * 3 + s
            board.paste(im.resize((im.size[0] * 3, 60), Image.Resampling.NEAREST), (c * 108, row * 72))
        board.paste(pictures["IBMP_1"], (0, rows * 72))
        board.paste(icon(32).resize((96, 96), Image.Resampling.NEAREST), (760, rows * 72))
        if not lattice:
            board.paste(pictures["IBMP_0"], (460, rows * 72))
            board.paste(pictures["IBMP_2"].resize((234, 63)), (460, rows * 72 + 160))
        board.save(argv[4])


if __name__ == "__main__":
    main(sys.argv)
