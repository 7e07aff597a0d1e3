// The built-in song catalogue of velmor-musicd: a few hundred songs by
// Chinese and Latin-script singers, built the same way on every run, plus
// the synthetic "load<N>" rows that are computed from their index and never
// stored. Read-only after construction, so request threads share it freely.
#pragma once

#include "musicd/search/Song.h"

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
