// Costs of the service client's plumbing: the query encoder and the body
// decoder (MB/s of input), and fetchPage over a raw loopback GET of the same
// result page (the counter is fetchPage's time over the raw GET's).
#include "musicd/MusicdQueries.h"
#include "net/UrlEncode.h"
#include "service/FetchPage.h"
#include "service/ServiceConfig.h"
#include "tests/common/MusicdServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QUrl>
#include <benchmark/benchmark.h>
#include <httplib.h>

namespace {

QString g_pageUrl;

void BM_UrlEncode(benchmark::State &state)
{
    // A search phrase as people type it: Chinese, Latin, digits, spaces.
    const QString text = QStringLiteral("  晴川 夏日的约定 Live (Remix, 2010) 第2集 Tom & Jerry  ")
                             .repeated(int(state.range(0)));
    const qint64 bytes = text.toUtf8().size();
    for (auto _ : state)
        benchmark::DoNotOptimize(musicservice::urlEncode(text));
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_UrlEncode)->Arg(1)->Arg(100);

void BM_DecodeBytesUtf8Page(benchmark::State &state)
{
    const QByteArray body = musicservice::fetchPage(g_pageUrl, QStringLiteral("utf-8")).toUtf8();
    for (auto _ : state)
        benchmark::DoNotOptimize(musicservice::decodeBytes(body, QStringLiteral("utf-8")));
    state.SetBytesProcessed(state.iterations() * body.size());
}
BENCHMARK(BM_DecodeBytesUtf8Page);

void BM_DecodeBytesGbk(benchmark::State &state)
{
    const QByteArray body = QByteArray("\xD6\xD0\xCE\xC4 abc \xB8\xE8\xB4\xCA ").repeated(20000);
    for (auto _ : state)
        benchmark::DoNotOptimize(musicservice::decodeBytes(body, QStringLiteral("gbk")));
    state.SetBytesProcessed(state.iterations() * body.size());
}
BENCHMARK(BM_DecodeBytesGbk);

// Arg 0: the raw GET asks for the page as it is. Arg 1: it asks for the
// same encodings Qt's network stack offers, so both get the same answer and
// the ratio is the client's own overhead, not the server's compression.
void BM_FetchPageOverRawGet(benchmark::State &state)
{
    const QUrl url(g_pageUrl);
    httplib::Client raw(url.host().toStdString(), url.port());
    const std::string target =
        url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority).toStdString();
    httplib::Headers headers;
    if (state.range(0) == 1)
        headers.emplace("Accept-Encoding", "zstd, br, gzip, deflate");
    double rawMs = 0;
    double fetchMs = 0;
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        auto res = raw.Get(target, headers);
        const QString rawText = QString::fromUtf8(res ? res->body : std::string());
        rawMs += t.nsecsElapsed() / 1e6;
        benchmark::DoNotOptimize(rawText.size());

        t.restart();
        const QString text = musicservice::fetchPage(g_pageUrl, QStringLiteral("utf-8"));
        fetchMs += t.nsecsElapsed() / 1e6;
        if (text != rawText)
            state.SkipWithError("FetchPage and the raw GET disagree");
    }
    state.counters["rawMs"] = rawMs / double(state.iterations());
    state.counters["fetchMs"] = fetchMs / double(state.iterations());
    state.counters["ratio"] = rawMs > 0 ? fetchMs / rawMs : 0;
}
BENCHMARK(BM_FetchPageOverRawGet)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    MusicdServer server;
    if (!server.start()) {
        std::fputs("velmor-musicd did not start\n", stderr);
        return 1;
    }
    ServiceConfig::setHost(server.url());
    g_pageUrl = ServiceConfig::resource(101) +
                musicservice::urlEncode(QString::fromUtf8(musicd::kQueryManyPages)) +
                ServiceConfig::resource(104) + QStringLiteral("2");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
