// Plays one link with MediaPlayer for a number of seconds and exits, so a
// script can measure the whole process from outside (tools/bench-player.sh).
// With --clock the main window's display clock is imitated too: a 1 ms
// timer asking for everything the clock shows on every tick. --bare-clock
// runs the same timer asking nothing, to tell the timer's own wakeups apart.
//
//   bench_player_cpu URL SECONDS [--clock | --bare-clock]
// Prints one line: "<user+system CPU seconds> <final playState>".
#include "playback/MediaPlayer.h"

#include <QApplication>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <sys/resource.h>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: bench_player_cpu URL SECONDS [--clock | --bare-clock]\n");
        return 2;
    }

    MediaPlayer player;
    QTimer clock;
    clock.setInterval(1);
    QString sink; // keeps the compiler from dropping the reads
    const bool ask = !args.contains(QStringLiteral("--bare-clock"));
    QObject::connect(&clock, &QTimer::timeout, [&] {
        if (!ask || player.status().isEmpty())
            return;
        sink = player.controls().currentPositionString() + player.currentMedia().durationString();
        if (player.currentMedia().duration() > 0)
            sink += QString::number(player.controls().currentPosition());
        player.settings().setVolume(80);
        if (player.playState() == MediaPlayer::kStateReady)
            player.controls().play();
    });
    if (args.contains(QStringLiteral("--clock")) || !ask)
        clock.start();

    player.setUrl(args.at(1));
    QTimer::singleShot(int(args.at(2).toDouble() * 1000), &app, &QCoreApplication::quit);
    app.exec();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 +
                       usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    std::printf("%.3f %d\n", cpu, player.playState());
    return 0;
}
