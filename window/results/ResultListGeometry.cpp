#include "window/results/ResultListGeometry.h"

#include <algorithm>
#include <cstdlib>

int ResultListGeometry::totalWidth() const
{
    int width = 0;
    for (const int w : columnWidths)
        width += w;
    return width;
}

int ResultListGeometry::columnLeft(int column) const
{
    int x = -scrollX;
    for (int c = 0; c < column && c < columnWidths.size(); ++c)
        x += columnWidths.at(c);
    return x;
}

int ResultListGeometry::columnAt(int x) const
{
    int left = -scrollX;
    for (int c = 0; c < columnWidths.size(); ++c) {
        const int right = left + columnWidths.at(c);
        if (x >= left && x < right)
            return c;
        left = right;
    }
    return -1;
}

int ResultListGeometry::dividerAt(int x) const
{
    int found = -1;
    int right = -scrollX;
    for (int c = 0; c < columnWidths.size(); ++c) {
        right += columnWidths.at(c);
        if (std::abs(x - right) <= kDividerGrip)
            found = c;
    }
    return found;
}

int ResultListGeometry::rowsPerPage() const
{
    return rowHeight > 0 ? std::max(1, viewHeight / rowHeight) : 1;
}

int ResultListGeometry::rowAt(int y, int rowCount) const
{
    if (y < 0 || rowHeight <= 0)
        return -1;
    const qint64 row = qint64(firstRow) + y / rowHeight;
    return row < rowCount ? int(row) : -1;
}

QRect ResultListGeometry::rowRect(int row) const
{
    return QRect(-scrollX, (row - firstRow) * rowHeight,
                 std::max(totalWidth(), viewWidth + scrollX), rowHeight);
}

QRect ResultListGeometry::tickRect(int row) const
{
    const int top = (row - firstRow) * rowHeight + (rowHeight - kTickSize) / 2;
    return QRect(columnLeft(0) + kCellPadding, top, kTickSize, kTickSize);
}

int ResultListGeometry::maxFirstRow(int rowCount) const
{
    return std::max(0, rowCount - rowsPerPage());
}

int ResultListGeometry::maxScrollX() const
{
    return std::max(0, totalWidth() - viewWidth);
}

int ResultListGeometry::firstRowShowing(int row, int rowCount) const
{
    int first = firstRow;
    if (row < first)
        first = row;
    else if (row >= first + rowsPerPage())
        first = row - rowsPerPage() + 1;
    return std::clamp(first, 0, maxFirstRow(rowCount));
}
