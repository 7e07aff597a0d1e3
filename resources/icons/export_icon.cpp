// Writes the window icon's picture (Artwork::appIconPicture) as the PNG
// files of the desktop's icon theme, one per size, so the installed icon is
// the very picture the window shows. Run by the build: velmor-icon-export OUTPUT_DIR NAME SIZE...
// writes OUTPUT_DIR/SIZExSIZE/apps/NAME.png.
#include "window/Artwork.h"

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>

int main(int argc, char **argv)
{
    // Drawing needs an application object, not a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fputs("usage: velmor-icon-export OUTPUT_DIR NAME SIZE...\n", stderr);
        return 2;
    }
    for (const QString &sizeText : args.mid(3)) {
        bool ok = false;
        const int side = sizeText.toInt(&ok);
        if (!ok || side <= 0) {
            std::fprintf(stderr, "velmor-icon-export: bad size %s\n", qPrintable(sizeText));
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(args.at(1)).arg(side);
        const QPixmap pixmap = Artwork::appIconPicture(side);
        if (!QDir().mkpath(dir) || pixmap.size() != QSize(side, side) ||
            !pixmap.save(dir + QLatin1Char('/') + args.at(2) + QStringLiteral(".png"))) {
            std::fprintf(stderr, "velmor-icon-export: cannot write the %d px icon in %s\n", side,
                         qPrintable(dir));
            return 1;
        }
    }
    return 0;
}
