// How the player's state reads on the desktop's media-player interface
// (MPRIS2) and back: play mode <-> LoopStatus and Shuffle, the player's
// state -> PlaybackStatus, the playing track -> Metadata. Pure functions,
// so the rules are tested without a bus; MprisService only applies them.
#pragma once

#include "player/PlayOrder.h"

#include <QString>
#include <QVariantMap>
#include <optional>

namespace mpris {

// LoopStatus values.
inline const QString kLoopNone = QStringLiteral("None");
inline const QString kLoopTrack = QStringLiteral("Track");
inline const QString kLoopPlaylist = QStringLiteral("Playlist");

// PlaybackStatus values.
inline const QString kPlaying = QStringLiteral("Playing");
inline const QString kPaused = QStringLiteral("Paused");
inline const QString kStopped = QStringLiteral("Stopped");

// Single repeat is "Track"; list loop is "Playlist"; random plays on
// without end too, so it also reads "Playlist" (with Shuffle on); no mode
// is "None".
QString loopStatusFor(PlayMode mode);
bool shuffleFor(PlayMode mode);

// The mode after a client sets LoopStatus to `loopStatus` while `current`
// holds, or nothing for a value that is not a LoopStatus. "Playlist" keeps
// random play (it already loops); "Track" and "None" end it.
std::optional<PlayMode> modeForLoopStatus(PlayMode current, const QString &loopStatus);
// The mode after a client sets Shuffle: on is random play; off leaves random
// for list loop and keeps any other mode.
PlayMode modeForShuffle(PlayMode current, bool shuffle);

// The player's playState (MediaPlayer::kState...) as a PlaybackStatus.
// Loading and buffering count as playing: the track is on its way.
QString playbackStatusFor(int playState);

// What Metadata describes. An empty songId means nothing is loaded.
struct Track
{
    QString songId;
    QString title;
    QString singer;
    QString album;
    double lengthSeconds = 0; // 0 while unknown
    QString artUrl;           // the singer picture; empty when there is none
};

// Object path naming a track ("/org/velmor/track/" + the song ID with
// every character outside [A-Za-z0-9] written as _XXXX hex), so it is a
// valid D-Bus path whatever the service's IDs look like.
QString trackIdPath(const QString &songId);
// The path a client gets while nothing is loaded.
inline const QString kNoTrackPath = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");

// Metadata for `track`; mpris:trackid is the path as a string (the D-Bus
// layer wraps it as an object path), mpris:length is in microseconds and
// absent while unknown, empty texts are left out. Empty map when nothing is
// loaded.
QVariantMap metadataFor(const Track &track);

// Microseconds <-> seconds for Position, Seek and SetPosition.
qint64 toMicroseconds(double seconds);
double toSeconds(qint64 microseconds);

} // namespace mpris
