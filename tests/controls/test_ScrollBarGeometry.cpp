// Scroll-bar layout and value maths, called directly: button placement for
// long, short and tiny bars, thumb size and position with halves rounded to
// even, the value of a dragged thumb, and hit testing at the edges.
#include "controls/scrollbar/ScrollBarGeometry.h"

#include <gtest/gtest.h>

#include <climits>

using namespace scrollbar;

namespace {

struct LayoutCase
{
    const char *name;
    int width;
    int height;
    int orientation;
    bool showButtons;
    bool thumbVisible;
    bool gapVisible;
    ScrollRect first;
    ScrollRect second;
    ScrollRect gap;
};

void PrintTo(const LayoutCase &c, std::ostream *os)
{
    *os << c.name;
}

class LayoutButtonsTest : public ::testing::TestWithParam<LayoutCase>
{
};

TEST_P(LayoutButtonsTest, PlacesButtonsAndGap)
{
    const LayoutCase &c = GetParam();
    Layout layout;
    layoutButtons(layout, c.width, c.height, c.orientation, c.showButtons);
    EXPECT_EQ(layout.thumbVisible, c.thumbVisible);
    EXPECT_EQ(layout.gapVisible, c.gapVisible);
    EXPECT_EQ(layout.firstButton, c.first);
    EXPECT_EQ(layout.secondButton, c.second);
    if (c.gapVisible) {
        EXPECT_EQ(layout.gap, c.gap);
    }
    if (!c.thumbVisible) {
        EXPECT_TRUE(layout.thumb.isEmpty());
        EXPECT_TRUE(layout.trackBefore.isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bars, LayoutButtonsTest,
    ::testing::Values(
        LayoutCase{
            "vertical 200", 17, 200, 0, true, true, false, {0, 0, 17, 18}, {0, 182, 17, 200}, {}},
        LayoutCase{"vertical 44: just room for a thumb",
                   17,
                   44,
                   0,
                   true,
                   true,
                   false,
                   {0, 0, 17, 18},
                   {0, 26, 17, 44},
                   {}},
        LayoutCase{"vertical 43: 7 px gap",
                   17,
                   43,
                   0,
                   true,
                   false,
                   true,
                   {0, 0, 17, 18},
                   {0, 25, 17, 43},
                   {0, 18, 17, 25}},
        LayoutCase{"vertical 36: two whole buttons",
                   17,
                   36,
                   0,
                   true,
                   false,
                   false,
                   {0, 0, 17, 18},
                   {0, 18, 17, 36},
                   {}},
        LayoutCase{"vertical 31: halves and a line",
                   17,
                   31,
                   0,
                   true,
                   false,
                   true,
                   {0, 0, 17, 15},
                   {0, 16, 17, 31},
                   {0, 15, 17, 16}},
        LayoutCase{
            "no buttons, 8 px", 17, 8, 0, false, true, false, {0, 0, 17, 0}, {0, 8, 17, 8}, {}},
        LayoutCase{"no buttons, 7 px: all gap",
                   17,
                   7,
                   0,
                   false,
                   false,
                   true,
                   {0, 0, 17, 0},
                   {0, 7, 17, 7},
                   {0, 0, 17, 7}},
        LayoutCase{
            "horizontal 200", 200, 17, 1, true, true, false, {0, 0, 18, 17}, {182, 0, 200, 17}, {}},
        LayoutCase{"horizontal 31",
                   31,
                   17,
                   1,
                   true,
                   false,
                   true,
                   {0, 0, 15, 17},
                   {16, 0, 31, 17},
                   {15, 0, 16, 17}}));

TEST(ScrollBarGeometry, DragRectangleAndInvalidOrientation)
{
    Layout layout;
    layoutButtons(layout, 17, 200, kVertical, true);
    EXPECT_EQ(layout.dragRect, (ScrollRect{-250, -25, 267, 225}));
    layoutButtons(layout, 200, 17, kHorizontal, true);
    EXPECT_EQ(layout.dragRect, (ScrollRect{-25, -250, 225, 267}));

    // A stored orientation outside 0..1 keeps the previous placement.
    const Layout before = layout;
    layoutButtons(layout, 17, 500, 2, false);
    EXPECT_EQ(layout.firstButton, before.firstButton);
    EXPECT_EQ(layout.dragRect, before.dragRect);
}

TEST(ScrollBarGeometry, ThumbSize)
{
    struct Case
    {
        int track;
        qint64 range;
        int largeChange;
        int expected;
    };
    const Case cases[] = {
        {164, 100, 10, 14}, // 164 div 11
        {164, 5, 10, 164},  // range below largeChange: the thumb fills the track
        {164, 0, 10, 164},  {164, 100000, 10, 8}, // never below 8
        {164, 100, 0, 8},                         // no division possible
        {164, -10, 10, 8},                        // minimum above maximum from stored properties
    };
    for (const Case &c : cases)
        EXPECT_EQ(thumbSizeFromRange(c.track, c.range, c.largeChange), c.expected)
            << c.track << " " << c.range << " " << c.largeChange;
}

TEST(ScrollBarGeometry, ThumbPositionRoundsHalvesToEven)
{
    // 17 x 200 with defaults: S 18, T 164, size 14.
    EXPECT_EQ(thumbPosFromValue(18, 164, 14, 100, 50, 0), 93);
    EXPECT_EQ(thumbPosFromValue(18, 164, 14, 100, 0, 0), 18);
    EXPECT_EQ(thumbPosFromValue(18, 164, 14, 100, 100, 0), 168);
    EXPECT_EQ(thumbPosFromValue(18, 164, 14, 100, 1, 0), 20);   // 19.5
    EXPECT_EQ(thumbPosFromValue(18, 164, 14, 100, 3, 0), 22);   // 22.5
    EXPECT_EQ(thumbPosFromValue(18, 164, 14, 100, 5, 0), 26);   // 25.5
    EXPECT_EQ(thumbPosFromValue(18, 164, 14, 100, 60, 10), 93); // offset by minimum
    EXPECT_EQ(thumbPosFromValue(18, 164, 14, 0, 7, 7), 18);     // range 0
    // The full 32-bit range neither overflows nor leaves the track.
    EXPECT_EQ(thumbPosFromValue(18, 164, 8, qint64(INT_MAX) - INT_MIN, INT_MAX, INT_MIN), 174);
}

TEST(ScrollBarGeometry, ValueFromThumbPosition)
{
    EXPECT_EQ(valueFromThumbPos(93, 18, 164, 14, 100, 0), 50);
    EXPECT_EQ(valueFromThumbPos(18, 18, 164, 14, 100, 0), 0);
    EXPECT_EQ(valueFromThumbPos(168, 18, 164, 14, 100, 0), 100);
    // T - size = 4, range 2: value = offset / 2, halves to even.
    EXPECT_EQ(valueFromThumbPos(1, 0, 12, 8, 2, 0), 0);
    EXPECT_EQ(valueFromThumbPos(3, 0, 12, 8, 2, 0), 2);
    // A thumb that fills the track has no position to read: minimum.
    EXPECT_EQ(valueFromThumbPos(18, 18, 164, 164, 5, 0), 0);
    EXPECT_EQ(valueFromThumbPos(18, 18, 164, 164, 0, 5), 5);
    EXPECT_EQ(valueFromThumbPos(174, 18, 164, 8, qint64(INT_MAX) - INT_MIN, INT_MIN), INT_MAX);

    // Position -> value -> position comes back for every position.
    for (int pos = 18; pos <= 168; ++pos) {
        const qint64 value = valueFromThumbPos(pos, 18, 164, 14, 1000, 0);
        EXPECT_EQ(thumbPosFromValue(18, 164, 14, 1000, value, 0), pos);
    }
}

TEST(ScrollBarGeometry, ThumbRectsAndHitTesting)
{
    Layout v;
    layoutButtons(v, 17, 200, kVertical, true);
    updateThumbRects(v, kVertical, 93, 14);
    EXPECT_EQ(v.trackBefore, (ScrollRect{0, 18, 17, 93}));
    EXPECT_EQ(v.trackAfter, (ScrollRect{0, 107, 17, 182}));
    EXPECT_EQ(v.thumb, (ScrollRect{0, 93, 17, 107}));

    const struct
    {
        int x, y, part;
    } hits[] = {
        {8, 0, kPartFirstButton},  {8, 17, kPartFirstButton}, {8, 18, kPartTrackBefore},
        {8, 92, kPartTrackBefore}, {8, 93, kPartThumb},       {0, 106, kPartThumb},
        {8, 107, kPartTrackAfter}, {8, 181, kPartTrackAfter}, {16, 182, kPartSecondButton},
        {17, 100, kPartNone},      {-1, 100, kPartNone},      {8, 200, kPartNone},
    };
    for (const auto &h : hits)
        EXPECT_EQ(hitTestPart(v, h.x, h.y), h.part) << h.x << "," << h.y;

    Layout h;
    layoutButtons(h, 200, 17, kHorizontal, true);
    updateThumbRects(h, kHorizontal, 50, 20);
    EXPECT_EQ(h.trackBefore, (ScrollRect{18, 0, 50, 17}));
    EXPECT_EQ(h.trackAfter, (ScrollRect{70, 0, 182, 17}));
    EXPECT_EQ(h.thumb, (ScrollRect{50, 0, 70, 17}));
    EXPECT_EQ(hitTestPart(h, 60, 8), kPartThumb);

    // A hidden thumb keeps empty rectangles whatever is asked.
    Layout tiny;
    layoutButtons(tiny, 17, 30, kVertical, true);
    updateThumbRects(tiny, kVertical, 10, 8);
    EXPECT_TRUE(tiny.thumb.isEmpty());
}

} // namespace
