// Scroll-bar painting checked on pixels: which skin state each part shows
// (pressed track band, disabled bar), where glyphs and grips land, and the
// checkered gap of a too-short bar. Expected colours are read from the skin
// surfaces themselves, so a new theme keeps the tests valid.
#include "controls/scrollbar/ScrollBarPainter.h"
#include "controls/scrollbar/SkinScrollBar.h"

#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

using namespace scrollbar;

namespace {

QRgb skinPixel(const ScrollBarPainter &draw, int surface, int x, int y)
{
    return draw.surface(surface).image().pixel(x, y);
}

bool isMask(QRgb c)
{
    return (c & 0xFFFFFF) == (OffscreenSurface::kMaskColour & 0xFFFFFF);
}

QImage grabBar(SkinScrollBar &bar)
{
    return bar.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

TEST(ScrollbarDraw, EverySkinSurfaceLoadsAtItsSize)
{
    const ScrollBarPainter draw;
    const QSize sizes[ScrollBarPainter::kSurfaceCount] = {{4, 17},  {15, 68}, {10, 36}, {90, 17},
                                                          {90, 17}, {90, 17}, {17, 4},  {68, 15},
                                                          {9, 40},  {17, 90}, {17, 90}, {17, 90}};
    for (int i = 0; i < ScrollBarPainter::kSurfaceCount; ++i)
        EXPECT_EQ(draw.surface(i).image().size(), sizes[i]) << qPrintable(draw.resourcePath(i));

    // The vertical grip is blank: every pixel transparent.
    const QImage grip = draw.surface(ScrollBarPainter::kGripV).image();
    for (int y = 0; y < grip.height(); ++y)
        for (int x = 0; x < grip.width(); ++x)
            ASSERT_TRUE(isMask(grip.pixel(x, y)));
}

TEST(ScrollbarDraw, ButtonGlyphSitsOnItsFrameAtTheEdge)
{
    const ScrollBarPainter draw;
    for (const qint16 state : {0, 2, 4}) {
        QImage out(18, 17, QImage::Format_RGB32);
        out.fill(Qt::black);
        QPainter painter(&out);
        // A horizontal bar 17 px high: the glyph's y is (17 - 17) / 2 = 0.
        draw.drawFirstButton(&painter, kHorizontal, state, ScrollRect{0, 0, 18, 17});
        painter.end();
        for (int y = 0; y < 17; ++y) {
            for (int x = 0; x < 18; ++x) {
                const QRgb glyph = skinPixel(draw, ScrollBarPainter::kArrowHL, 18 * state + x, y);
                const QRgb frame = skinPixel(draw, ScrollBarPainter::kArrowH, 18 * state + x, y);
                ASSERT_EQ(out.pixel(x, y), isMask(glyph) ? frame : glyph)
                    << "state " << state << " at " << x << "," << y;
            }
        }
    }
}

TEST(ScrollbarDraw, GripOnlyOnThumbsOfSixteenPixelsOrMore)
{
    const ScrollBarPainter draw;
    const int state = 1;
    auto gripPixels = [&](int thumbLength, int left) {
        QImage out(60, 17, QImage::Format_RGB32);
        out.fill(Qt::black);
        QPainter painter(&out);
        draw.drawThumb(&painter, kHorizontal, state, ScrollRect{left, 0, left + thumbLength, 17});
        painter.end();
        return out;
    };
    // 16 px: the grip at x = l + (16 - 10) / 2 = l + 3, y = (17 - 9) / 2 = 4.
    const QImage with = gripPixels(16, 20);
    int gripSeen = 0;
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 10; ++x) {
            const QRgb grip = skinPixel(draw, ScrollBarPainter::kGripH, x, 9 * state + y);
            if (!isMask(grip)) {
                EXPECT_EQ(with.pixel(23 + x, 4 + y), grip) << x << "," << y;
                ++gripSeen;
            }
        }
    }
    EXPECT_GT(gripSeen, 0);

