#!/usr/bin/env python3
"""Refreshes the fuzz seed corpora.

    python3 tools/fuzz-seeds.py http://127.0.0.1:PORT   # pages of a running velmor-musicd
    python3 tools/fuzz-seeds.py --icons                 # icon files, drawn here

Search pages are trimmed to their head, a few rows and the pager, so each
seed stays a few KB: the fuzzer mutates small inputs far faster, and every
marker the scraper cuts on is still in the seed. The service's own address
in the pages is rewritten to its default port, which is the picture-server
prefix the singer-page fuzzer looks for.

The icons are drawn pixel by pixel here, one per image kind the icon reader
decodes (1, 4, 8, 16, 24, 32 bits per pixel, an embedded PNG, several
images in one file), beside the player's own playing mark.
"""
import os
import shutil
import struct
import sys
import urllib.parse
import urllib.request
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = os.path.join(ROOT, "fuzz", "corpus")
ROWS_KEPT = 3
DEFAULT_HOST = b"127.0.0.1:18750"


def get(base, path):
    with urllib.request.urlopen(base + path, timeout=10) as answer:
        data = answer.read()
    return data.replace(urllib.parse.urlsplit(base).netloc.encode(), DEFAULT_HOST)


def trim_search_page(page):
    text = page.decode("utf-8")
    body_start = text.find("<tbody>")
    body_end = text.find("</tbody>")
    if body_start < 0 or body_end < 0:
        return page
    rows = text[body_start:body_end].split("</tr>")
    kept = "</tr>".join(rows[:ROWS_KEPT]) + ("</tr>\n\t\t" if len(rows) > ROWS_KEPT else "")
    return (text[:body_start] + kept + text[body_end:]).encode("utf-8")


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def dib(width, height, bits, pixel, palette=(), masks=None):
    """A BITMAPINFOHEADER image with its XOR rows and AND mask, bottom-up."""
    compression = 3 if masks else 0
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, bits, compression, 0, 0, 0,
                         len(palette), 0)
    header += b"".join(struct.pack("<I", m) for m in masks or ())
    header += b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    stride = ((width * bits + 31) // 32) * 4
    mask_stride = ((width + 31) // 32) * 4
    rows = b""
    mask = b""
    for y in reversed(range(height)):
        bits_row = 0
        for x in range(width):
            bits_row = (bits_row << bits) | pixel(x, y)
        row = bits_row.to_bytes((width * bits + 7) // 8, "big") if bits < 8 else b"".join(
            pixel(x, y).to_bytes(bits // 8, "little") for x in range(width))
        rows += row.ljust(stride, b"\0")
        m = 0
        for x in range(width):
            m = (m << 1) | (1 if (x + y) % 5 == 0 else 0)
        mask += m.to_bytes((width + 7) // 8, "big").ljust(mask_stride, b"\0")
    return header + rows + mask


def png(width, height):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(
            ">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    raw = b"".join(b"\0" + b"".join(bytes((x * 16, y * 16, 128, 200)) for x in range(width))
                   for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def icon_file(images):
    """images: (width, height, colours, bits, bytes) per entry."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (w, h, colours, bits, data) in images:
        out += struct.pack("<BBBBHHII", w & 0xFF, h & 0xFF, colours, 0, 1, bits, len(data), offset)
        offset += len(data)
    return out + b"".join(image[4] for image in images)


def icon_seeds():
    grey = [(i * 17, i * 17, i * 17) for i in range(16)]
    ramp = [(i, 255 - i, i // 2) for i in range(256)]
    kinds = {
        "mono": (16, 16, 2, 1, dib(16, 16, 1, lambda x, y: (x ^ y) & 1, [(0, 0, 0), (255, 255, 255)])),
        "grey4": (8, 8, 16, 4, dib(8, 8, 4, lambda x, y: (x + y) % 16, grey)),
        "ramp8": (10, 6, 0, 8, dib(10, 6, 8, lambda x, y: x * 20 + y, ramp)),
        "rgb555": (6, 6, 0, 16, dib(6, 6, 16, lambda x, y: (x << 10) | (y << 5) | 7,
                                   masks=(0x7C00, 0x03E0, 0x001F))),
        "rgb24": (7, 5, 0, 24, dib(7, 5, 24, lambda x, y: (x * 30 << 16) | (y * 40 << 8) | 90)),
        "argb32": (8, 8, 0, 32, dib(8, 8, 32, lambda x, y: ((x * 32) << 24) | (y * 30 << 8) | 200)),
        "png": (0, 0, 0, 32, png(12, 12)),
    }
    for name, image in kinds.items():
        write("fuzz_iconfile", name + ".ico", icon_file([image]))
    write("fuzz_iconfile", "several.ico", icon_file([kinds["mono"], kinds["rgb24"], kinds["png"]]))
    shutil.copy(os.path.join(ROOT, "resources", "skin", "PLAYICON.ico"),
                os.path.join(CORPUS, "fuzz_iconfile", "PLAYICON.ico"))


def main():
    if sys.argv[1] == "--icons":
        icon_seeds()
        return
    base = sys.argv[1].rstrip("/")
    q = urllib.parse.quote
    for name, words in [("onepage", "晴川"), ("entities", "Jerry"), ("brackets", "Remix"),
                        ("lastpage", "starlight&page=3"), ("nomatch", "zzqxnomatch")]:
        words = "&".join(q(part, safe="=") for part in words.split("&"))
        page = get(base, "/app/search/searchList.php?qword=" + words)
        write("fuzz_searchpage", name + ".html", trim_search_page(page))
    for song in ["100001", "100002", "100003", "100006", "99"]:
        answer = get(base, "/app/link/getLinks.php?songId=%s&songArtist=a&songTitle=b" % song)
        write("fuzz_linkanswer", song + ".json", answer)
    for song in ["100001", "100003"]:
        write("fuzz_lrc", song + ".lrc", get(base, "/lrc/%s.lrc" % song))
    for name, singer in [("picture", "晴川"), ("latin", "Tom & Jerry"), ("nopicture", "苏小暖")]:
        write("fuzz_singerpage", name + ".html", get(base, "/search/artist?key=" + q(singer)))


if __name__ == "__main__":
    main()
