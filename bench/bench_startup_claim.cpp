// What the one-player socket adds to a start: parsing the command line, the
// claim when no player runs (lock file, one failed connect), and taking the
// socket over once the application object is up.
#include "app/PlayerCommandLine.h"
#include "desktop/SingleInstance.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

void BM_ParseCommandLine(benchmark::State &state)
{
    const QStringList args{QStringLiteral("velmor"), QStringLiteral("--service"),
                           QStringLiteral("http://127.0.0.1:18750")};
    for (auto _ : state)
        benchmark::DoNotOptimize(parsePlayerCommandLine(args));
}
BENCHMARK(BM_ParseCommandLine);

void BM_ClaimAndListenAsFirst(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("instance"));
    for (auto _ : state) {
        SingleInstance instance(path);
        benchmark::DoNotOptimize(instance.claim({QStringLiteral("velmor")}));
        benchmark::DoNotOptimize(instance.listen());
    }
}
BENCHMARK(BM_ClaimAndListenAsFirst);

void BM_ClaimAsFirst(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("instance"));
    for (auto _ : state) {
        SingleInstance instance(path);
        benchmark::DoNotOptimize(instance.claim({QStringLiteral("velmor")}));
    }
}
BENCHMARK(BM_ClaimAsFirst);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
