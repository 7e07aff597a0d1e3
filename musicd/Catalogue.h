// The built-in song catalogue of velmor-musicd: a few hundred songs by
// Chinese and Latin-script singers, built the same way on every run, plus
// the synthetic "load<N>" rows that are computed from their index and never
// stored. Read-only after construction, so request threads share it freely.
#pragma once

#include <QList>
#include <QString>
#include <optional>

namespace musicd {

struct Singer
{
    QString name;
    bool latin = false;      // lyrics in English rather than Chinese
    bool hasPicture = false; // the singer page shows a cover picture
    QString pictureKey;      // file name (without ".jpg") of the picture
};

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

class Catalogue
{
public:
    Catalogue();

    const QList<Song> &songs() const { return m_songs; }
    const QList<Singer> &singers() const { return m_singers; }

    // A catalogue song or a synthetic row by its ID.
    std::optional<Song> songById(qint64 id) const;

    // Songs matching every whitespace-separated word of the query (each as a
    // case-insensitive substring of the title, the singer or the album), in
    // catalogue order, cut into pages of rowsPerPage. "load<N>" alone gives
    // N synthetic rows instead.
    SearchPage search(const QString &query, qint64 page, int rowsPerPage) const;

    // Singer lookup that ignores letter case and everything but letters and
    // digits: the player sends names as it scraped them, with "&amp;" and
    // "&#039;" deleted ("Tom  Jerry" for "Tom & Jerry").
    const Singer *singerByName(const QString &name) const;
    const Singer *singerByPictureKey(const QString &key) const;
    int singerIndexOf(const Singer *singer) const;

    static Song syntheticSong(qint64 index);

private:
    void addSinger(const QString &name, bool latin, bool hasPicture, int songCount);

    QList<Singer> m_singers;
    QList<Song> m_songs;
    QList<QString> m_haystacks; // case-folded "title\nsinger\nalbum" per song
};

} // namespace musicd
