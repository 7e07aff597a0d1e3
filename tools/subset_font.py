#!/usr/bin/python3
"""Cuts the window's font out of the system's Noto Sans CJK SC face.

The full face holds some 65,000 glyphs for four languages; the window shows
simplified Chinese, Latin and punctuation. Keeping only the GB 2312 character
set (its 6,763 hanzi with its punctuation, kana, Greek and Cyrillic rows),
ASCII, Latin-1, CJK punctuation, general punctuation and the full-width forms
makes a face a tenth of the size that the player maps instead of the full
one. Anything outside the cut (traditional hanzi, kana beyond GB 2312,
hangul) is drawn by the system's full faces through fontconfig's fallback,
which are then loaded only when such a title is shown.

The face is renamed (the licence asks that a modified version not pass for
the original, and the new family keeps Qt from confusing the cut with the
system's full face of the same name) and keeps its copyright and licence
records. The SIL Open Font License 1.1 permits this modification; its text
goes beside the face (resources/fonts/OFL.txt).

Usage: subset_font.py SOURCE.ttc OUTPUT.otf   (needs python3-fonttools)
"""
import sys

from fontTools import subset
from fontTools.ttLib import TTCollection

# The family the window asks for; the resources and the code use this name.
FAMILY = "Velmor Sans CJK"
POSTSCRIPT = "VelmorSansCJK-Regular"
# The simplified Chinese member of the collection.
SC_NAME = "Noto Sans CJK SC"

RANGES = [
    (0x20, 0x7E),      # ASCII
    (0xA0, 0xFF),      # Latin-1
    (0x2010, 0x2027),  # general punctuation: dashes, quotes, ellipsis
    (0x3000, 0x303F),  # CJK symbols and punctuation
    (0xFF00, 0xFFEF),  # half-width and full-width forms
]


def gb2312_characters():
    chars = set()
    for lead in range(0xA1, 0xF8):
        for trail in range(0xA1, 0xFF):
            try:
                chars.add(ord(bytes([lead, trail]).decode("gb2312")))
            except UnicodeDecodeError:
                pass
    return chars


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    source, output = sys.argv[1], sys.argv[2]
    collection = TTCollection(source, lazy=True)
    index = next(i for i, f in enumerate(collection.fonts)
                 if f["name"].getDebugName(1) == SC_NAME)
    collection.close()

    unicodes = gb2312_characters()
    for first, last in RANGES:
        unicodes.update(range(first, last + 1))

    options = subset.Options()
    options.font_number = index
    options.name_IDs = ["*"]
    options.name_languages = ["*"]
    options.hinting = False
    # Horizontal simplified Chinese and Latin only: vertical forms and
    # metrics and the other regions' glyph variants (locl) would double the
    # glyph count.
    options.drop_tables += ["vhea", "vmtx", "VORG"]
    options.layout_features = ["ccmp", "liga", "calt", "kern", "mark", "mkmk"]
    font = subset.load_font(source, options)
    subsetter = subset.Subsetter(options)
    subsetter.populate(unicodes=unicodes)
    subsetter.subset(font)

    names = font["name"]
    for record in list(names.names):
        if record.nameID in (1, 4, 16, 21):
            names.setName(FAMILY, record.nameID, record.platformID, record.platEncID, record.langID)
        elif record.nameID in (3, 6, 20):
            names.setName(POSTSCRIPT, record.nameID, record.platformID, record.platEncID,
                          record.langID)
    cff = font["CFF "].cff
    cff.fontNames = [POSTSCRIPT]
    top = cff.topDictIndex[0]
    top.FullName = FAMILY
    top.FamilyName = FAMILY
    subset.save_font(font, output, options)


if __name__ == "__main__":
    main()
