// Off-screen surfaces: the grow-only sizes, the whole-surface defaults of the
// copies, nearest-neighbour stretching and the magenta mask, checked on the
// pixels of a target image.
#include "gfx/OffscreenSurface.h"

#include <QPainter>

#include <gtest/gtest.h>

namespace {

constexpr QRgb kTargetBackground = 0xFF102030;

QImage target(int w = 40, int h = 30)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(kTargetBackground);
    return image;
}

// A surface whose pixel (x, y) is a colour unique to that position.
void fillPattern(OffscreenSurface &dc)
{
    QImage *surface = dc.mutableImage();
    for (int y = 0; y < surface->height(); ++y)
        for (int x = 0; x < surface->width(); ++x)
            surface->setPixel(x, y, qRgb(10 * x, 10 * y, 200));
}

TEST(OffscreenSurface, SizesOnlyGrow)
{
    OffscreenSurface dc;
    EXPECT_EQ(dc.width(), 0);
    EXPECT_TRUE(dc.mutableImage()->isNull());
    dc.setWidth(90);
    EXPECT_EQ(dc.width(), 90); // kept while the height is still 0
    dc.setHeight(17);
    EXPECT_EQ(dc.mutableImage()->size(), QSize(90, 17));
    dc.setWidth(50);
    EXPECT_EQ(dc.width(), 90);
    dc.setWidth(100);
    EXPECT_EQ(dc.mutableImage()->size(), QSize(100, 17));
    dc.setHeight(-4);
    EXPECT_EQ(dc.height(), 17);

    // A larger surface keeps its size for a smaller picture.
    QImage small(10, 5, QImage::Format_RGB32);
    small.fill(Qt::red);
    dc.createFromPicture(small);
    EXPECT_EQ(dc.mutableImage()->size(), QSize(100, 17));
    EXPECT_EQ(dc.mutableImage()->pixel(9, 4), qRgb(255, 0, 0));
}

TEST(OffscreenSurface, NonPositiveSourceSizeMeansWholeSurface)
{
    OffscreenSurface dc;
    dc.setWidth(6);
    dc.setHeight(4);
    fillPattern(dc);

    for (const bool stretch : {false, true}) {
        QImage out = target();
        QPainter painter(&out);
        if (stretch)
            dc.stretchDraw(&painter, 3, 2, 6, 4, 0, 0, 0, -1);
        else
            dc.draw(&painter, 0, 0, 0, -1, 3, 2, false);
        painter.end();
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x)
                EXPECT_EQ(out.pixel(3 + x, 2 + y), dc.mutableImage()->pixel(x, y)) << stretch;
        EXPECT_EQ(out.pixel(9, 2), kTargetBackground);
        EXPECT_EQ(out.pixel(3, 6), kTargetBackground);
    }
}

TEST(OffscreenSurface, StretchIsNearestNeighbourAndCopiesSlices)
{
    OffscreenSurface dc;
    dc.setWidth(4);
    dc.setHeight(1);
    const QRgb colours[4] = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(9, 9, 9)};
    for (int x = 0; x < 4; ++x)
        dc.mutableImage()->setPixel(x, 0, colours[x]);

    QImage out = target();
    QPainter painter(&out);
    // Columns 1..2 stretched to 11 x 3: only those two colours, green then blue.
    dc.stretchDraw(&painter, 0, 0, 11, 3, 1, 0, 2, 1);
    painter.end();
    int greens = 0;
    for (int x = 0; x < 11; ++x) {
        const QRgb c = out.pixel(x, 1);
        ASSERT_TRUE(c == colours[1] || c == colours[2]) << x << " " << std::hex << c;
        greens += c == colours[1];
        if (x > 0 && c == colours[1]) {
            EXPECT_EQ(out.pixel(x - 1, 1), colours[1]) << "colours must not interleave";
        }
    }
    EXPECT_GE(greens, 5);
    EXPECT_LE(greens, 6);
    EXPECT_EQ(out.pixel(11, 1), kTargetBackground);

    // A destination size of 0 or less draws nothing.
    QImage untouched = target();
    QPainter p2(&untouched);
    dc.stretchDraw(&p2, 0, 0, -5, 3, 0, 0, 0, 0);
    p2.end();
    EXPECT_EQ(untouched, target());
}

TEST(OffscreenSurface, MaskLeavesMagentaPixelsOfTheTargetAlone)
{
    OffscreenSurface dc;
    dc.setWidth(3);
    dc.setHeight(2);

    struct Case
    {
        const char *name;
        QRgb pixels[6];
    };
    const QRgb m = OffscreenSurface::kMaskColour;
    const QRgb g = qRgb(20, 200, 20);
    const Case cases[] = {
        {"all magenta", {m, m, m, m, m, m}},
        {"no magenta", {g, g, g, g, g, qRgb(1, 2, 3)}},
        {"mixed", {m, g, m, g, m, g}},
        {"near magenta is opaque", {qRgb(255, 0, 254), m, m, m, m, m}},
    };
    for (const Case &c : cases) {
        for (int i = 0; i < 6; ++i)
            dc.mutableImage()->setPixel(i % 3, i / 3, c.pixels[i]);
        for (const bool useStatic : {false, true}) {
            QImage out = target();
            QPainter painter(&out);
            if (useStatic)
                OffscreenSurface::drawTransparent(&painter, 5, 5, 3, 2, *dc.mutableImage(), 0, 0);
            else
                dc.draw(&painter, 0, 0, 0, 0, 5, 5, true);
            painter.end();
            for (int i = 0; i < 6; ++i) {
                const QRgb expected = c.pixels[i] == m ? kTargetBackground : c.pixels[i];
                EXPECT_EQ(out.pixel(5 + i % 3, 5 + i / 3), expected) << c.name << " " << i;
            }
        }
    }
}

TEST(OffscreenSurface, MaskFollowsLaterPaintingIntoTheSurface)
{
    OffscreenSurface dc;
    dc.setWidth(2);
    dc.setHeight(1);
    dc.mutableImage()->fill(OffscreenSurface::kMaskColour);
    QImage out = target();
    {
        QPainter painter(&out);
        dc.draw(&painter, 0, 0, 0, 0, 0, 0, true);
    }
    EXPECT_EQ(out.pixel(0, 0), kTargetBackground);

    // Painting into mutableImage() after a masked draw must not reuse a stale mask.
    {
        QPainter into(dc.mutableImage());
        into.fillRect(0, 0, 1, 1, QColor(1, 2, 3));
    }
    {
        QPainter painter(&out);
        dc.draw(&painter, 0, 0, 0, 0, 0, 0, true);
    }
    EXPECT_EQ(out.pixel(0, 0), qRgb(1, 2, 3));
    EXPECT_EQ(out.pixel(1, 0), kTargetBackground);
}

TEST(OffscreenSurface, EmptySurfaceOrInactivePainterDrawsNothing)
{
    OffscreenSurface empty;
    QImage out = target();
    QPainter painter(&out);
    empty.draw(&painter, 0, 0, 0, 0, 0, 0, false);
    empty.stretchDraw(&painter, 0, 0, 5, 5, 0, 0, 0, 0);
    painter.end();
    EXPECT_EQ(out, target());

    OffscreenSurface dc;
    dc.setWidth(2);
    dc.setHeight(2);
    QPainter inactive;
    dc.draw(&inactive, 0, 0, 0, 0, 0, 0, true); // must not crash
    dc.draw(nullptr, 0, 0, 0, 0, 0, 0, false);
}

} // namespace
