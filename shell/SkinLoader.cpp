#include "shell/SkinLoader.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>

namespace {

// The skin file's name in the program's folder.
const char kSkinFileName[] = "tessaryn.she";
// A style sheet larger than this is not a skin; it is refused unread.
constexpr qint64 kMaxSkinBytes = 1 << 20;

struct SkinState
{
    bool attached = false;
    QString previousSheet;
    int aero = 0;
};

SkinState &skinState()
{
    static SkinState state;
    return state;
}

} // namespace

QString defaultSkinPath()
{
    // A skin file beside the program is taken first, so a changed skin can
    // be tried without building; else the one compiled into the program.
    const QString beside =
        QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(kSkinFileName);
    if (QFileInfo(beside).isFile())
        return beside;
    return QStringLiteral(":/skin/") + QLatin1String(kSkinFileName);
}

int attachSkin(const QString &skinPath, const QString &password)
{
    Q_UNUSED(password);
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    if (!app || skinPath.isEmpty())
        return kSkinFailed;
    QFile file(skinPath);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxSkinBytes)
        return kSkinFailed;
    // Read at the file's own size: a buffer of the limit's size would be a
    // 1 MiB allocation that glibc then keeps in the heap for good.
    const QByteArray bytes = file.readAll();
    if (bytes.size() > kMaxSkinBytes || file.error() != QFileDevice::NoError)
        return kSkinFailed;
    SkinState &state = skinState();
    if (!state.attached)
        state.previousSheet = app->styleSheet();
    state.attached = true;
    app->setStyleSheet(QString::fromUtf8(bytes));
    return kSkinOk;
}

int setSkinAero(int enable)
{
    skinState().aero = enable;
    return kSkinOk;
}

int skinAero()
{
    return skinState().aero;
}

void detachSkin()
{
    SkinState &state = skinState();
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    if (!state.attached || !app)
        return;
    app->setStyleSheet(state.previousSheet);
    state.attached = false;
}