    // 14 px: thumb slices only. The centre column comes from the centre slice.
    const QImage without = gripPixels(14, 20);
    const QRgb centre = skinPixel(draw, ScrollBarPainter::kThumbH, 7, 17 * state + 8);
    for (int y = 3; y < 14; ++y)
        EXPECT_EQ(without.pixel(27, y),
                  skinPixel(draw, ScrollBarPainter::kThumbH, 7, 17 * state + y))
            << y;
    EXPECT_EQ(without.pixel(27, 8), centre);
}

class ScrollbarPaint : public ::testing::Test
{
protected:
    void SetUp() override
    {
        bar.resize(17, 200);
        bar.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
    }
    QRgb trackMiddle(int state) const
    {
        return skinPixel(skin, ScrollBarPainter::kBackV, 8, 2 * state);
    }

    ScrollBarPainter skin;
    SkinScrollBar bar;
};

TEST_F(ScrollbarPaint, PressedTrackBandOnlyOnItsSide)
{
    ASSERT_NE(trackMiddle(0), trackMiddle(1)) << "the skin must tell the two states apart";
    bar.setValue(50);
    bar.setChangeDelay(60000);
    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(8, 40)); // before the thumb: 40
    ASSERT_EQ(bar.value(), 40);
    const QImage pressed = grabBar(bar); // thumb now at 78..92
    EXPECT_EQ(pressed.pixel(8, 30), trackMiddle(1));
    EXPECT_EQ(pressed.pixel(8, 150), trackMiddle(0));
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(8, 40));
    EXPECT_EQ(grabBar(bar).pixel(8, 30), trackMiddle(0));
}

TEST_F(ScrollbarPaint, DisabledBarUsesDisabledStatesWhateverThePointer)
{
    // Inside and hot before disabling must not show.
    QMouseEvent move(QEvent::MouseMove, QPointF(8, 5), bar.mapToGlobal(QPointF(8, 5)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&bar, &move);
    QCoreApplication::sendEvent(&bar, &move);
    bar.setEnabled(false);
    const QImage out = grabBar(bar);

    int glyphPixels = 0;
    for (int y = 0; y < 18; ++y) {
        for (int x = 0; x < 17; ++x) {
            const QRgb glyph = skinPixel(skin, ScrollBarPainter::kArrowVT, x, 18 * 4 + y);
            const QRgb frame = skinPixel(skin, ScrollBarPainter::kArrowV, x, 18 * 4 + y);
            ASSERT_EQ(out.pixel(x, y), isMask(glyph) ? frame : glyph) << x << "," << y;
            glyphPixels += !isMask(glyph);
        }
    }
    EXPECT_GT(glyphPixels, 0);
    // Thumb at 18..32 in its fourth state, tracks in their first.
    EXPECT_EQ(out.pixel(8, 25), skinPixel(skin, ScrollBarPainter::kThumbV, 17 * 3 + 8, 7));
    EXPECT_EQ(out.pixel(8, 100), trackMiddle(0));
}

TEST_F(ScrollbarPaint, TooShortBarShowsOnlyTheCheckerboardBetweenButtons)
{
    bar.resize(17, 43); // gap 18..25
    const QImage out = grabBar(bar);
    const QRgb pen = bar.palette().color(QPalette::WindowText).rgb();
    const QRgb background = bar.palette().color(QPalette::Window).rgb();
    ASSERT_NE(pen, background);
    for (int y = 18; y < 25; ++y) {
        for (int x = 0; x < 17; ++x) {
            const QRgb c = out.pixel(x, y);
            ASSERT_TRUE(c == pen || c == background) << x << "," << y;
            if (x > 0) {
                ASSERT_NE(c, out.pixel(x - 1, y)) << "one-pixel checkerboard";
            }
            if (y > 18) {
                ASSERT_NE(c, out.pixel(x, y - 1));
            }
        }
    }
}

} // namespace
