#include "app/AppFont.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>

namespace AppFont {

QStringList searchDirectories()
{
    const QString exeDir = QCoreApplication::applicationDirPath();
    return {exeDir + QStringLiteral("/fonts"),
            QDir::cleanPath(exeDir + QStringLiteral("/../share/velmor/fonts"))};
}

QString install(const QStringList &dirs)
{
    const QString family = QLatin1String(kFamily);
    for (const QString &dir : dirs) {
        const QString path = dir + QLatin1Char('/') + QLatin1String(kFileName);
        if (!QFileInfo(path).isFile())
            continue;
        // A file path (not a resource) lets FreeType map the face from disk:
        // shared, clean pages touched only where glyphs are drawn, rather
        // than a heap copy of the whole file.
        const int id = QFontDatabase::addApplicationFont(path);
        if (id >= 0 && QFontDatabase::applicationFontFamilies(id).contains(family))
            return family;
        if (id >= 0)
            QFontDatabase::removeApplicationFont(id);
    }
    return QString();
}

QFont windowFont(const QString &installedFamily)
{
    QStringList families;
    if (!installedFamily.isEmpty())
        families << installedFamily;
    families << QStringLiteral("Noto Sans CJK SC") << QStringLiteral("Microsoft YaHei")
             << QStringLiteral("WenQuanYi Micro Hei") << QStringLiteral("sans-serif");
    QFont font;
    font.setFamilies(families);
    font.setPointSize(kPointSize);
    return font;
}

} // namespace AppFont
