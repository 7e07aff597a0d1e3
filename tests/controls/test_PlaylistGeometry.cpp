// Row geometry, scroll range, wheel step and text fitting of the playlist
// control, and its stored property sets, checked without a widget.
#include "controls/PropertyBag.h"
#include "controls/listbox/ListGeometry.h"
#include "controls/listbox/PlaylistViewProperties.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

namespace {

// The main window's playlist: 248 x 450 with a one-pixel border, so 448
// pixels of rows.
listgeo::Layout mainWindowLayout()
{
    listgeo::Layout l;
    l.width = 248;
    l.height = 450;
    l.border = true;
    l.borderWidth = 1;
    l.itemHeight = 18;
    l.barVisible = true;
    l.barWidth = 17;
    return l;
}

struct RangeCase
{
    int count;
    int innerHeight;
    int itemHeight;
    int max;
    bool visible;
};

class ScrollRangeTest : public testing::TestWithParam<RangeCase>
{
};

TEST_P(ScrollRangeTest, LastItemIsLastWholeRowAtMax)
{
    const RangeCase c = GetParam();
    const listgeo::ScrollRange range = listgeo::scrollRange(c.count, c.innerHeight, c.itemHeight);
    EXPECT_EQ(range.max, c.max);
    EXPECT_EQ(range.visible, c.visible);
}

INSTANTIATE_TEST_SUITE_P(Ranges, ScrollRangeTest,
                         testing::Values(RangeCase{40, 448, 18, 16, true},
                                         RangeCase{25, 448, 18, 1, true},
                                         // 24 rows of 18 take 432 of 448: all fit.
                                         RangeCase{24, 448, 18, 0, false},
                                         RangeCase{10, 448, 18, -14, false},
                                         RangeCase{0, 448, 18, 0, false},
                                         // A control smaller than its border.
                                         RangeCase{3, -4, 18, 3, true},
                                         // A zero row height must not divide by zero.
                                         RangeCase{5, 10, 0, -5, false}));

TEST(ListGeometry, HitTestSubtractsBorderAndAddsTopRow)
{
    struct Case
    {
        double y;
        int borderWidth, itemHeight, firstIndex, expected;
    };
    const Case cases[] = {
        {1, 1, 18, 0, 0},
        {18.9, 1, 18, 0, 0},
        {19, 1, 18, 0, 1},
        {19, 1, 18, 7, 8},
        {449, 1, 18, 0, 24},
        // On the top border the row above the view is hit (rounded down).
        {0.5, 1, 18, 3, 2},
        {0.5, 1, 18, 0, -1},
        // Far outside: never wraps to a positive index.
        {-1e12, 1, 18, 0, -1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(listgeo::hitTest(c.y, c.borderWidth, c.itemHeight, c.firstIndex), c.expected)
            << c.y;
}

TEST(ListGeometry, ViewReachesOneRowPastTheWholeRows)
{
    listgeo::Layout l = mainWindowLayout();
    EXPECT_EQ(listgeo::lastRowIndex(l, 0), 25); // 24.9 rows fit
    EXPECT_EQ(listgeo::lastRowIndex(l, 16), 41);
    l.border = false;
    EXPECT_EQ(listgeo::lastRowIndex(l, 0), 26); // 25 rows fit exactly
    EXPECT_TRUE(listgeo::rowRect(l, 5, 4).isNull());
}

TEST(ListGeometry, CentredTopRoundsHalvesToEven)
{
    EXPECT_EQ(listgeo::centredTop(10, 18, 12), 13);
    EXPECT_EQ(listgeo::centredTop(10, 17, 12), 12); // 2.5 -> 2
    EXPECT_EQ(listgeo::centredTop(10, 19, 12), 14); // 3.5 -> 4
    EXPECT_EQ(listgeo::centredTop(0, 10, 13), -2);  // -1.5 -> -2
}

// Every UTF-16 unit 10 pixels wide, so the ellipsis is 10.
int fixedWidth(const QString &, int length)
{
    return 10 * length;
}

TEST(ListGeometry, FitTextCutsAndLeavesRoomForEllipsis)
{
    struct Case
    {
        QString text;
        int width;
        bool fits;
        int chars;
        int prefixWidth;
    };
    const Case cases[] = {
        {QStringLiteral("abc"), 30, true, 3, 30},
        {QStringLiteral("abcdef"), 50, false, 4, 40},
        {QStringLiteral("abcdef"), 59, false, 4, 40},
        // Nothing fits: the ellipsis still starts after the first character.
        {QStringLiteral("abcdef"), 15, false, 0, 10},
        {QString(), -5, false, 0, 0},
        // a b 😀 c d e f: the cut must not split the emoji's surrogate pair.
        {QStringLiteral("ab\U0001F600cdef"), 40, false, 2, 20},
        {QStringLiteral("ab\U0001F600cdef"), 60, false, 5, 50},
    };
    for (const Case &c : cases) {
        const listgeo::TextFit fit = listgeo::fitText(c.text, c.width, fixedWidth);
        EXPECT_EQ(fit.fits, c.fits) << c.text.toStdString() << " " << c.width;
        EXPECT_EQ(fit.chars, c.chars) << c.text.toStdString() << " " << c.width;
        EXPECT_EQ(fit.prefixWidth, c.prefixWidth) << c.text.toStdString() << " " << c.width;
    }
}

TEST(ListGeometry, FitTextFindsTheLongestPrefixLikeTryingEveryLength)
{
    // Uneven character widths; the prefix found must be the one a scan from
    // the longest prefix down would find.
    const auto uneven = [](const QString &s, int n) {
        int w = 0;
        for (int i = 0; i < n; ++i)
            w += s.at(i).unicode() % 7 + 2;
        return w;
    };
    const QString text = QStringLiteral("The quick brown fox jumps over the lazy dog 0123456789");
    for (int width = 0; width < uneven(text, int(text.size())) + 5; ++width) {
        const listgeo::TextFit fit = listgeo::fitText(text, width, uneven);
        const QString ellipsis = QString::fromUtf16(listgeo::kEllipsis);
        const int room = width - uneven(ellipsis, int(ellipsis.size()));
        int expected = 0;
        for (int n = int(text.size()); n >= 1; --n) {
            if (room >= uneven(text, n)) {
                expected = n;
                break;
            }
        }
        if (fit.fits)
            EXPECT_LE(uneven(text, int(text.size())), width);
        else
            EXPECT_EQ(fit.chars, expected) << width;
    }
}

TEST(ListGeometry, FitTextKeepsTheLongestPrefixWhenJoiningNarrowsIt)
{
    // Each measure gives the width of the first n characters. The scan
    // from the longest prefix down is the rule; widths that shrink as
    // characters join must not make the cut keep fewer characters.
    struct Case
    {
        const char *name;
        listgeo::Measure measure;
    };
    // Every second character joins its predecessor and the pair narrows
    // by 12 pixels: widths 10, 8, 30, 28, 50, 48, ...
    const auto pairs = [](const QString &, int n) { return 10 * n - (n % 2 == 0 ? 12 : 0); };
    // A run of joined characters narrows the whole prefix while it grows,
    // until the run ends (a word of seven letters, then blank, again).
    const auto words = [](const QString &, int n) {
        int w = 0;
        for (int i = 1; i <= n; ++i)
            w += (i % 8 == 0) ? 4 : (i % 8 < 4 ? 12 : -3);
        return std::max(w, 0);
    };
    const Case cases[] = {{"pairs", pairs}, {"words", words}, {"plain", fixedWidth}};
    const QString text = QString(40, QLatin1Char('x'));
    for (const Case &c : cases) {
        const int ellipsis = c.measure(QString::fromUtf16(listgeo::kEllipsis), 1);
        for (int width = 0; width < 420; ++width) {
            const listgeo::TextFit fit = listgeo::fitText(text, width, c.measure);
            if (fit.fits)
                continue;
            int expected = 0;
            for (int n = int(text.size()); n >= 1; --n) {
                if (width - ellipsis >= c.measure(text, n)) {
                    expected = n;
                    break;
                }
            }
            EXPECT_EQ(fit.chars, expected) << c.name << " width " << width;
        }
    }
    // The fault as seen: 28 pixels of room after the ellipsis (10 wide)
    // keeps four characters (28 wide), not the two a search for the
    // boundary finds.
    EXPECT_EQ(listgeo::fitText(text, 38, pairs).chars, 4);
}

TEST(ListGeometry, RowArithmeticStaysInRangeForAnyRowHeight)
{
    listgeo::Layout l = mainWindowLayout();
    for (const int height : {1 << 30, std::numeric_limits<int>::max(), -5, 0}) {
        l.itemHeight = height;
        const int bounded = listgeo::rowHeight(l);
        EXPECT_GE(bounded, 1) << height;
        EXPECT_LE(bounded, listgeo::kMaxItemHeight) << height;
        // The farthest rows of a full list, either side of the top row.
        EXPECT_EQ(listgeo::rowTop(l, 0, 32767), 32767 * bounded + 1) << height;
        EXPECT_EQ(listgeo::rowTop(l, 32767, 0), -32767 * bounded + 1) << height;
        EXPECT_EQ(listgeo::rowRect(l, 5, 7).height(), bounded) << height;
    }
    EXPECT_EQ(listgeo::boundedItemHeight(1 << 30), listgeo::kMaxItemHeight);
    EXPECT_EQ(listgeo::boundedItemHeight(18), 18);
}

TEST(PlaylistViewProperties, ColoursConvertFromTheOutsideLayout)
{
    EXPECT_EQ(colorFromBgr(0xFF80FF), QColor(255, 128, 255));
    EXPECT_EQ(colorFromBgr(0x019975), QColor(117, 153, 1));
    EXPECT_EQ(bgrFromColor(QColor(117, 153, 1)), 0x019975u);
}

TEST(PlaylistViewProperties, ReadKeepsCurrentForMissingOrUnusableValues)
{
    PlaylistViewProperties p = PlaylistViewProperties::newControl();
    const PropertyBag bag(QVariantMap{
        {QStringLiteral("BackColor"), 0x019975},            // outside-world number
        {QStringLiteral("ItemBkColor1"), int(0x80000005u)}, // system colour: ignored
        {QStringLiteral("ItemBkColor2"), QStringLiteral("#102030")},
        {QStringLiteral("ItemHeight"), 0}, // would divide by zero
        {QStringLiteral("BorderWidth"), -3},
        {QStringLiteral("Border"), -1}, // True across an interface
        {QStringLiteral("AutoCheckError"), QStringLiteral("x")},
    });
    p.read(bag);
    const PlaylistViewProperties fresh = PlaylistViewProperties::newControl();
    EXPECT_EQ(p.backColor, QColor(117, 153, 1));
    EXPECT_EQ(p.itemBackColor1, fresh.itemBackColor1);
    EXPECT_EQ(p.itemBackColor2, QColor(0x10, 0x20, 0x30));
    EXPECT_EQ(p.itemHeight, 1);
    EXPECT_EQ(p.borderWidth, 1);
    EXPECT_TRUE(p.border);
    EXPECT_FALSE(p.autoCheckError);
    EXPECT_EQ(p.selectedBackColor, fresh.selectedBackColor);
}

} // namespace
