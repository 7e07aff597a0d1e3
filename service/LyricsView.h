// The three places a song's lyric goes: the hidden lyric list List1 (one
// timed line per entry, read by the lyric display), the song-information
// window's text box Form2.Text5 and the main window's lyric box
// Form1.txtText3.
#pragma once

#include <QString>

class LyricsView
{
public:
    virtual ~LyricsView() = default;

    virtual void clearLyricList() = 0;                     // List1.Clear
    virtual void addLyricEntry(const QString &entry) = 0;  // List1.AddItem
    virtual void setLyricText(const QString &text) = 0;    // Form2.Text5
    virtual void setLyricBoxText(const QString &text) = 0; // Form1.txtText3
};
