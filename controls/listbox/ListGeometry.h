// Pixel arithmetic of the playlist control, kept apart from the widget so
// the tests can check it directly: row and cell positions, the hit test,
// the scroll range and wheel step, the scroll bar's place and the cutting
// of text that does not fit its cell. All values are pixels of the
// control; rows are counted from the item shown in the top row.
#pragma once

#include <QRect>
#include <QString>

#include <functional>

namespace listgeo {

// What the geometry depends on: the control's size, its border and row
// height, and whether the embedded bar currently takes room from the rows.
// The tallest row the control draws: taller than any screen, and small
// enough that a row's offset from the top row (at most twice the 16-bit
// index range) times it stays far inside 32-bit pixel arithmetic.
inline constexpr int kMaxItemHeight = 16384;

// A stored row height as the geometry uses it: 1 … kMaxItemHeight.
int boundedItemHeight(int itemHeight);

struct Layout
{
    int width = 0;
    int height = 0;
    bool border = true;
    int borderWidth = 1;
    int itemHeight = 18;
    bool barVisible = false;
    int barWidth = 0;
};

// Left and top edge of the rows (x0 = y0).
int inset(const Layout &layout);
// Height available to rows: the control less the border on both sides.
int innerHeight(const Layout &layout);
// Width of every row: the control less the bar and the border.
int rowWidth(const Layout &layout);
int rowTop(const Layout &layout, int firstIndex, int item);
// Height of the rows: the layout's row height bounded as above.
int rowHeight(const Layout &layout);
// Index of the last row the view reaches: every row that fits plus the one
// cut by the bottom edge. May lie past the last item.
int lastRowIndex(const Layout &layout, int firstIndex);
// The row of item m, or an empty rectangle for an item above the view.
QRect rowRect(const Layout &layout, int firstIndex, int item);

// Item index under a vertical position. The border width is subtracted
// whether or not the border is shown; the caller checks the result against
// the list.
int hitTest(double y, int borderWidth, int itemHeight, int firstIndex);

struct ScrollRange
{
    int max = 0;
    bool visible = false;
};
// Range of the embedded bar so that, at its maximum, the last item is the
// last whole row. max may be 0 or below when everything fits; the bar lifts
// it to its minimum.
ScrollRange scrollRange(int count, int innerHeight, int itemHeight);
// Rows moved by one wheel notch: a fifth of the rows that fit, plus one.
int wheelStep(int innerHeight, int itemHeight);
// Bar value after one wheel notch; delta > 0 turns away from the user
// (towards the top), delta < 0 towards the user. A zero delta keeps value.
int wheelTarget(int value, int max, int delta, int step);

// Where the embedded vertical bar sits: along the right edge, inside the
// border when there is one. The bar keeps its own width.
QRect barRect(const Layout &layout, int barWidth);

// Horizontal extent of a cell of a row.
struct Cell
{
    int x = 0;
    int width = 0;
};
struct RowCells
{
    Cell number;
    Cell title;
    Cell author;
    Cell time;
};
// The four cells of a row, left to right. The author and time cells are
// placed from the row width without the left inset; that is how the rows
// have always looked, so it is kept.
RowCells rowCells(const Layout &layout, int numberWidth, int authorWidth, int timeWidth);

// Top of something contentHeight high centred in a row, with halves
// rounded to even as the row layout always has.
int centredTop(int rowTop, int itemHeight, int contentHeight);

// How a text is shortened to fit a cell. When it fits, all of it is drawn
// with the cell's alignment. Otherwise the first `chars` characters (the
// logical start, whatever the direction) are kept and the ellipsis follows
// them where the text's direction ends: see placeCut.
struct TextFit
{
    bool fits = true;
    int chars = 0;
    int prefixWidth = 0;
};
// measure(text, n) gives the width of the first n characters of text.
using Measure = std::function<int(const QString &text, int length)>;
TextFit fitText(const QString &text, int cellWidth, const Measure &measure);

// Where a shortened text goes in the cell [x, x + width): a left-to-right
// text's kept start at the cell's left with the ellipsis after it; a
// right-to-left one's at the cell's right, with the ellipsis to its left,
// where a right-to-left reader's line ends.
struct CutPlacement
{
    int textLeft = 0;
    int ellipsisLeft = 0;
};
CutPlacement placeCut(const TextFit &fit, int x, int width, int ellipsisWidth, bool rightToLeft);

// The marker drawn where a shortened text ends (U+2026, the one the result
// list's cut texts end in too).
inline constexpr char16_t kEllipsis[] = u"\u2026";

} // namespace listgeo
