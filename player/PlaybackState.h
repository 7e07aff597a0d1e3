// The playback state every part of the player shares: which playlist item
// plays, the "title--singer" text naming it, and how the tray tip was left
// the last time the window was closed. One instance lives for the whole
// run; the play path writes it, the window, the timers and the tray read it.
#pragma once

#include <QString>

struct PlaybackState
{
    // 0-based playlist index of the playing track. Deliberately 1 (not 0 or
    // -1) before anything has played: next/previous start from there.
    int currentPlayIndex = 1;
    // Title + "--" + singer of the playing track; never cleared once set.
    QString nowPlayingText;
    // 1 or 2; the close handler sets 2 when it hid the window while a track
    // was named, 1 otherwise.
    short trayTipMode = 1;

    // The now-playing test: captions and tray tips name the track when this
    // holds. It is true after a close with a track named even if the text
    // were empty, which is why trayTipMode takes part.
    bool nowPlayingTest() const { return !nowPlayingText.isEmpty() || trayTipMode != 1; }

    // "正在播放：" + nowPlayingText.
    QString nowPlayingTip() const;
    // The tray's tip between balloons: the now-playing tip when the test
    // holds, else the window's title.
    QString trayTip(const QString &windowTitle) const
    {
        return nowPlayingTest() ? nowPlayingTip() : windowTitle;
    }

    // The one shared instance.
    static PlaybackState &instance();
};
