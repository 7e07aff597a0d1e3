#include "ownservice/LibrarySettings.h"

#include "files/SmallFile.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QUrl>

namespace {

constexpr int kFormatVersion = 1;

const QString kVersionKey = QStringLiteral("version");
const QString kFoldersKey = QStringLiteral("folders");
const QString kServerKey = QStringLiteral("server");

QString textProblem(const QJsonValue &value, const QString &key)
{
    if (!value.isString())
        return QStringLiteral("\"%1\" is not a text").arg(key);
    if (value.toString().size() > LibrarySettingsFile::kMaxTextLength)
        return QStringLiteral("\"%1\" is longer than %2 characters")
            .arg(key)
            .arg(LibrarySettingsFile::kMaxTextLength);
    return QString();
}

// Why root is not a library choice ("" when it is); fills *choice.
QString readChoice(const QJsonObject &root, LibraryChoice *choice)
{
    if (root.value(kVersionKey) != QJsonValue(kFormatVersion))
        return QStringLiteral("unknown version");
    if (root.contains(kFoldersKey)) {
        const QJsonValue folders = root.value(kFoldersKey);
        if (!folders.isArray())
            return QStringLiteral("\"%1\" is not a list").arg(kFoldersKey);
        if (folders.toArray().size() > LibrarySettingsFile::kMaxFolders)
            return QStringLiteral("more than %1 folders").arg(LibrarySettingsFile::kMaxFolders);
        for (const QJsonValue &folder : folders.toArray()) {
            if (QString why = textProblem(folder, kFoldersKey); !why.isEmpty())
                return why;
            // Relative folders would depend on where a program was started.
            if (!QDir::isAbsolutePath(folder.toString()))
                return QStringLiteral("folder \"%1\" is not an absolute path")
                    .arg(folder.toString());
            choice->folders.append(QDir::cleanPath(folder.toString()));
        }
    }
    if (root.contains(kServerKey)) {
        if (QString why = textProblem(root.value(kServerKey), kServerKey); !why.isEmpty())
            return why;
        const QString server = root.value(kServerKey).toString();
        const QUrl url(server, QUrl::StrictMode);
        const QString scheme = url.scheme().toLower();
        if (!server.isEmpty() &&
            (!url.isValid() || url.host().isEmpty() ||
             (scheme != QLatin1String("http") && scheme != QLatin1String("https"))))
            return QStringLiteral("\"%1\" is not an http:// or https:// address").arg(kServerKey);
        choice->server = server;
    }
    return QString();
}

} // namespace

QString LibrarySettingsFile::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/velmor/library.json");
}

QString LibrarySettingsFile::defaultMusicFolder()
{
    // Qt reads XDG_MUSIC_DIR from user-dirs.dirs, so a localised name
    // ("~/音乐") is found as the desktop set it up.
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    return music.isEmpty() ? QDir::homePath() + QStringLiteral("/Music") : music;
}

QStringList LibrarySettingsFile::servedFolders(const LibraryChoice &choice)
{
    return choice.folders.isEmpty() ? QStringList{defaultMusicFolder()} : choice.folders;
}

LibrarySettingsFile::ReadResult LibrarySettingsFile::parse(const QByteArray &bytes)
{
    ReadResult result;
    result.found = true;
    QJsonObject root;
    result.warning = smallfile::jsonObjectIn(bytes, kMaxFileBytes, &root);
    if (!result.warning.isEmpty())
        return result;
    LibraryChoice choice;
    result.warning = readChoice(root, &choice);
    if (result.warning.isEmpty())
        result.choice = choice;
    return result;
}

QByteArray LibrarySettingsFile::serialise(const LibraryChoice &choice)
{
    QJsonObject root;
    root.insert(kVersionKey, kFormatVersion);
    root.insert(kFoldersKey, QJsonArray::fromStringList(choice.folders));
    root.insert(kServerKey, choice.server);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

LibrarySettingsFile::ReadResult LibrarySettingsFile::read(const QString &path)
{
    const smallfile::Contents file = smallfile::read(path, kMaxFileBytes);
    if (file.missing)
        return {};
    if (file.problem.isEmpty())
        return parse(file.bytes);
    ReadResult result;
    result.found = true;
    result.warning = file.problem;
    return result;
}

bool LibrarySettingsFile::write(const QString &path, const LibraryChoice &choice, QString *error)
{
    return smallfile::replace(path, serialise(choice), error);
}
