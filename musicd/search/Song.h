// A song as every source of velmor-musicd tells it, and one page of a
// search's results.
#pragma once

#include <QList>
#include <QString>

namespace musicd {

struct Song
{
    qint64 id = 0;
    int index = 0; // position in the catalogue or among the synthetic rows
    QString title;
    QString singer;
    QString album; // without book-title marks; empty when the song has none
    bool latin = false;
    bool hasLyrics = true;
    int singerIndex = -1; // into Catalogue::singers(); -1 for synthetic rows
    // A library file's own format, length and size; a synthesised song is a
    // WAV whose length and size its Tune tells (these stay empty/negative).
    QString audioSuffix;
    int durationSeconds = -1;
    qint64 audioBytes = -1;
    // Where the player fetches the audio when it is not served here (a
    // Subsonic server's signed stream URL); empty for our own /music/ path.
    QString audioUrl;
};

// One result page of a search.
struct SearchPage
{
    qint64 total = 0; // every song the words match
    QList<Song> rows; // the songs of the page asked for (none beyond the last)
};

} // namespace musicd
