// What a double-click on a search result costs beyond the network: the time
// from the double-click to the player's URL being set, against the sum of
// the round trips it waits for (the link answer and the lyric file), each
// measured on its own with the same client, server and song in the same
// iteration. Counters: url_ms (double-click to URL set), net_ms (the two
// round trips), extra_ms (the difference: parsing, lyric list, playlist).
#include "net/HttpClient.h"
#include "playback/MediaPlayer.h"
#include "service/LoadLyrics.h"
#include "service/ResolveSongLink.h"
#include "service/SearchResult.h"
#include "service/ServiceConfig.h"
#include "tests/common/MusicdServer.h"
#include "window/MainWindow.h"
#include "window/results/ResultList.h"

#include <QApplication>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>
#include <clocale>

namespace {

const QString kSongId = QStringLiteral("100001");
const QString kTitle = QStringLiteral("夏日的约定");
const QString kSinger = QStringLiteral("晴川");

// Runs events until the player plays (or two seconds pass).
void waitForPlaying(MediaPlayer *player)
{
    QElapsedTimer t;
    t.start();
    while (player->playState() != MediaPlayer::kStatePlaying && t.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
}

void BM_DoubleClickToUrl(benchmark::State &state)
{
    MusicdServer service;
    if (!service.start()) {
        state.SkipWithError("velmor-musicd did not start");
        return;
    }
    ServiceConfig::setHost(service.url());
    MainWindow form;
    form.show();
    form.appendResult(SearchResult{kSongId, kTitle, kSinger, QString(), false});
    MediaPlayer *player = form.mediaPlayer;

    QElapsedTimer clock;
    qint64 urlSetNs = 0;
    QObject::connect(player, &MediaPlayer::playStateChanged, &form, [&](int newState) {
        if (newState == MediaPlayer::kStateTransitioning && urlSetNs == 0)
            urlSetNs = clock.nsecsElapsed();
    });

    double urlMs = 0;
    double netMs = 0;
    for (auto _ : state) {
        // The two round trips on their own.
        clock.start();
        const HttpResult answer =
            HttpClient::get(musicservice::linkRequestUrl(kSongId, kSinger, kTitle));
        const auto lyricUrl =
            musicservice::cutLyricUrl(QString::fromUtf8(answer.body)).value_or(QString());
        benchmark::DoNotOptimize(HttpClient::get(lyricUrl));
        const double net = clock.nsecsElapsed() / 1e6;

        // The double-click, up to the URL (the player reports the new link
        // at once as "transitioning").
        form.resultsView->setCurrentRow(0);
        urlSetNs = 0;
        clock.start();
        form.onResultDoubleClicked();
        const double url = urlSetNs / 1e6;
        state.SetIterationTime(url / 1e3);
        urlMs += url;
        netMs += net;

        state.PauseTiming();
        waitForPlaying(player);
        form.clearPlaylist();
        state.ResumeTiming();
    }
    const double n = double(state.iterations());
    state.counters["url_ms"] = urlMs / n;
    state.counters["net_ms"] = netMs / n;
    state.counters["extra_ms"] = (urlMs - netMs) / n;
    ServiceConfig::setHost(QString());
}
BENCHMARK(BM_DoubleClickToUrl)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("VELMOR_AUDIO_OUTPUT"))
        qputenv("VELMOR_AUDIO_OUTPUT", "null");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
