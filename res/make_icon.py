#!/usr/bin/env python3
"""Draws the application icon and writes it as a Windows .ico file.

The picture is a small tracker (a rounded case with a display and a button) with a round
badge holding an upward arrow: new firmware going into the device. It is drawn from simple
shapes at every size, so the 16-pixel image is as crisp as the 48-pixel one, and written as
nine BMP-format images (48, 32 and 16 pixels, each at 4, 8 and 24 bits per pixel) with AND
masks for transparency. Standard library only, so the build needs nothing but Python 3.

Usage: make_icon.py -o OUT.ico [--body RRGGBB] [--badge RRGGBB]
"""

import argparse
import struct
import sys

SIZES = (48, 32, 16)
DEPTHS = (4, 8, 24)

# The 16 colours of the classic Windows palette; 4-bit images use exactly these, so they look
# the same on any display.
VGA16 = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]


def parse_colour(text):
    text = text.lstrip("#")
    if len(text) != 6:
        raise argparse.ArgumentTypeError("colour must be RRGGBB")
    try:
        value = int(text, 16)
    except ValueError:
        raise argparse.ArgumentTypeError("colour must be RRGGBB") from None
    return ((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF)


def darker(c, f=0.55):
    return tuple(int(v * f) for v in c)


# ---- shapes, in unit coordinates (0..1 across the icon, y downwards) ----

def in_round_rect(x, y, x0, y0, x1, y1, r):
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def in_circle(x, y, cx, cy, r):
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def in_arrow(x, y, cx, cy, s):
    """An upward arrow centred on (cx, cy) that fits a square of side 2*s."""
    u, v = (x - cx) / s, (y - cy) / s
    head = -1.0 <= v <= 0.05 and abs(u) <= (v + 1.0) * 0.95
    shaft = 0.0 <= v <= 0.95 and abs(u) <= 0.36
    return head or shaft


def scene(body, badge, size):
    """Layers from back to front: (test, colour). The first layer that hits, from the front,
    gives the colour of a point; none hitting means transparent."""
    outline = darker(body, 0.45)
    badge_rim = (0xFF, 0xFF, 0xFF)

    def snap(v):
        # Round shapes centred on a pixel centre stay symmetric in the small flat images.
        return (int(v * size) + 0.5) / size

    bx, by = snap(0.33), snap(0.66)
    # At 16 pixels the badge and its arrow get a larger share of the picture, or the arrow
    # shrinks to a blot.
    small = size <= 16
    ax = ay = snap(0.68 if small else 0.71)
    rim, disc, arrow = (0.33, 0.29, 0.2) if small else (0.29, 0.235, 0.17)
    return [
        (lambda x, y: in_round_rect(x, y, 0.10, 0.02, 0.70, 0.98, 0.13), outline),
        (lambda x, y: in_round_rect(x, y, 0.15, 0.07, 0.65, 0.93, 0.09), body),
        (lambda x, y: in_round_rect(x, y, 0.22, 0.15, 0.58, 0.45, 0.03), (0x10, 0x20, 0x30)),
        (lambda x, y: in_round_rect(x, y, 0.26, 0.19, 0.54, 0.41, 0.02), (0x60, 0xE0, 0xF0)),
        (lambda x, y: in_circle(x, y, bx, by, 0.085), (0xF0, 0xF0, 0xF0)),
        (lambda x, y: in_circle(x, y, ax, ay, rim), badge_rim),
        (lambda x, y: in_circle(x, y, ax, ay, disc), badge),
        (lambda x, y: in_arrow(x, y, ax, ay, arrow), (0xFF, 0xFF, 0xFF)),
    ]


def render(size, layers, samples):
    """Returns rows of (r, g, b, coverage 0..1). samples x samples points per pixel; with
    samples == 1 every pixel takes one flat colour, as palette images need."""
    rows = []
    n = samples * samples
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0]
            hits = 0
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) / size
                    y = (py + (sy + 0.5) / samples) / size
                    for test, colour in reversed(layers):
                        if test(x, y):
                            acc[0] += colour[0]
                            acc[1] += colour[1]
                            acc[2] += colour[2]
                            hits += 1
                            break
            if hits:
                row.append((round(acc[0] / hits), round(acc[1] / hits), round(acc[2] / hits), hits / n))
            else:
                row.append((0, 0, 0, 0.0))
        rows.append(row)
    return rows


