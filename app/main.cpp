#include "app/Artwork.h"
#include "app/MainWindow.h"
#include "app/TerminationSignals.h"
#include "service/ServiceConfig.h"

#include <QApplication>
#include <clocale>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // libmpv refuses to start under a locale whose decimal point is not '.'.
    std::setlocale(LC_NUMERIC, "C");
    ServiceConfig::configureFromArguments(app.arguments());
    QApplication::setApplicationName(QStringLiteral("velmor"));
    QApplication::setWindowIcon(Artwork::appIcon());
    // The main window only hides when closed, and the song information
    // window may be the last one shown: only the tray's exit command ends
    // the program.
    QApplication::setQuitOnLastWindowClosed(false);
    MainWindow window;
    // A termination signal leaves through the tray menu's exit command, so
    // the player stops and cleans up as it does there and ends with 0.
    TerminationSignals termination([&window](int) { window.exitPlayer(); });
    window.show();
    return app.exec();
}
