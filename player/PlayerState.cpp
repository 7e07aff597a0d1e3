#include "player/PlayerState.h"

#include "player/PlaylistCommands.h"

#include <algorithm>

namespace {

// Prefix of every caption and tip that names the playing track.
const QString kNowPlayingPrefix = QStringLiteral("正在播放：");

} // namespace

PlayerState::PlayerState(QObject *parent) : QObject(parent), m_playlist(this) {}

void PlayerState::setPlayMode(PlayMode mode)
{
    if (mode == m_playMode)
        return;
    m_playMode = mode;
    Q_EMIT playModeChanged(mode);
}

void PlayerState::setVolume(int percent)
{
    percent = std::clamp(percent, 0, 100);
    if (percent == m_volume)
        return;
    m_volume = percent;
    Q_EMIT volumeChanged(percent);
}

void PlayerState::startTrack(const Track &track)
{
    m_track = track;
    Q_EMIT trackChanged();
}

void PlayerState::setPictureUrl(const QString &url)
{
    if (url == m_track.pictureUrl)
        return;
    m_track.pictureUrl = url;
    Q_EMIT trackChanged();
}

QString PlayerState::nowPlayingTip() const
{
    return kNowPlayingPrefix + m_nowPlayingText;
}

QString PlayerState::trayTip(const QString &windowTitle) const
{
    return nowPlayingTest() ? nowPlayingTip() : windowTitle;
}

void PlayerState::setPlayback(int playState, bool loaded)
{
    if (playState == m_playState && loaded == m_loaded)
        return;
    m_playState = playState;
    m_loaded = loaded;
    Q_EMIT playbackChanged();
}

void PlayerState::setLength(double seconds)
{
    if (seconds == m_length)
        return;
    m_length = seconds;
    Q_EMIT lengthChanged();
}

void PlayerState::announceSeek(double seconds)
{
    Q_EMIT seeked(seconds);
}

void PlayerState::playItem(int index, PlayEntry entry)
{
    if (m_playlist.isValidIndex(index))
        Q_EMIT playRequested(index, entry);
}

void PlayerState::next()
{
    if (const auto index = PlayOrder::next(m_currentIndex, m_playlist.count()))
        Q_EMIT playRequested(*index, PlayEntry::Step);
    else
        Q_EMIT nothingToPlay();
}

void PlayerState::previous()
{
    if (const auto index = PlayOrder::previous(m_currentIndex, m_playlist.count()))
        Q_EMIT playRequested(*index, PlayEntry::Step);
    else
        Q_EMIT nothingToPlay();
}

void PlayerState::playAfterEnd()
{
    if (const auto index = m_playOrder.endOfTrack(m_playMode, m_currentIndex, m_playlist.count()))
        Q_EMIT playRequested(*index, PlayEntry::Step);
}

void PlayerState::removeItem(int index)
{
    const PlaylistCommands::DeleteOutcome outcome =
        PlaylistCommands::deleteOne(m_currentIndex, index, m_playlist.count());
    if (!outcome.remove)
        return;
    m_playlist.remove(index);
    m_currentIndex = outcome.currentPlayIndex;
    // Deleting any item restarts playback on the neighbour, which is
    // intended; an emptied list plays nothing.
    if (outcome.playIndex)
        Q_EMIT playRequested(*outcome.playIndex, PlayEntry::Menu);
}

void PlayerState::setCurrentItem(int index)
{
    if (!m_playlist.isValidIndex(index))
        return;
    m_playlist.setPlayIndex(index);
    m_currentIndex = index;
}
