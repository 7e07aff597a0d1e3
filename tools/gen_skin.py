#!/usr/bin/env python3
"""Generates the scroll-bar skin bitmaps and the playing mark of Velmor.

Everything is drawn here from a few colours, with the standard library only,
and written as plain 24-bit BMP and 32-bit ICO bytes, so the output is the
same on every run. Usage: tools/gen_skin.py [output folder]
(default: resources/skin next to this script's parent folder).

Theme: flat dark grey with teal accents. Each part holds all of its states in
one picture, side by side or stacked, as the scroll-bar painter slices them:
  arrow buttons  normal, pointer inside the bar, hot, pressed, disabled
  tracks         normal, pressed
  thumbs         normal, hot, pressed, disabled
Magenta (255, 0, 255) is the transparent colour of glyphs and grips.
"""
import os
import struct
import sys

MAGENTA = (255, 0, 255)

TRACK = (0x26, 0x2A, 0x2E)
TRACK_EDGE = (0x1C, 0x1F, 0x22)
TRACK_PRESSED = (0x17, 0x45, 0x41)
TRACK_PRESSED_EDGE = (0x12, 0x33, 0x30)

# (body, border) per thumb state: normal, hot, pressed, disabled
THUMB = [
    ((0x4B, 0x55, 0x5C), (0x5E, 0x69, 0x71)),
    ((0x2C, 0x9C, 0x92), (0x45, 0xC4, 0xB8)),
    ((0x1E, 0x7A, 0x72), (0x2A, 0x96, 0x8C)),
    ((0x33, 0x37, 0x3B), (0x3A, 0x3F, 0x43)),
]
GRIP = [(0x8C, 0x97, 0x9E), (0xE8, 0xFF, 0xFC), (0xC8, 0xF0, 0xEB), (0x44, 0x49, 0x4D)]

# Button face per state: normal, inside, hot, pressed, disabled
BUTTON_FACE = [TRACK, (0x31, 0x36, 0x3B), (0x2C, 0x9C, 0x92), (0x1E, 0x7A, 0x72), TRACK]
GLYPH = [(0x8A, 0x94, 0x9B), (0xB8, 0xC3, 0xC9), (0xFF, 0xFF, 0xFF), (0xE0, 0xF7, 0xF4),
         (0x48, 0x4E, 0x53)]

ICON_FILL = (0x3F, 0xD0, 0xC2)


def canvas(width, height, colour):
    return [[colour] * width for _ in range(height)]


def transpose(pixels):
    return [list(row) for row in zip(*pixels)]


def paste(dst, src, x0, y0):
    for y, row in enumerate(src):
        for x, colour in enumerate(row):
            dst[y0 + y][x0 + x] = colour


def flip_vertical(pixels):
    return [list(row) for row in reversed(pixels)]


def flip_horizontal(pixels):
    return [list(reversed(row)) for row in pixels]


def bmp24(pixels):
    height = len(pixels)
    width = len(pixels[0])
    stride = (width * 3 + 3) & ~3
    body = bytearray()
    for row in reversed(pixels):  # bottom-up
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += b"\0" * (stride - len(line))
        body += line
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(body), 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(body), 2835, 2835, 0, 0)
    return header + info + bytes(body)


# --- parts, drawn horizontally (x along the bar, y across it) -------------

def track_tile(pressed):
    """2 px along x 17 px across: edge lines at the outer rows."""
    fill = TRACK_PRESSED if pressed else TRACK
    edge = TRACK_PRESSED_EDGE if pressed else TRACK_EDGE
    tile = canvas(2, 17, fill)
    for x in range(2):
        tile[0][x] = edge
        tile[16][x] = edge
    return tile


def thumb_tile(state):
    """15 along x 17 across: a rounded bar inset 2 px from the track edges."""
    body, border = THUMB[state]
    tile = canvas(15, 17, TRACK)
    for y in range(2, 15):
        for x in range(15):
            outer_y = y in (2, 14)
            outer_x = x in (0, 14)
            if outer_x and outer_y:
                continue  # rounded corner: the track shows through
            tile[y][x] = border if (outer_x or outer_y) else body
    return tile


def grip_tile(state):
    """10 along x 9 across: three ridges across the thumb, the middle one
    two pixels wide so that the grip is symmetric in an even width."""
    tile = canvas(10, 9, MAGENTA)
    for x in (2, 4, 5, 7):
        for y in range(2, 7):
            tile[y][x] = GRIP[state]
    return tile


def button_frame(state):
    """18 along x 17 across: a rounded face, flat with the track at rest."""
    face = BUTTON_FACE[state]
    tile = canvas(18, 17, TRACK)
    for y in range(1, 16):
        for x in range(1, 17):
            if x in (1, 16) and y in (1, 15):
                continue
            tile[y][x] = face
    return tile


