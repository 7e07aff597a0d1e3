// Pixel geometry and value maths of the scroll bar, kept apart from the
// widget so that layout, thumb size/position, the value of a dragged thumb
// and hit testing can be checked directly.
//
// Rectangles follow the window-system convention: right and bottom are
// exclusive. Orientation 0 is vertical (buttons at top and bottom), 1 is
// horizontal (buttons at left and right).
#pragma once

#include <QRect>
#include <QtGlobal>

struct ScrollRect
{
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool isEmpty() const { return right <= left || bottom <= top; }
    // Point-in-rectangle with exclusive right and bottom edges.
    bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    QRect toQRect() const { return QRect(left, top, right - left, bottom - top); }
    bool operator==(const ScrollRect &) const = default;
};

namespace scrollbar {

// Part codes of hit testing and pressing.
constexpr int kPartNone = 0;
constexpr int kPartFirstButton = 1;
constexpr int kPartSecondButton = 2;
constexpr int kPartTrackBefore = 3;
constexpr int kPartTrackAfter = 4;
constexpr int kPartThumb = 5;

constexpr int kVertical = 0;
constexpr int kHorizontal = 1;

constexpr int kButtonLength = 18; // arrow button length along the bar
constexpr int kMinThumbSize = 8;  // the thumb never gets shorter
// How far the pointer may stray from the bar while dragging before the thumb
// snaps back to where the drag started.
constexpr int kDragSlackAcross = 250;
constexpr int kDragSlackAlong = 25;

struct Layout
{
    bool thumbVisible = false;
    bool gapVisible = false;
    ScrollRect gap;
    ScrollRect firstButton;
    ScrollRect secondButton;
    ScrollRect trackBefore;
    ScrollRect trackAfter;
    ScrollRect thumb;
    ScrollRect dragRect;
};

// Places buttons, gap and drag rectangle for a client area of width x height.
// An orientation outside 0..1 keeps the previous placement; in every case a
// layout without a visible thumb gets empty track and thumb rectangles.
void layoutButtons(Layout &layout, int clientWidth, int clientHeight, int orientation,
                   bool showButtons);

// Track start (end of the first button), end (start of the second button)
// and length along the axis.
int trackStart(const Layout &layout, int orientation);
int trackEnd(const Layout &layout, int orientation);

// T div (range div largeChange + 1), at least kMinThumbSize; kMinThumbSize
// when the division is impossible.
int thumbSizeFromRange(int trackLength, qint64 range, int largeChange);
// S + (T - size) / range * (value - min), rounded half to even; S for range 0.
int thumbPosFromValue(int trackStart, int trackLength, int thumbSize, qint64 range, qint64 value,
                      qint64 min);
// min + (position - S) / (T - size) * range, rounded half to even. When the
// thumb fills the track there is no position to read, and the result is min.
qint64 valueFromThumbPos(int position, int trackStart, int trackLength, int thumbSize, qint64 range,
                         qint64 min);
// Track bands and thumb rectangles for a thumb at position with size; does
// nothing while the thumb is hidden.
void updateThumbRects(Layout &layout, int orientation, int position, int size);
// First of first button, second button, track before, track after, thumb that
// contains the point; kPartNone when none does.
int hitTestPart(const Layout &layout, int x, int y);

// Nearest integer, halves to even, saturated to the int range.
int roundHalfEven(double value);

} // namespace scrollbar
