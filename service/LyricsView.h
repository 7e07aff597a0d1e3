// The three places a song's lyric goes: the hidden lyric list lyricList (one
// timed line per entry, read by the lyric display), the song-information
// window's text box SongInfoWindow.lyricEdit and the main window's lyric box
// MainWindow.lyricLine.
#pragma once

#include <QString>

class LyricsView
{
public:
    virtual ~LyricsView() = default;

    virtual void clearLyricList() = 0;                     // lyricList emptied
    virtual void addLyricEntry(const QString &entry) = 0;  // one more lyricList entry
    virtual void setLyricText(const QString &text) = 0;    // SongInfoWindow.lyricEdit
    virtual void setLyricBoxText(const QString &text) = 0; // MainWindow.lyricLine
};
