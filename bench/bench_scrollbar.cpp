// Cost of painting the scroll bar from its skin: a whole vertical bar of the
// playlist's height, and the same with a hot thumb (masked grip path unused
// vertically) and a horizontal bar with its grip.
#include "controls/scrollbar/SkinScrollBar.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

namespace {

void paintBar(benchmark::State &state, int orientation)
{
    SkinScrollBar bar;
    bar.setOrientation(orientation);
    if (orientation == 0)
        bar.resize(17, int(state.range(0)));
    else
        bar.resize(int(state.range(0)), 17);
    bar.setValue(37);
    QImage target(bar.size(), QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&target);
    bar.paintTo(&painter); // first paint loads the skin; keep it out of the loop
    for (auto _ : state) {
        bar.paintTo(&painter);
        benchmark::ClobberMemory();
    }
}

void BM_PaintVertical(benchmark::State &state)
{
    paintBar(state, 0);
}
void BM_PaintHorizontal(benchmark::State &state)
{
    paintBar(state, 1);
}

void BM_FirstPaintLoadsSkin(benchmark::State &state)
{
    QImage target(17, 400, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&target);
    for (auto _ : state) {
        SkinScrollBar bar;
        bar.resize(17, 400);
        bar.paintTo(&painter);
    }
}

} // namespace

BENCHMARK(BM_PaintVertical)->Arg(200)->Arg(400)->Arg(1000);
BENCHMARK(BM_PaintHorizontal)->Arg(400);
BENCHMARK(BM_FirstPaintLoadsSkin);

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
