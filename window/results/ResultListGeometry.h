// The pixel arithmetic of the search-result list, apart from the widget so
// tests drive it directly: where the columns stand once the list is
// scrolled sideways, which row or column divider a point falls on, where a
// row's tick box is, and how far the list scrolls.
//
// Coordinates are the list area's (the viewport's): x grows to the right
// from the area's left edge, y down from just under the header. The list
// scrolls by whole rows downwards and by pixels sideways.
#pragma once

#include <QList>
#include <QRect>

struct ResultListGeometry
{
    // Room kept on each side of a cell's text, in pixels.
    static constexpr int kCellPadding = 3;
    // The side of a row's tick box, its border included, in pixels.
    static constexpr int kTickSize = 15;
    // Between the tick box and the first column's text, in pixels.
    static constexpr int kTickGap = 5;
    // How near a column's right edge the pointer must be to drag it.
    static constexpr int kDividerGrip = 4;
    // Columns are never narrower than this, so none can vanish by a drag.
    static constexpr int kMinColumnWidth = 8;

    QList<int> columnWidths;
    int rowHeight = 24;
    int viewWidth = 0;
    int viewHeight = 0;
    int firstRow = 0; // the row shown at the top
    int scrollX = 0;  // pixels scrolled sideways

    int totalWidth() const;
    // Left edge of a column in view coordinates (scrolled), or of the space
    // after the last column when column == columnWidths.size().
    int columnLeft(int column) const;
    // The column under view x, or -1 past the last one.
    int columnAt(int x) const;
    // The column whose right edge is within kDividerGrip of view x, or -1.
    // Where two edges are near, the right-most column wins, so a column
    // dragged to its least width can still be widened again.
    int dividerAt(int x) const;

    // Rows that fit wholly in the view (at least 1).
    int rowsPerPage() const;
    // The row under view y of a list of rowCount rows, or -1.
    int rowAt(int y, int rowCount) const;
    // A row's rectangle across all columns, in view coordinates.
    QRect rowRect(int row) const;
    // The tick box of a row, in the first column after its left padding.
    QRect tickRect(int row) const;

    // The largest firstRow and scrollX for a list of rowCount rows.
    int maxFirstRow(int rowCount) const;
    int maxScrollX() const;
    // The firstRow that brings row into view, moving as little as possible.
    int firstRowShowing(int row, int rowCount) const;
};
