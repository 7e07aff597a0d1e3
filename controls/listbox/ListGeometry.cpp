#include "controls/listbox/ListGeometry.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <limits>

namespace listgeo {

namespace {

// Int() of a quotient: rounds towards minus infinity.
int floorDiv(double a, double b)
{
    return static_cast<int>(std::floor(a / b));
}

int safeItemHeight(int itemHeight)
{
    return boundedItemHeight(itemHeight);
}

// A pixel coordinate computed in 64 bits, brought back into int range.
// How many characters past a prefix shaping can still narrow it.
constexpr int kShapingReach = 8;

int clampToInt(qint64 value)
{
    return int(std::clamp<qint64>(value, std::numeric_limits<int>::min(),
                                  std::numeric_limits<int>::max()));
}

} // namespace

int boundedItemHeight(int itemHeight)
{
    return std::clamp(itemHeight, 1, kMaxItemHeight);
}

int rowHeight(const Layout &layout)
{
    return safeItemHeight(layout.itemHeight);
}

int inset(const Layout &layout)
{
    return layout.border ? layout.borderWidth : 0;
}

int innerHeight(const Layout &layout)
{
    return layout.height - 2 * inset(layout);
}

int rowWidth(const Layout &layout)
{
    return layout.width - (layout.barVisible ? layout.barWidth : 0) - 2 * inset(layout);
}

int rowTop(const Layout &layout, int firstIndex, int item)
{
    return clampToInt((qint64(item) - firstIndex) * safeItemHeight(layout.itemHeight) +
                      inset(layout));
}

int lastRowIndex(const Layout &layout, int firstIndex)
{
    return floorDiv(innerHeight(layout), safeItemHeight(layout.itemHeight)) + firstIndex + 1;
}

QRect rowRect(const Layout &layout, int firstIndex, int item)
{
    if (item < firstIndex)
        return {};
    return QRect(inset(layout), rowTop(layout, firstIndex, item), rowWidth(layout),
                 safeItemHeight(layout.itemHeight));
}

int hitTest(double y, int borderWidth, int itemHeight, int firstIndex)
{
    const double row = std::floor((y - borderWidth) / safeItemHeight(itemHeight));
    // Positions far outside the control must not wrap around into a
    // valid-looking index.
    const double index = std::clamp(row + firstIndex, -1.0, 1.0e9);
    return static_cast<int>(index);
}

ScrollRange scrollRange(int count, int innerHeight, int itemHeight)
{
    if (count <= 0)
        return {0, false};
    const int height = safeItemHeight(itemHeight);
    // Fix(): the whole rows that fit, truncated towards zero.
    const int rowsThatFit = static_cast<int>(std::trunc(double(innerHeight) / height));
    return {count - rowsThatFit, qint64(innerHeight) < qint64(height) * count};
}

int wheelStep(int innerHeight, int itemHeight)
{
    return static_cast<int>(std::floor(double(innerHeight) / safeItemHeight(itemHeight) * 0.2 + 1));
}

int wheelTarget(int value, int max, int delta, int step)
{
    if (delta == 0)
        return value;
    int target = delta < 0 ? value + step : value - step;
    if (target < 0)
        target = 0;
    if (target > max)
        target = max;
    return target;
}

QRect barRect(const Layout &layout, int barWidth)
{
    if (layout.border)
        return QRect(layout.width - barWidth - layout.borderWidth, layout.borderWidth, barWidth,
                     layout.height - 2 * layout.borderWidth);
    return QRect(layout.width - barWidth, 0, barWidth, layout.height);
}

RowCells rowCells(const Layout &layout, int numberWidth, int authorWidth, int timeWidth)
{
    const int x0 = inset(layout);
    const int width = rowWidth(layout);
    RowCells cells;
    cells.number = {x0, numberWidth};
    cells.title = {x0 + numberWidth + 2, width - numberWidth - authorWidth - timeWidth};
    cells.author = {width - timeWidth - authorWidth, authorWidth};
    cells.time = {width - timeWidth, timeWidth};
    return cells;
}

int centredTop(int rowTop, int itemHeight, int contentHeight)
{
    // nearbyint rounds halves to even in the default rounding mode.
    return rowTop + static_cast<int>(std::nearbyint((itemHeight - contentHeight) / 2.0));
}

TextFit fitText(const QString &text, int cellWidth, const Measure &measure)
{
    const int full = measure(text, int(text.size()));
    if (full <= cellWidth)
        return {true, int(text.size()), full};

    const QString ellipsis = QString::fromUtf16(kEllipsis);
    const int room = cellWidth - measure(ellipsis, int(ellipsis.size()));
    // Longest prefix that leaves room for the ellipsis. Prefix widths mostly
    // grow with the length, so a binary search finds it without measuring a
    // very long title thousands of times; the scan below corrects it where
    // they do not.
    int lo = 0;
    int hi = int(text.size());
    while (lo < hi) {
        const int mid = lo + (hi - lo + 1) / 2;
        if (measure(text, mid) <= room)
            lo = mid;
        else
            hi = mid - 1;
    }
    // Shaping can make a longer prefix narrower than a shorter one (joining
    // scripts such as Arabic take narrower forms as characters join), which
    // the search above cannot see. Joins only reach a few characters, so
    // the longest fitting prefix lies at most that far past the one found:
    // try those from the longest down, as a scan of every length would.
    const int reach = std::min(int(text.size()), lo + kShapingReach);
    for (int n = reach; n > lo; --n) {
        if (measure(text, n) <= room) {
            lo = n;
            break;
        }
    }
    int chars = lo;
    // Never cut a character in half.
    if (chars > 0 && text.at(chars - 1).isHighSurrogate())
        --chars;
    if (chars == 0) {
        // Nothing fits: the ellipsis still starts after the first character.
        const int firstLength = text.size() > 1 && text.at(0).isHighSurrogate() ? 2 : 1;
        return {false, 0, text.isEmpty() ? 0 : measure(text, firstLength)};
    }
    return {false, chars, measure(text, chars)};
}

CutPlacement placeCut(const TextFit &fit, int x, int width, int ellipsisWidth, bool rightToLeft)
{
    if (!rightToLeft)
        return {x, x + fit.prefixWidth};
    const int textLeft = x + width - fit.prefixWidth;
    return {textLeft, textLeft - ellipsisWidth};
}

} // namespace listgeo
