// The main window in a process of its own for tools/bench-playback.sh,
// which measures its CPU from outside. It shows the real window, and with
// --song plays that song of the service the way a double-click on a search
// result does, in single-repeat mode so that it keeps playing (lyric line,
// clock and knob all running) for as long as the script measures.
//
//   bench_playback_host --service URL [--song ID TITLE SINGER] [--close-after S]
//
// --close-after runs the tray menu's exit command after S seconds, so a
// script can check that the program then ends on its own with code 0.
// Prints "LINK <url>" once the song's link is set (the script plays the
// same link with a bare mpv for comparison), then "PLAYING <ms>" with the
// time from the double-click to the player playing; or "IDLE" when nothing
// plays.
#include "playback/MediaPlayer.h"
#include "service/ServiceConfig.h"
#include "window/MainWindow.h"
#include "window/results/ResultList.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QTimer>
#include <clocale>
#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    const QStringList args = app.arguments();
    ServiceConfig::configureFromArguments(args);

    QApplication::setQuitOnLastWindowClosed(false);
    MainWindow form;
    form.show();
    const int close = args.indexOf(QStringLiteral("--close-after"));
    if (close >= 0 && close + 1 < args.size())
        QTimer::singleShot(int(args.at(close + 1).toDouble() * 1000), &form,
                           [&form] { form.exitPlayer(); });

    const int song = args.indexOf(QStringLiteral("--song"));
    if (song < 0 || song + 3 >= args.size()) {
        std::printf("IDLE\n");
        std::fflush(stdout);
        return app.exec();
    }
    QTimer::singleShot(500, &form, [&form, &args, song] {
        form.singleRepeatBox->setChecked(true); // single repeat: never runs out
        form.appendResult(SearchResult{args.at(song + 1), args.at(song + 2), args.at(song + 3),
                                       QString(), false});
        form.resultsView->setCurrentRow(0);
        auto *sinceClick = new QElapsedTimer;
        sinceClick->start();
        QObject::connect(form.mediaPlayer, &MediaPlayer::playStateChanged, &form,
                         [sinceClick](int state) {
                             if (state != MediaPlayer::kStatePlaying || !sinceClick->isValid())
                                 return;
                             std::printf("PLAYING %.1f\n", sinceClick->nsecsElapsed() / 1e6);
                             std::fflush(stdout);
                             sinceClick->invalidate(); // the first play only
                         });
        form.onResultDoubleClicked();
        std::printf("LINK %s\n", qPrintable(form.mediaPlayer->url()));
        std::fflush(stdout);
    });
    return app.exec();
}
