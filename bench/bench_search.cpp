// Search throughput on the bundled service's real result pages: the scraper
// alone (MB/s of page text, UTF-8 bytes), and a whole ten-page search
// against the sum of its page fetches (how much the loop adds to waiting).
#include "musicd/MusicdQueries.h"
#include "net/UrlEncode.h"
#include "service/FetchPage.h"
#include "service/SearchPageParser.h"
#include "service/SearchSongs.h"
#include "service/SearchState.h"
#include "service/ServiceConfig.h"
#include "tests/common/MusicdServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>

namespace {

MusicdServer *g_server = nullptr;

QString pageUrl(const QString &words, int page)
{
    QString url = ServiceConfig::resource(101) + musicservice::urlEncode(words);
    if (page > 1)
        url += ServiceConfig::resource(104) + QString::number(page);
    return url;
}

// A view that only counts: the loop's own cost, not a widget's.
class CountingView : public SearchView
{
public:
    void appendResult(const SearchResult &) override { ++rows; }
    int resultCount() const override { return rows; }
    void clearResults() override { rows = 0; }
    bool autoTickEnabled() const override { return false; }
    void tickSelectAll() override {}
    bool fitEnabled() const override { return false; }
    void fitResultColumns() override {}
    void setStatusText(const QString &) override {}
    void clearSearchBox() override {}
    void setSearchButtonCaption(const QString &) override {}
    void setStopButtonCaption(const QString &) override {}
    void setStopButtonEnabled(bool) override {}
    int rows = 0;
};

void scrape(benchmark::State &state, const QString &words, int page)
{
    const QString text = musicservice::fetchPage(pageUrl(words, page), QStringLiteral("utf-8"));
    const qint64 bytes = text.toUtf8().size();
    qsizetype rows = 0;
    for (auto _ : state) {
        const QList<SearchResult> r = musicservice::parseSearchPage(text);
        rows = r.size();
        benchmark::DoNotOptimize(r.constData());
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["rows"] = double(rows);
    state.counters["pageKB"] = double(bytes) / 1024.0;
}

void BM_ScrapeFullPage(benchmark::State &state)
{
    scrape(state, QString::fromUtf8(musicd::kQueryManyPages), 2);
}
BENCHMARK(BM_ScrapeFullPage);

void BM_ScrapeLastPartialPage(benchmark::State &state)
{
    scrape(state, QString::fromUtf8(musicd::kQueryThreePages), 3);
}
BENCHMARK(BM_ScrapeLastPartialPage);

void BM_PageCountOfFirstPage(benchmark::State &state)
{
    const QString text = musicservice::fetchPage(
        pageUrl(QString::fromUtf8(musicd::kQueryManyPages), 1), QStringLiteral("utf-8"));
    const qint64 bytes = text.toUtf8().size();
    for (auto _ : state)
        benchmark::DoNotOptimize(musicservice::pageCountFromFirstPage(text));
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_PageCountOfFirstPage);

// Ten pages (300 synthetic rows): the whole search, then the same ten pages
// fetched one by one; the counter is the first time over the second.
void BM_TenPageSearchOverItsFetches(benchmark::State &state)
{
    const QString words = QStringLiteral("load300");
    double searchMs = 0;
    double fetchMs = 0;
    int rows = 0;
    for (auto _ : state) {
        CountingView view;
        QElapsedTimer t;
        t.start();
        musicservice::beginSearch(words, view);
        searchMs += t.nsecsElapsed() / 1e6;
        rows = view.rows;

        t.restart();
        for (int page = 1; page <= 10; ++page)
            benchmark::DoNotOptimize(
                musicservice::fetchPage(pageUrl(words, page), QStringLiteral("utf-8")));
        fetchMs += t.nsecsElapsed() / 1e6;
    }
    state.counters["rows"] = rows;
    state.counters["searchMs"] = searchMs / double(state.iterations());
    state.counters["fetchesMs"] = fetchMs / double(state.iterations());
    state.counters["ratio"] = fetchMs > 0 ? searchMs / fetchMs : 0;
}
BENCHMARK(BM_TenPageSearchOverItsFetches)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    MusicdServer server;
    if (!server.start()) {
        std::fputs("velmor-musicd did not start\n", stderr);
        return 1;
    }
    g_server = &server;
    ServiceConfig::setHost(server.url());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
