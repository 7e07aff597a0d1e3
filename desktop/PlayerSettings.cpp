#include "desktop/PlayerSettings.h"

#include "files/SmallFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <cmath>

namespace {

// Bumped when the layout changes in a way an older reader would misread.
constexpr int kFormatVersion = 1;

const QString kVersionKey = QStringLiteral("version");
const QString kVolumeKey = QStringLiteral("volume");
const QString kPlayModeKey = QStringLiteral("playMode");
const QString kWindowKey = QStringLiteral("window");
const QString kAutoFitKey = QStringLiteral("autoFit");
const QString kAutoTickKey = QStringLiteral("autoTick");
const QString kDownloadFolderKey = QStringLiteral("downloadFolder");
const QString kPlaylistKey = QStringLiteral("playlist");
const QString kPlayingKey = QStringLiteral("playing");
const QString kTitleKey = QStringLiteral("title");
const QString kSingerKey = QStringLiteral("singer");
const QString kSongIdKey = QStringLiteral("songId");

struct ModeName
{
    PlayMode mode;
    const char *name;
};
constexpr ModeName kModeNames[] = {{PlayMode::None, "none"},
                                   {PlayMode::SingleRepeat, "singleRepeat"},
                                   {PlayMode::ListLoop, "listLoop"},
                                   {PlayMode::Random, "random"}};

// Thrown by the readers below; caught once in parse().
struct Refused
{
    QString why;
};

[[noreturn]] void refuse(const QString &why)
{
    throw Refused{why};
}

int readInt(const QJsonValue &value, const QString &key, int low, int high)
{
    // JSON numbers are doubles: an integer is a double with no fraction.
    const double number = value.toDouble(std::nan(""));
    if (!value.isDouble() || std::isnan(number) || number != std::floor(number) || number < low ||
        number > high)
        refuse(QStringLiteral("\"%1\" is not a whole number from %2 to %3")
                   .arg(key)
                   .arg(low)
                   .arg(high));
    return static_cast<int>(number);
}

bool readBool(const QJsonValue &value, const QString &key)
{
    if (!value.isBool())
        refuse(QStringLiteral("\"%1\" is not true or false").arg(key));
    return value.toBool();
}

QString readText(const QJsonValue &value, const QString &key)
{
    if (!value.isString())
        refuse(QStringLiteral("\"%1\" is not a text").arg(key));
    const QString text = value.toString();
    if (text.size() > PlayerSettingsFile::kMaxTextLength)
        refuse(QStringLiteral("\"%1\" is longer than %2 characters")
                   .arg(key)
                   .arg(PlayerSettingsFile::kMaxTextLength));
    return text;
}

PlayMode readMode(const QJsonValue &value)
{
    const QString name = readText(value, kPlayModeKey);
    for (const ModeName &known : kModeNames) {
        if (name == QLatin1String(known.name))
            return known.mode;
    }
    refuse(QStringLiteral("\"%1\" names no play mode").arg(kPlayModeKey));
}

PlayerSettings readSettings(const QJsonObject &root)
{
    PlayerSettings s;
    if (readInt(root.value(kVersionKey), kVersionKey, kFormatVersion, kFormatVersion) !=
        kFormatVersion)
        refuse(QStringLiteral("unknown version"));
    // Every key is optional: a missing one keeps its first-run value.
    if (root.contains(kVolumeKey))
        s.volume = readInt(root.value(kVolumeKey), kVolumeKey, 0, 100);
    if (root.contains(kPlayModeKey))
        s.playMode = readMode(root.value(kPlayModeKey));
    if (root.contains(kWindowKey)) {
        const QJsonValue window = root.value(kWindowKey);
        if (!window.isArray() || window.toArray().size() != 2)
            refuse(QStringLiteral("\"%1\" is not a pair of numbers").arg(kWindowKey));
        const int limit = PlayerSettingsFile::kMaxCoordinate;
        s.windowPosition = QPoint(readInt(window.toArray().at(0), kWindowKey, -limit, limit),
                                  readInt(window.toArray().at(1), kWindowKey, -limit, limit));
    }
    if (root.contains(kAutoFitKey))
        s.autoFit = readBool(root.value(kAutoFitKey), kAutoFitKey);
    if (root.contains(kAutoTickKey))
        s.autoTick = readBool(root.value(kAutoTickKey), kAutoTickKey);
    if (root.contains(kDownloadFolderKey))
        s.downloadFolder = readText(root.value(kDownloadFolderKey), kDownloadFolderKey);
    if (root.contains(kPlaylistKey)) {
        const QJsonValue list = root.value(kPlaylistKey);
        if (!list.isArray())
            refuse(QStringLiteral("\"%1\" is not a list").arg(kPlaylistKey));
        const QJsonArray items = list.toArray();
        if (items.size() > PlayerSettingsFile::kMaxItems)
            refuse(QStringLiteral("the playlist has %1 items, more than the %2 it can hold")
                       .arg(items.size())
                       .arg(PlayerSettingsFile::kMaxItems));
        s.playlist.reserve(items.size());
        for (const QJsonValue &entry : items) {
            if (!entry.isObject())
                refuse(QStringLiteral("a playlist item is not an object"));
            const QJsonObject item = entry.toObject();
            s.playlist.append({readText(item.value(kTitleKey), kTitleKey),
                               readText(item.value(kSingerKey), kSingerKey),
                               readText(item.value(kSongIdKey), kSongIdKey)});
        }
    }
    if (root.contains(kPlayingKey))
        s.playingIndex = readInt(root.value(kPlayingKey), kPlayingKey, -1,
                                 static_cast<int>(s.playlist.size()) - 1);
    return s;
}

} // namespace

QString PlayerSettingsFile::defaultPath()
{
    // GenericConfigLocation is $XDG_CONFIG_HOME, or ~/.config when unset.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/velmor/settings.json");
}

PlayerSettingsFile::ReadResult PlayerSettingsFile::parse(const QByteArray &bytes)
{
    ReadResult result;
    result.found = true;
    QJsonObject root;
    result.warning = smallfile::jsonObjectIn(bytes, kMaxFileBytes, &root);
    if (!result.warning.isEmpty())
        return result;
    try {
        result.settings = readSettings(root);
    } catch (const Refused &refused) {
        result.warning = refused.why;
    }
    return result;
}

QByteArray PlayerSettingsFile::serialise(const PlayerSettings &s)
{
    QJsonObject root;
    root.insert(kVersionKey, kFormatVersion);
    root.insert(kVolumeKey, s.volume);
    for (const ModeName &known : kModeNames) {
        if (known.mode == s.playMode)
            root.insert(kPlayModeKey, QLatin1String(known.name));
    }
    if (s.windowPosition)
        root.insert(kWindowKey, QJsonArray{s.windowPosition->x(), s.windowPosition->y()});
    root.insert(kAutoFitKey, s.autoFit);
    root.insert(kAutoTickKey, s.autoTick);
    root.insert(kDownloadFolderKey, s.downloadFolder);
    QJsonArray items;
    for (const PlayerSettings::Item &item : s.playlist)
        items.append(QJsonObject{
            {kTitleKey, item.title}, {kSingerKey, item.singer}, {kSongIdKey, item.songId}});
    root.insert(kPlaylistKey, items);
    root.insert(kPlayingKey, s.playingIndex);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

PlayerSettingsFile::ReadResult PlayerSettingsFile::read(const QString &path)
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

bool PlayerSettingsFile::write(const QString &path, const PlayerSettings &settings, QString *error)
{
    return smallfile::replace(path, serialise(settings), error);
}
