#include "controls/scrollbar/ScrollBarGeometry.h"

#include <climits>
#include <cmath>

namespace scrollbar {

namespace {

// Rectangle spanning [from, to) along the axis and [0, across) across it.
ScrollRect alongAxis(int orientation, int from, int to, int across)
{
    if (orientation == kHorizontal)
        return {from, 0, to, across};
    return {0, from, across, to};
}

} // namespace

int roundHalfEven(double value)
{
    if (std::isnan(value))
        return 0;
    const double rounded = std::nearbyint(value); // the default mode rounds halves to even
    if (rounded >= double(INT_MAX))
        return INT_MAX;
    if (rounded <= double(INT_MIN))
        return INT_MIN;
    return int(rounded);
}

void layoutButtons(Layout &layout, int clientWidth, int clientHeight, int orientation,
                   bool showButtons)
{
    if (orientation == kVertical || orientation == kHorizontal) {
        const int length = orientation == kHorizontal ? clientWidth : clientHeight;
        const int across = orientation == kHorizontal ? clientHeight : clientWidth;
        const int b = showButtons ? kButtonLength : 0;
        layout.thumbVisible = false;
        layout.gapVisible = false;
        if (length >= 2 * b + kMinThumbSize || length > 2 * b) {
            layout.thumbVisible = length >= 2 * b + kMinThumbSize;
            layout.firstButton = alongAxis(orientation, 0, b, across);
            layout.secondButton = alongAxis(orientation, length - b, length, across);
            if (!layout.thumbVisible) {
                // Too short for a thumb: the space between the buttons is
                // shown as a checkered gap.
                layout.gapVisible = true;
                layout.gap = alongAxis(orientation, b, length - b, across);
            }
        } else {
            // Not even room for two whole buttons: each takes half, and an
            // odd middle line is left as a one-pixel gap.
            const int half = length / 2;
            layout.firstButton = alongAxis(orientation, 0, half, across);
            layout.secondButton = alongAxis(orientation, length % 2 + half, length, across);
            if (length % 2 != 0) {
                layout.gapVisible = true;
                layout.gap = alongAxis(orientation, half, half + 1, across);
            }
        }
        if (orientation == kHorizontal) {
            layout.dragRect = {-kDragSlackAlong, -kDragSlackAcross, clientWidth + kDragSlackAlong,
                               clientHeight + kDragSlackAcross};
        } else {
            layout.dragRect = {-kDragSlackAcross, -kDragSlackAlong, clientWidth + kDragSlackAcross,
                               clientHeight + kDragSlackAlong};
        }
    }
    if (!layout.thumbVisible) {
        layout.trackBefore = ScrollRect();
        layout.trackAfter = ScrollRect();
        layout.thumb = ScrollRect();
    }
}

int trackStart(const Layout &layout, int orientation)
{
    return orientation == kHorizontal ? layout.firstButton.right : layout.firstButton.bottom;
}

int trackEnd(const Layout &layout, int orientation)
{
    return orientation == kHorizontal ? layout.secondButton.left : layout.secondButton.top;
}

int thumbSizeFromRange(int trackLength, qint64 range, int largeChange)
{
    if (largeChange == 0)
        return kMinThumbSize;
    const qint64 divisor = range / largeChange + 1;
    if (divisor == 0)
        return kMinThumbSize;
    const qint64 size = trackLength / divisor;
    return size < kMinThumbSize ? kMinThumbSize : int(size);
}

int thumbPosFromValue(int trackStart, int trackLength, int thumbSize, qint64 range, qint64 value,
                      qint64 min)
{
    if (range == 0)
        return trackStart;
    const double position =
        trackStart + double(trackLength - thumbSize) / double(range) * double(value - min);
    return roundHalfEven(position);
}

qint64 valueFromThumbPos(int position, int trackStart, int trackLength, int thumbSize, qint64 range,
                         qint64 min)
{
    if (trackLength == thumbSize)
        return min;
    const double value = double(min) + double(position - trackStart) /
                                           double(trackLength - thumbSize) * double(range);
    if (std::isnan(value))
        return min;
    const double rounded = std::nearbyint(value);
    if (rounded >= double(LLONG_MAX))
        return LLONG_MAX;
    if (rounded <= double(LLONG_MIN))
        return LLONG_MIN;
    return qint64(rounded);
}

void updateThumbRects(Layout &layout, int orientation, int position, int size)
{
    if (!layout.thumbVisible)
        return;
    const int start = trackStart(layout, orientation);
    const int end = trackEnd(layout, orientation);
    if (orientation == kHorizontal) {
        layout.trackBefore = {start, 0, position, layout.firstButton.bottom};
        layout.trackAfter = {position + size, 0, end, layout.secondButton.bottom};
        layout.thumb = {position, 0, position + size, layout.secondButton.bottom};
    } else {
        layout.trackBefore = {0, start, layout.firstButton.right, position};
        layout.trackAfter = {0, position + size, layout.secondButton.right, end};
        layout.thumb = {0, position, layout.secondButton.right, position + size};
    }
}

int hitTestPart(const Layout &layout, int x, int y)
{
    if (layout.firstButton.contains(x, y))
        return kPartFirstButton;
    if (layout.secondButton.contains(x, y))
        return kPartSecondButton;
    if (layout.trackBefore.contains(x, y))
        return kPartTrackBefore;
    if (layout.trackAfter.contains(x, y))
        return kPartTrackAfter;
    if (layout.thumb.contains(x, y))
        return kPartThumb;
    return kPartNone;
}

} // namespace scrollbar
