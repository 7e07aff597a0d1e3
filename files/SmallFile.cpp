#include "files/SmallFile.h"

#include "files/CheckedCommit.h"
#include "files/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

namespace smallfile {

Contents read(const QString &path, qint64 maxBytes)
{
    Contents contents;
    QFile file;
    if (RegularFile::open(path, file, &contents.problem, &contents.missing))
        contents.bytes = file.read(maxBytes + 1);
    else if (contents.missing)
        contents.problem.clear();
    return contents;
}

QString jsonObjectIn(const QByteArray &bytes, qint64 maxBytes, QJsonObject *object)
{
    if (bytes.size() > maxBytes)
        return QStringLiteral("larger than %1 bytes").arg(maxBytes);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return QStringLiteral("not JSON (%1 at byte %2)")
            .arg(error.errorString())
            .arg(error.offset);
    if (!document.isObject())
        return QStringLiteral("not a JSON object");
    *object = document.object();
    return QString();
}

bool replace(const QString &path, const QByteArray &bytes, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("cannot create %1").arg(folder));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    if (file.write(bytes) != bytes.size())
        return fail(file.errorString());
    const CheckedCommit commit = CheckedCommit::commit(file, bytes.size());
    return commit.saved || fail(commit.reason);
}

} // namespace smallfile
