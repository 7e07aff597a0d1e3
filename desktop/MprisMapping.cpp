#include "desktop/MprisMapping.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

namespace mpris {

namespace {

// MediaPlayer's states, repeated here so this file needs no widget header.
constexpr int kStatePaused = 2;
constexpr int kStatePlaying = 3;
constexpr int kStateBuffering = 6;
constexpr int kStateTransitioning = 9;
constexpr int kStateReady = 10;

} // namespace

QString loopStatusFor(PlayMode mode)
{
    switch (mode) {
    case PlayMode::SingleRepeat:
        return kLoopTrack;
    case PlayMode::ListLoop:
    case PlayMode::Random:
        return kLoopPlaylist;
    case PlayMode::None:
        break;
    }
    return kLoopNone;
}

bool shuffleFor(PlayMode mode)
{
    return mode == PlayMode::Random;
}

std::optional<PlayMode> modeForLoopStatus(PlayMode current, const QString &loopStatus)
{
    if (loopStatus == kLoopTrack)
        return PlayMode::SingleRepeat;
    if (loopStatus == kLoopPlaylist)
        return current == PlayMode::Random ? PlayMode::Random : PlayMode::ListLoop;
    if (loopStatus == kLoopNone)
        return PlayMode::None;
    return std::nullopt;
}

PlayMode modeForShuffle(PlayMode current, bool shuffle)
{
    if (shuffle)
        return PlayMode::Random;
    return current == PlayMode::Random ? PlayMode::ListLoop : current;
}

QString playbackStatusFor(int playState)
{
    switch (playState) {
    case kStatePlaying:
    case kStateBuffering:
    case kStateTransitioning:
    case kStateReady:
        return kPlaying;
    case kStatePaused:
        return kPaused;
    default:
        return kStopped;
    }
}

QString trackIdPath(const QString &songId)
{
    QString element;
    for (const QChar c : songId) {
        const ushort u = c.unicode();
        const bool plain =
            (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9');
        if (plain)
            element.append(c);
        else
            element.append(QStringLiteral("_%1").arg(u, 4, 16, QLatin1Char('0')));
    }
    if (element.isEmpty())
        element = QStringLiteral("_");
    return QStringLiteral("/org/velmor/track/") + element;
}

QVariantMap metadataFor(const Track &track)
{
    QVariantMap map;
    if (track.songId.isEmpty())
        return map;
    map.insert(QStringLiteral("mpris:trackid"), trackIdPath(track.songId));
    if (!track.title.isEmpty())
        map.insert(QStringLiteral("xesam:title"), track.title);
    if (!track.singer.isEmpty())
        map.insert(QStringLiteral("xesam:artist"), QStringList{track.singer});
    if (!track.album.isEmpty())
        map.insert(QStringLiteral("xesam:album"), track.album);
    if (track.lengthSeconds > 0)
        map.insert(QStringLiteral("mpris:length"), toMicroseconds(track.lengthSeconds));
    if (!track.artUrl.isEmpty())
        map.insert(QStringLiteral("mpris:artUrl"), track.artUrl);
    return map;
}

qint64 toMicroseconds(double seconds)
{
    // Far beyond any track, and still well inside a qint64 of microseconds.
    constexpr double kLongestSeconds = 1e12;
    if (!std::isfinite(seconds) || seconds <= 0)
        return 0;
    seconds = std::min(seconds, kLongestSeconds);
    return static_cast<qint64>(std::llround(seconds * 1e6));
}

double toSeconds(qint64 microseconds)
{
    return static_cast<double>(microseconds) / 1e6;
}

} // namespace mpris
