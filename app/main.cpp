#include "app/AppFont.h"
#include "app/PlayerCommandLine.h"
#include "app/QtTranslation.h"
#include "app/TerminationSignals.h"
#include "desktop/MprisService.h"
#include "desktop/PlayerSettings.h"
#include "desktop/SettingsKeeper.h"
#include "desktop/SingleInstance.h"
#include "ownservice/OwnServiceController.h"
#include "player/PlayerState.h"
#include "service/ServiceConfig.h"
#include "window/Artwork.h"
#include "window/MainWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <malloc.h>
#include <optional>

namespace {

// Brings the window to the front, also out of the tray or the task bar.
void bringToFront(MainWindow &window)
{
    window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window.show();
    window.raise();
    window.activateWindow();
}

// Blocks from this size up are mapped on their own and given back when freed.
// glibc otherwise raises the threshold after the first large block is freed,
// and then keeps libmpv's read-ahead and decoder buffers of every song played
// in its heaps: the resident size grew by some 10 MiB over 16 plays.
constexpr int kMmapThresholdBytes = 128 * 1024;
// Heaps for threads: one for the window, one shared by every playback's
// reader and output threads. With glibc's default of up to 8 per core, each
// new song's threads could land on a heap of their own, whose freed pages
// stay with the process: 30 plays left 2.5 MiB more resident than with two.
constexpr int kMallocArenas = 2;

// Where requests go while this user's own service is being found or
// started: nowhere (nothing listens on port 0), so a search meanwhile fails
// at once rather than asking whatever listens on the default port.
const QString kNoServiceYet = QStringLiteral("http://127.0.0.1:0");
// Added to a search's summary while the library's first scan runs.
const QString kStillScanningNote = QStringLiteral("（音乐库仍在扫描，结果还会增加）");

// The controller's news goes to the window, its service to every request.
void showOwnService(OwnServiceController &controller, MainWindow &window)
{
    QObject::connect(
        &controller, &OwnServiceController::serviceChanged, &window,
        [](const QString &url) { ServiceConfig::setHost(url.isEmpty() ? kNoServiceYet : url); });
    // An empty library offers the music library dialog, once a run.
    QObject::connect(&controller, &OwnServiceController::statusChanged, &window,
                     [&window, &controller, offered = false](const QString &text) mutable {
                         window.showServiceStatus(text);
                         const ServiceStatus &status = controller.status();
                         if (!offered && status.library && !status.firstScan &&
                             status.tracks == 0) {
                             offered = true;
                             window.showLibraryDialog();
                         }
                     });
    QObject::connect(&window, &MainWindow::libraryChosen, &controller,
                     &OwnServiceController::apply);
    QObject::connect(&controller, &OwnServiceController::failed, &window,
                     [&window](const QString &text) { window.showServiceStatus(text, true); });
    QObject::connect(&controller, &OwnServiceController::firstScanChanged, &window,
                     [&window](bool scanning) {
                         window.setSearchNote(scanning ? kStillScanningNote : QString());
                     });
}

// Without --service, the server chosen in the music library settings, else
// this user's own service, found or started once the window shows.
void useOwnService(OwnServiceController &controller)
{
    ServiceConfig::setHost(kNoServiceYet);
    QTimer::singleShot(0, &controller, [&controller] {
        const LibrarySettingsFile::ReadResult settings =
            LibrarySettingsFile::read(LibrarySettingsFile::defaultPath());
        if (!settings.warning.isEmpty())
            std::fprintf(stderr, "velmor: %s is not used (%s)\n",
                         qPrintable(LibrarySettingsFile::defaultPath()),
                         qPrintable(settings.warning));
        controller.apply(settings.choice);
    });
}

} // namespace

int main(int argc, char **argv)
{
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, kMmapThresholdBytes);
    mallopt(M_ARENA_MAX, kMallocArenas);
