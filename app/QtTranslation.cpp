#include "app/QtTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace {

// Qt's own catalogue, Simplified Chinese (the qtbase module holds the
// widgets' dialogs and the standard buttons).
const char kQtCatalogue[] = "qtbase_zh_CN";

} // namespace

bool installQtTranslation(QCoreApplication *app)
{
    if (!app)
        return false;
    auto *translator = new QTranslator(app);
    if (!translator->load(QLatin1String(kQtCatalogue),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}
