// Cost of what the main window's display clock asks the player on each of
// its 1 ms ticks, while a track plays: a slow answer here turns directly
// into CPU spent while music plays.
#include "playback/MediaPlayer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>
#include <clocale>
#include <httplib.h>
#include <thread>

namespace {

std::string silentWav(int seconds)
{
    constexpr uint32_t kRate = 8000;
    const uint32_t bytes = kRate * 2 * seconds;
    std::string wav = "RIFF";
    const auto put = [&wav](uint32_t value, int count) {
        for (int i = 0; i < count; ++i)
            wav.push_back(char((value >> (8 * i)) & 0xff));
    };
    put(36 + bytes, 4);
    wav += "WAVEfmt ";
    put(16, 4), put(1, 2), put(1, 2), put(kRate, 4), put(kRate * 2, 4), put(2, 2), put(16, 2);
    wav += "data";
    put(bytes, 4);
    wav.append(bytes, '\0');
    return wav;
}

void BM_ClockTickWhilePlaying(benchmark::State &state)
{
    httplib::Server server;
    const std::string wav = silentWav(120);
    server.Get("/a.wav", [&wav](const httplib::Request &, httplib::Response &res) {
        res.set_content(wav, "audio/wav");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread thread([&server] { server.listen_after_bind(); });

    MediaPlayer player;
    player.setUrl(QStringLiteral("http://127.0.0.1:%1/a.wav").arg(port));
    QElapsedTimer waited;
    waited.start();
    while (player.playState() != MediaPlayer::kStatePlaying && waited.elapsed() < 15000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    if (player.playState() != MediaPlayer::kStatePlaying)
        state.SkipWithError("the track did not start");
    for (auto _ : state) {
        QString text = player.status() + player.controls().currentPositionString() +
                       player.currentMedia().durationString();
        benchmark::DoNotOptimize(text);
        benchmark::DoNotOptimize(player.controls().currentPosition());
        benchmark::DoNotOptimize(player.currentMedia().duration());
        benchmark::DoNotOptimize(player.playState());
        player.settings().setVolume(80);
    }
    player.controls().stop();
    server.stop();
    thread.join();
}
BENCHMARK(BM_ClockTickWhilePlaying)->MinTime(2.0);

} // namespace

int main(int argc, char **argv)
{
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