#endif
    // The command line is read, and a running player is asked to take it,
    // before the application object opens a display: --help, --version, a
    // bad command line and a second start all work without one.
    const PlayerOptions options = parsePlayerCommandLine(commandline::argumentsOf(argc, argv));
    if (options.result.outcome != commandline::Outcome::Proceed)
        return commandline::report(options.result, kPlayerProgram);

    std::optional<SingleInstance> instance;
    if (!options.newInstance) {
        instance.emplace();
        switch (instance->claim(handedArguments(commandline::argumentsOf(argc, argv), options))) {
        case SingleInstance::Claim::HandedOff:
            return 0;
        case SingleInstance::Claim::Unanswered:
            std::fputs("velmor: the running player does not answer; starting another one\n",
                       stderr);
            instance.reset();
            break;
        case SingleInstance::Claim::NoChannel:
            std::fprintf(stderr, "velmor: %s; starting without the single-instance channel\n",
                         qPrintable(instance->problem()));
            instance.reset();
            break;
        case SingleInstance::Claim::First:
            break;
        }
    }

    QApplication app(argc, argv);
    // libmpv refuses to start under a locale whose decimal point is not '.'.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(kPlayerProgram);
    QApplication::setApplicationVersion(commandline::versionNumber());
    // The desktop entry's name: the shell matches the window to its entry and
    // icon by it.
    QGuiApplication::setDesktopFileName(QStringLiteral(VELMOR_APP_ID));
    // The window's own cut of the CJK face, before any widget asks for a
    // font, so the full system faces are never loaded for the common text.
    QApplication::setFont(AppFont::windowFont(AppFont::install()));
    // Qt's own dialog texts in Chinese like the rest, whatever the locale.
    installQtTranslation(&app);
    QApplication::setWindowIcon(Artwork::appIcon());
    if (instance && !instance->listen()) {
        std::fprintf(stderr,
                     "velmor: cannot listen on %s; later starts open players of their own\n",
                     qPrintable(instance->socketPath()));
    }
    // The main window only hides when closed, and the song information
    // window may be the last one shown: only the exit command ends the
    // program (from the tray menu, or by closing the window where the
    // desktop has no notification area).
    QApplication::setQuitOnLastWindowClosed(false);
    // The player's state, shown by the window and observed by the settings
    // and the desktop's media-player interface.
    PlayerState state;
    MainWindow window(&state);
    if (instance) {
        QObject::connect(&*instance, &SingleInstance::argumentsReceived, &window,
                         [&window](const QStringList &args) {
                             bringToFront(window);
                             // Out of the socket's handler: adding waits for
                             // the music service.
                             const QStringList files = handedFiles(args);
                             if (!files.isEmpty())
                                 QTimer::singleShot(0, &window,
                                                    [&window, files] { window.openFiles(files); });
                         });
    }
    SettingsKeeper settings(&state, PlayerSettingsFile::defaultPath());
    settings.keepDownloads(window.downloads());
    SettingsKeeper::WindowPart windowPart;
    windowPart.window = &window;
    windowPart.options = [&window] {
        return std::make_pair(window.autoFitBox->isChecked(), window.autoTickBox->isChecked());
    };
    windowPart.setOptions = [&window](bool autoFit, bool autoTick) {
        window.autoFitBox->setChecked(autoFit);
        window.autoTickBox->setChecked(autoTick);
    };
    settings.keepWindow(windowPart);
    settings.restore();
    // Watched from here on, as the keeper watches the rest: applying the
    // file is no change to save.
    for (QCheckBox *option : {window.autoFitBox, window.autoTickBox})
        QObject::connect(option, &QCheckBox::toggled, &settings, &SettingsKeeper::scheduleSave);
    // A termination signal leaves through the tray menu's exit command, so
    // the player stops and cleans up as it does there and ends with 0.
    TerminationSignals termination([&window](int) { window.exitPlayer(); });
    // Gone before the window: a service it started stops with the player.
    // A choice made in the music library dialog goes to its apply(), also
    // when the player was started on a --service.
    OwnServiceController ownService;
    showOwnService(ownService, window);
    if (!options.serviceNamed)
        useOwnService(ownService);
    window.show();
    // Files from the command line (the desktop's "open with") once the
    // window is up, and our own service with it: it is the one that takes
    // them.
    if (!options.files.isEmpty() && options.serviceNamed) {
        QTimer::singleShot(0, &window, [&window, &options] { window.openFiles(options.files); });
    } else if (!options.files.isEmpty()) {
        auto *waiting = new QMetaObject::Connection;
        *waiting = QObject::connect(&ownService, &OwnServiceController::serviceChanged, &window,
                                    [&window, &options, waiting](const QString &url) {
                                        if (url.isEmpty())
                                            return;
                                        QObject::disconnect(*waiting);
                                        delete waiting;
                                        // Out of the controller's signal: adding waits for the
                                        // service.
                                        QTimer::singleShot(0, &window, [&window, &options] {
                                            window.openFiles(options.files);
                                        });
                                    });
    }
    // The bus is joined once the window is up, so start-up does not wait
    // for it.
    QTimer::singleShot(0, &state, [&state] { MprisService::startOnSessionBus(&state); });
    return app.exec();
}