def arrow_glyph(state, pointing_back):
    """18 along x 17 across: a solid triangle pointing back (left) or forward."""
    tile = canvas(18, 17, MAGENTA)
    tip = 6
    for step in range(5):  # columns of the triangle, from its tip
        x = tip + step
        for y in range(8 - step, 9 + step):
            tile[y][x] = GLYPH[state]
    return tile if pointing_back else flip_horizontal(tile)


def strip_along(tiles):
    """Tiles placed one after another along x (states side by side)."""
    width = sum(len(t[0]) for t in tiles)
    out = canvas(width, len(tiles[0]), MAGENTA)
    x = 0
    for tile in tiles:
        paste(out, tile, x, 0)
        x += len(tile[0])
    return out


def strip_stacked(tiles):
    """Tiles placed one under another (states stacked)."""
    out = []
    for tile in tiles:
        out += [list(row) for row in tile]
    return out


def skin():
    """Returns {resource name: pixel rows}."""
    tracks = [track_tile(False), track_tile(True)]
    thumbs = [thumb_tile(s) for s in range(4)]
    frames = [button_frame(s) for s in range(5)]
    back_glyphs = [arrow_glyph(s, True) for s in range(5)]
    fwd_glyphs = [arrow_glyph(s, False) for s in range(5)]
    return {
        # horizontal bar: tiles as drawn
        "SCRBACKH": strip_along(tracks),
        "SCRTHUMBH": strip_stacked(thumbs),
        "SCRGRIPH": strip_stacked([grip_tile(s) for s in range(4)]),
        "SCRARROWH": strip_along(frames),
        "SCRARROWHL": strip_along(back_glyphs),
        "SCRARROWHR": strip_along(fwd_glyphs),
        # vertical bar: the same tiles turned a quarter (x across, y along)
        "SCRBACKV": strip_stacked([transpose(t) for t in tracks]),
        "SCRTHUMBV": strip_along([transpose(t) for t in thumbs]),
        # Vertical thumbs carry no grip: the picture is all transparent.
        "SCRGRIPV": canvas(9, 40, MAGENTA),
        "SCRARROWV": strip_stacked([transpose(t) for t in frames]),
        "SCRARROWVT": strip_stacked([transpose(t) for t in back_glyphs]),
        "SCRARROWVB": strip_stacked([transpose(t) for t in fwd_glyphs]),
    }


# --- the playing mark -----------------------------------------------------

def play_icon():
    """12 x 12 32-bit icon: a soft teal play triangle with a speaker-like
    glow, edges smoothed by 4 x 4 supersampling."""
    size = 12
    samples = 4
    # Triangle pointing right: (2.5, 1.5) (2.5, 10.5) (10.5, 6)
    ax, ay, bx, by, cx, cy = 2.5, 1.5, 2.5, 10.5, 10.5, 6.0

    def inside(px, py):
        def side(x1, y1, x2, y2):
            return (x2 - x1) * (py - y1) - (y2 - y1) * (px - x1)
        d1 = side(ax, ay, bx, by)
        d2 = side(bx, by, cx, cy)
        d3 = side(cx, cy, ax, ay)
        has_neg = d1 < 0 or d2 < 0 or d3 < 0
        has_pos = d1 > 0 or d2 > 0 or d3 > 0
        return not (has_neg and has_pos)

    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            hits = 0
            for sy in range(samples):
                for sx in range(samples):
                    if inside(x + (sx + 0.5) / samples, y + (sy + 0.5) / samples):
                        hits += 1
            alpha = (hits * 255 + samples * samples // 2) // (samples * samples)
            # a touch lighter towards the top, for a little depth
            shade = 18 - 3 * y
            r, g, b = (max(0, min(255, c + shade)) for c in ICON_FILL)
            row.append((r, g, b, alpha))
        rows.append(row)

    xor = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            # premultiplied-free BGRA, colour zeroed where fully transparent
            xor += bytes((b, g, r, a)) if a else b"\0\0\0\0"
    and_mask = bytearray()
    for row in reversed(rows):
        bits = 0
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits |= 1 << (31 - x)
        and_mask += struct.pack(">I", bits)
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(and_mask),
                       0, 0, 0, 0)
    image = info + bytes(xor) + bytes(and_mask)
    header = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), 6 + 16)
    return header + entry + image


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources", "skin")
    os.makedirs(out_dir, exist_ok=True)
    for name, pixels in skin().items():
        with open(os.path.join(out_dir, name + ".bmp"), "wb") as f:
            f.write(bmp24(pixels))
    icon = play_icon()
    assert len(icon) == 686, len(icon)
    with open(os.path.join(out_dir, "PLAYICON.ico"), "wb") as f:
        f.write(icon)


if __name__ == "__main__":
    main()
