// Costs of the bundled music service: start-up (tests start it many times),
// building the catalogue, one search page (the 30,000-row load query
// included), rendering a song's audio and a singer picture.
#include "musicd/Catalogue.h"
#include "musicd/SearchPageHtml.h"
#include "musicd/SingerPage.h"
#include "musicd/Tune.h"

#include <QCoreApplication>
#include <QProcess>
#include <benchmark/benchmark.h>

using namespace musicd;

static void BM_StartToUrlLine(benchmark::State &state)
{
    for (auto _ : state) {
        QProcess p;
        p.start(QStringLiteral(VELMOR_MUSICD_PATH),
                {QStringLiteral("--port"), QStringLiteral("0")});
        if (!p.waitForReadyRead(10000)) {
            state.SkipWithError("no URL line");
            break;
        }
        benchmark::DoNotOptimize(p.readLine());
        state.PauseTiming();
        p.terminate();
        p.waitForFinished(5000);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StartToUrlLine)->Iterations(30)->Unit(benchmark::kMillisecond);

static void BM_BuildCatalogue(benchmark::State &state)
{
    for (auto _ : state) {
        Catalogue c;
        benchmark::DoNotOptimize(c.songs().size());
    }
}
BENCHMARK(BM_BuildCatalogue)->Unit(benchmark::kMicrosecond);

static void BM_SearchPage(benchmark::State &state)
{
    const Catalogue catalogue;
    const QString query =
        state.range(0) == 0 ? QStringLiteral("精选") : QStringLiteral("load30000");
    const qint64 pageNo = state.range(0) == 0 ? 5 : 1000;
    for (auto _ : state) {
        const SearchPage page = catalogue.search(query, pageNo, kRowsPerPage);
        benchmark::DoNotOptimize(resultPageHtml(query, pageNo, page));
    }
}
BENCHMARK(BM_SearchPage)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

static void BM_RenderWav(benchmark::State &state)
{
    const Tune tune(100001, true);
    for (auto _ : state)
        benchmark::DoNotOptimize(tune.renderWav());
    state.counters["audio_s"] = tune.durationSeconds();
}
BENCHMARK(BM_RenderWav)->Unit(benchmark::kMillisecond);

static void BM_SingerPicture(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(singerPictureJpeg(3));
}
BENCHMARK(BM_SingerPicture)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
