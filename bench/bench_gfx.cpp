// Off-screen surface copies as the skin uses them (an 18 x 17 glyph with the
// magenta mask, a plain slice, a stretched band) and drawing the playing mark.
#include "gfx/IconFileReader.h"
#include "gfx/OffscreenSurface.h"

#include <QFile>
#include <QGuiApplication>
#include <QPainter>

#include <benchmark/benchmark.h>

namespace {

OffscreenSurface glyphSurface()
{
    OffscreenSurface dc;
    dc.setWidth(90);
    dc.setHeight(17);
    QImage *image = dc.mutableImage();
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 90; ++x)
            image->setPixel(x, y,
                            (x + y) % 3 ? OffscreenSurface::kMaskColour : qRgb(200, 210, 220));
    return dc;
}

void BM_DrawMasked(benchmark::State &state)
{
    const OffscreenSurface dc = glyphSurface();
    QImage target(200, 17, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&target);
    for (auto _ : state)
        dc.draw(&painter, 36, 0, 18, 17, 10, 0, true);
}

void BM_DrawPlain(benchmark::State &state)
{
    const OffscreenSurface dc = glyphSurface();
    QImage target(200, 17, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&target);
    for (auto _ : state)
        dc.draw(&painter, 36, 0, 18, 17, 10, 0, false);
}

void BM_DrawTransparentUncached(benchmark::State &state)
{
    const OffscreenSurface dc = glyphSurface();
    QImage target(200, 17, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&target);
    for (auto _ : state)
        OffscreenSurface::drawTransparent(&painter, 10, 0, 18, 17, dc.image(), 36, 0);
}

void BM_StretchBand(benchmark::State &state)
{
    const OffscreenSurface dc = glyphSurface();
    QImage target(17, 1000, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&target);
    for (auto _ : state)
        dc.stretchDraw(&painter, 3, 0, 11, int(state.range(0)), 3, 0, 11, 2);
}

void BM_DrawPlayingMark(benchmark::State &state)
{
    QFile file(QStringLiteral(":/skin/PLAYICON.ico"));
    IconFileReader icon;
    if (!file.open(QIODevice::ReadOnly) || !icon.loadFromData(file.readAll())) {
        state.SkipWithError("no playing mark resource");
        return;
    }
    QImage target(40, 20, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&target);
    for (auto _ : state)
        benchmark::DoNotOptimize(icon.draw(&painter, 2, 4, 0));
}

} // namespace

BENCHMARK(BM_DrawMasked);
BENCHMARK(BM_DrawPlain);
BENCHMARK(BM_DrawTransparentUncached);
BENCHMARK(BM_StretchBand)->Arg(160)->Arg(1000);
BENCHMARK(BM_DrawPlayingMark);

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
