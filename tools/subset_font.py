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

The glyphs the window draws at start-up (its own captions, menus and
messages, read from a list of files) are stored first and without
subroutines, right after the Latin ones. FreeType maps the face and the
kernel brings in pages in stretches around each glyph read: glyphs spread
over the whole face would make nearly all of it resident for a few dozen
captions, while stored together they take a few pages.

The face is renamed (the licence asks that a modified version not pass for
the original, and the new family keeps Qt from confusing the cut with the
system's full face of the same name) and keeps its copyright and licence
records. The SIL Open Font License 1.1 permits this modification; its text
goes beside the face (resources/fonts/OFL.txt).

Usage: subset_font.py SOURCE.ttc OUTPUT.otf [TEXT_FILE...]
       (needs python3-fonttools; the text files hold the window's own texts)
"""
import io
import re
import sys

from fontTools import subset
from fontTools.ttLib import TTCollection, TTFont

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


def text_characters(paths):
    chars = set()
    for path in paths:
        with open(path, encoding="utf-8") as f:
            chars.update(ord(c) for c in f.read())
    return chars


def layout_dump(font):
    """The substitution and positioning tables as XML, glyphs by name."""
    out = io.StringIO()
    font.saveXML(out, tables=[t for t in ("GSUB", "GPOS") if t in font])
    return out.getvalue().split("\n", 2)[-1]


def glyph_data(font):
    """Each glyph's outline program, advance and characters, by name."""
    top = font["CFF "].cff.topDictIndex[0]
    programs = {}
    for name in font.getGlyphOrder():
        charstring = top.CharStrings[name]
        charstring.decompile()
        programs[name] = tuple(charstring.program)
    cmap = sorted((code, name) for code, name in font.getBestCmap().items())
    return programs, dict(font["hmtx"].metrics), cmap


def store_first(font, first_codes):
    """Moves the glyphs of first_codes to the front of the face.

    Glyphs named by the substitution and positioning tables keep their
    order relative to each other (their coverage lists are stored sorted by
    glyph number and index other arrays), so only glyphs those tables do not
    name move; the leading run of Latin glyphs, which they do name, already
    sits at the front. The face is rebuilt from its own bytes and checked
    glyph by glyph against the order it had.
    """
    # A fresh, fully read copy: tables read after the new order is set
    # would be decoded with it.
    buffer = io.BytesIO()
    font.save(buffer)
    buffer.seek(0)
    font = TTFont(buffer)
    font.ensureDecompiled()
    before_layout = layout_dump(font)
    before_glyphs = glyph_data(font)

    order = font.getGlyphOrder()
    cmap = font.getBestCmap()
    in_layout = set(re.findall(r'"(cid\d+|\.notdef)"', before_layout))
    moving = {cmap[c] for c in first_codes if c in cmap} - in_layout
    front = [name for name in order if name in moving]
    rest = [name for name in order if name not in moving]
    # The leading run already at the front (".notdef", then Latin) stays
    # there, ahead of the moved glyphs.
    lead = 1
    while lead < len(rest) and rest[lead] == order[lead]:
        lead += 1
    new_order = rest[:lead] + front + rest[lead:]

    top = font["CFF "].cff.topDictIndex[0]
    old_index = {name: i for i, name in enumerate(order)}
    old_fd = list(top.FDSelect)
    top.FDSelect.gidArray = [old_fd[old_index[name]] for name in new_order]
    top.charset = new_order
    font.setGlyphOrder(new_order)

    buffer = io.BytesIO()
    font.save(buffer)
    buffer.seek(0)
    result = TTFont(buffer)
    result.ensureDecompiled()
    if layout_dump(result) != before_layout or glyph_data(result) != before_glyphs:
        sys.exit("subset_font.py: the reordered face does not match the cut")
    if result.getGlyphOrder()[lead:lead + len(front)] != front:
        sys.exit("subset_font.py: the window's glyphs are not at the front")
    return result


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    source, output = sys.argv[1], sys.argv[2]
    first_codes = text_characters(sys.argv[3:])
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
    # Each glyph's outline in one place: shared subroutines would be read
    # from all over the face for the few glyphs drawn.
    options.desubroutinize = True
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
    font = store_first(font, first_codes)
    subset.save_font(font, output, options)


if __name__ == "__main__":
    main()
