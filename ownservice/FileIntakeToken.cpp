#include "ownservice/FileIntakeToken.h"
#include "ownservice/RuntimeFolder.h"

#include <QFile>
#include <QRandomGenerator>

namespace FileIntakeToken {
namespace {

bool isToken(const QByteArray &text)
{
    if (text.size() != kLength)
        return false;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

} // namespace

QString path(int port)
{
    const QString folder = runtimefolder::path();
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/musicd-%1.token").arg(port);
}

QByteArray create()
{
    quint32 words[kLength / 8];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char *>(words), sizeof(words)).toHex();
}

bool write(int port, const QByteArray &token, QString *error)
{
    QString why;
    const QString folder = runtimefolder::path(&why);
    if (folder.isEmpty()) {
        if (error)
            *error = why;
        return false;
    }
    return runtimefolder::writePrivate(path(port), token, error);
}

QByteArray read(int port)
{
    const QString file = path(port);
    if (file.isEmpty())
        return QByteArray();
    const std::optional<QByteArray> token = runtimefolder::readPrivate(file, kLength);
    return token && isToken(*token) ? *token : QByteArray();
}

void remove(int port)
{
    if (const QString file = path(port); !file.isEmpty())
        QFile::remove(file);
}

} // namespace FileIntakeToken