def nearest(palette, c):
    best, best_d = 0, None
    for i, p in enumerate(palette):
        d = (p[0] - c[0]) ** 2 + (p[1] - c[1]) ** 2 + (p[2] - c[2]) ** 2
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


def median_cut(colours, limit):
    """Reduces a list of distinct colours to at most `limit` representatives."""
    boxes = [list(colours)]
    while len(boxes) < limit:
        boxes.sort(key=lambda b: max(max(c[k] for c in b) - min(c[k] for c in b) for k in range(3)))
        box = boxes.pop()
        if len(box) < 2:
            boxes.append(box)
            break
        k = max(range(3), key=lambda k: max(c[k] for c in box) - min(c[k] for c in box))
        box.sort(key=lambda c: c[k])
        mid = len(box) // 2
        boxes += [box[:mid], box[mid:]]
    return [tuple(sum(c[k] for c in b) // len(b) for k in range(3)) for b in boxes]


def opaque(px):
    return px[3] >= 0.5


def row_bytes(bits_per_row):
    return ((bits_per_row + 31) // 32) * 4


def pack_indices(indices, bpp):
    out = bytearray()
    if bpp == 8:
        out += bytes(indices)
    else:  # 4 bpp: high nibble first
        for i in range(0, len(indices), 2):
            hi = indices[i]
            lo = indices[i + 1] if i + 1 < len(indices) else 0
            out.append((hi << 4) | lo)
    return out


def encode_image(size, bpp, body, badge):
    """One icon image: BITMAPINFOHEADER, palette, XOR bitmap, AND mask (rows bottom-up)."""
    pixels = render(size, scene(body, badge, size), 1 if bpp == 4 else 4)
    palette = []
    if bpp == 4:
        palette = VGA16
    elif bpp == 8:
        used = sorted({px[:3] for row in pixels for px in row if opaque(px)})
        palette = used if len(used) <= 255 else median_cut(used, 255)
        palette = [(0, 0, 0)] + palette  # index 0 fills the transparent pixels
        palette += [(0, 0, 0)] * (256 - len(palette))

    xor = bytearray()
    for row in reversed(pixels):
        if bpp == 24:
            line = bytearray()
            for px in row:
                r, g, b = px[:3] if opaque(px) else (0, 0, 0)
                line += bytes((b, g, r))
        else:
            cache = {}
            idx = []
            for px in row:
                if not opaque(px):
                    idx.append(0)
                    continue
                c = px[:3]
                if c not in cache:
                    # Index 0 of the 8-bit palette is the transparent filler; search from 1.
                    cache[c] = nearest(palette, c) if bpp == 4 else 1 + nearest(palette[1:], c)
                idx.append(cache[c])
            line = pack_indices(idx, bpp)
        line += b"\0" * (row_bytes(size * bpp) - len(line))
        xor += line

    mask = bytearray()
    for row in reversed(pixels):
        bits = 0
        line = bytearray()
        for x, px in enumerate(row):
            bits = (bits << 1) | (0 if opaque(px) else 1)
            if x % 8 == 7:
                line.append(bits)
                bits = 0
        if size % 8:
            line.append(bits << (8 - size % 8))
        line += b"\0" * (row_bytes(size) - len(line))
        mask += line

    colours = len(palette)
    header = struct.pack(
        "<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, len(xor) + len(mask), 0, 0, colours, 0
    )
    pal = b"".join(bytes((b, g, r, 0)) for (r, g, b) in palette)
    return header + pal + bytes(xor) + bytes(mask)


def build_ico(body, badge):
    images = [(size, bpp, encode_image(size, bpp, body, badge)) for size in SIZES for bpp in DEPTHS]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, bpp, data in images:
        colour_count = 16 if bpp == 4 else 0
        out += struct.pack("<BBBBHHII", size, size, colour_count, 0, 1, bpp, len(data), offset)
        offset += len(data)
    for _, _, data in images:
        out += data
    return bytes(out)


def main(argv):
    ap = argparse.ArgumentParser(description="Write the application icon.")
    ap.add_argument("-o", "--output", required=True, help="the .ico file to write")
    ap.add_argument("--body", type=parse_colour, default=parse_colour("1E46C8"),
                    help="colour of the tracker's case, RRGGBB")
    ap.add_argument("--badge", type=parse_colour, default=parse_colour("20A040"),
                    help="colour of the arrow badge, RRGGBB")
    args = ap.parse_args(argv)
    data = build_ico(args.body, args.badge)
    with open(args.output, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
