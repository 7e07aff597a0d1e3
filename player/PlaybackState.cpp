#include "player/PlaybackState.h"

// Prefix of every caption and tip that names the playing track.
static const QString kNowPlayingPrefix = QStringLiteral("正在播放：");

QString PlaybackState::nowPlayingTip() const
{
    return kNowPlayingPrefix + nowPlayingText;
}

PlaybackState &PlaybackState::instance()
{
    static PlaybackState state;
    return state;
}
