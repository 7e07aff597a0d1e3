// A small library held in memory for the Subsonic tests: two artists, three
// albums, five songs, and each user's stars, plays and playlists kept as
// the index would keep them. Its media (audio bytes, LRC lyrics, a cover
// picture) come from MemoryMedia.
#pragma once

#include "musicd/MusicSource.h"
#include "musicd/library/ApiLibrary.h"

#include <QBuffer>
#include <QHash>
#include <QImage>
#include <algorithm>
#include <map>

class MemoryApiLibrary : public musicd::ApiLibrary
{
public:
    MemoryApiLibrary()
    {
        m_artists = {{1, QStringLiteral("Aster"), 2, 11, 0},
                     {2, QStringLiteral("The Birch"), 1, 0, 0}};
        m_albums = {
            {10, QStringLiteral("Alpha & <Omega>"), QStringLiteral("Aster"), 1, 2, 400, 2001,
             QStringLiteral("Rock"), 100, 11, 0, 0, 0},
            {20, QStringLiteral("Beta"), QStringLiteral("Aster"), 1, 1, 200, 2005,
             QStringLiteral("Jazz"), 300, 0, 0, 0, 0},
            {30, QStringLiteral("Gamma"), QStringLiteral("The Birch"), 2, 2, 300, 1999,
             QStringLiteral("Rock"), 200, 0, 0, 0, 0},
        };
        const auto song = [](qint64 id, const char *title, qint64 album, int track, bool cover) {
            musicd::ApiSong s;
            s.id = id;
            s.title = QString::fromUtf8(title);
            s.albumId = album;
            s.track = track;
            s.hasCover = cover;
            s.suffix = QStringLiteral("mp3");
            s.durationSeconds = 200;
            s.size = 1000 + id;
            s.created = 100 + id;
            return s;
        };
        m_songs = {song(11, "One", 10, 1, true), song(12, "Two", 10, 2, false),
                   song(21, "Three", 20, 1, false), song(31, "Four \x01 bell", 30, 1, false),
                   song(32, "Five", 30, 2, false)};
        for (musicd::ApiSong &s : m_songs) {
            const musicd::ApiAlbum a = *findAlbum(s.albumId);
            s.album = a.name;
            s.artist = a.artist;
            s.artistId = a.artistId;
            s.genre = a.genre;
            s.year = a.year;
            s.path = a.artist + QLatin1Char('/') + a.name + QLatin1Char('/') + s.title;
        }
    }

    QList<musicd::ApiArtist> artists(const QString &user) const override
    {
        ++artistListsRead;
        QList<musicd::ApiArtist> out;
        for (musicd::ApiArtist a : m_artists) {
            a.starred = starOf(user, Kind::Artist, a.id);
            out.append(a);
        }
        return out;
    }
    std::optional<musicd::ApiArtist> artist(qint64 id, const QString &user) const override
    {
        for (const musicd::ApiArtist &a : artists(user)) {
            if (a.id == id)
                return a;
        }
        return std::nullopt;
    }
    QList<musicd::ApiAlbum> albumsOfArtist(qint64 artistId, const QString &user) const override
    {
        QList<musicd::ApiAlbum> out;
        for (const musicd::ApiAlbum &a : m_albums) {
            if (a.artistId == artistId)
                out.append(*album(a.id, user));
        }
        return out;
    }
    std::optional<musicd::ApiAlbum> album(qint64 id, const QString &user) const override
    {
        std::optional<musicd::ApiAlbum> a = findAlbum(id);
        if (a)
            a->starred = starOf(user, Kind::Album, id);
        return a;
    }
    QList<musicd::ApiSong> songsOfAlbum(qint64 albumId, const QString &user) const override
    {
        QList<musicd::ApiSong> out;
        for (const musicd::ApiSong &s : m_songs) {
            if (s.albumId == albumId)
                out.append(*song(s.id, user));
        }
        return out;
    }
    std::optional<musicd::ApiSong> song(qint64 id, const QString &user) const override
    {
        for (musicd::ApiSong s : m_songs) {
            if (s.id == id) {
                s.starred = starOf(user, Kind::Song, id);
                s.playCount = m_plays.value(user + QString::number(id));
                return s;
            }
        }
        return std::nullopt;
    }
    QList<musicd::ApiAlbum> albumList(const musicd::AlbumQuery &query,
                                      const QString &user) const override
    {
        QList<musicd::ApiAlbum> out;
        for (const musicd::ApiAlbum &a : m_albums) {
            if (query.order == musicd::AlbumOrder::ByGenre && a.genre != query.genre)
                continue;
            if (query.order == musicd::AlbumOrder::Starred && !starOf(user, Kind::Album, a.id))
                continue;
            out.append(*album(a.id, user));
        }
        if (query.order == musicd::AlbumOrder::Newest)
            std::sort(out.begin(), out.end(),
                      [](const auto &a, const auto &b) { return a.created > b.created; });
        return out.mid(query.offset, query.size);
    }
    QList<musicd::ApiSong> randomSongs(int size, const QString &, int, int,
                                       const QString &user) const override
    {
        QList<musicd::ApiSong> out;
        for (const musicd::ApiSong &s : m_songs)
            out.append(*song(s.id, user));
        return out.mid(0, size);
    }
    QList<musicd::ApiGenre> genres() const override
    {
        return {{QStringLiteral("Jazz"), 1, 1}, {QStringLiteral("Rock"), 4, 2}};
    }
    QList<musicd::ApiSong> songsByGenre(const QString &genre, int count, int offset,
                                        const QString &user) const override
    {
        QList<musicd::ApiSong> out;
        for (const musicd::ApiSong &s : m_songs) {
            if (s.genre == genre)
                out.append(*song(s.id, user));
        }
        return out.mid(offset, count);
    }
    musicd::ApiSearchResult search(const musicd::ApiSearch &search,
                                   const QString &user) const override
    {
        musicd::ApiSearchResult r;
        for (const musicd::ApiArtist &a : artists(user)) {
            if (a.name.contains(search.query, Qt::CaseInsensitive))
                r.artists.append(a);
        }
        for (const musicd::ApiAlbum &a : m_albums) {
            if (a.name.contains(search.query, Qt::CaseInsensitive))
                r.albums.append(*album(a.id, user));
        }
        for (const musicd::ApiSong &s : m_songs) {
            if (s.title.contains(search.query, Qt::CaseInsensitive) ||
                s.artist.contains(search.query, Qt::CaseInsensitive))
                r.songs.append(*song(s.id, user));
        }
        r.artists = r.artists.mid(search.artistOffset, search.artistCount);
        r.albums = r.albums.mid(search.albumOffset, search.albumCount);
        r.songs = r.songs.mid(search.songOffset, search.songCount);
        return r;
    }
    bool setStarred(const QString &user, Kind kind, qint64 id, bool starred) override
    {
        const bool known = kind == Kind::Song    ? song(id, user).has_value()
                           : kind == Kind::Album ? findAlbum(id).has_value()
                                                 : artist(id, user).has_value();
        if (!known)
            return false;
        if (starred)
            m_stars[key(user, kind, id)] = 1700000000;
        else
            m_stars.erase(key(user, kind, id));
        ++m_stamp;
        return true;
    }
    std::optional<uint64_t> stamp() const override { return m_stamp; }
    std::optional<uint64_t> contentStamp() const override { return m_contentStamp; }
    bool starsArtists(const QString &user) const override
    {
        for (const musicd::ApiArtist &a : m_artists) {
            if (starOf(user, Kind::Artist, a.id))
                return true;
        }
        return false;
    }
    // A scan's change: an artist renamed.
    void renameArtist(int index, const QString &name)
    {
        m_artists[index].name = name;
        ++m_stamp;
        ++m_contentStamp;
    }
    mutable int artistListsRead = 0;
    musicd::ApiStarred starred(const QString &user) const override
    {
        musicd::ApiStarred r;
        for (const musicd::ApiArtist &a : artists(user)) {
            if (a.starred)
                r.artists.append(a);
        }
        for (const musicd::ApiAlbum &a : m_albums) {
            if (starOf(user, Kind::Album, a.id))
                r.albums.append(*album(a.id, user));
        }
        for (const musicd::ApiSong &s : m_songs) {
            if (starOf(user, Kind::Song, s.id))
                r.songs.append(*song(s.id, user));
        }
        return r;
    }
    bool scrobble(const QString &user, qint64 songId, qint64) override
    {
        if (!song(songId, user))
            return false;
        ++m_plays[user + QString::number(songId)];
        ++m_stamp;
        return true;
    }
    QList<musicd::ApiPlaylist> playlists(const QString &user) const override
    {
        QList<musicd::ApiPlaylist> out;
        for (const auto &[id, p] : m_playlists) {
            if (p.owner == user || p.isPublic)
                out.append(*playlist(id, user));
        }
        return out;
    }
    std::optional<musicd::ApiPlaylist> playlist(qint64 id, const QString &user) const override
    {
        const auto it = m_playlists.find(id);
        if (it == m_playlists.end() || (it->second.owner != user && !it->second.isPublic))
            return std::nullopt;
        musicd::ApiPlaylist p = it->second;
        for (const qint64 songId : m_entries.at(id))
            p.entries.append(*song(songId, user));
        p.songCount = int(p.entries.size());
        return p;
    }
    qint64 createPlaylist(const QString &user, const QString &name,
                          const QList<qint64> &songIds) override
    {
        const qint64 id = ++m_lastPlaylist;
        musicd::ApiPlaylist p;
        p.id = id;
        p.name = name;
        p.owner = user;
        p.created = p.changed = 1700000000;
        m_playlists[id] = p;
        m_entries[id] = {};
        for (const qint64 s : songIds) {
            if (song(s, user))
                m_entries[id].append(s);
        }
        return id;
    }
    bool updatePlaylist(const QString &user, qint64 id, const PlaylistChange &change) override
    {
        const auto it = m_playlists.find(id);
        if (it == m_playlists.end() || it->second.owner != user)
            return false;
        if (change.name)
            it->second.name = *change.name;
        if (change.comment)
            it->second.comment = *change.comment;
        if (change.isPublic)
            it->second.isPublic = *change.isPublic;
        QList<qint64> &entries = m_entries[id];
        if (change.replaceSongs)
            entries = *change.replaceSongs;
        QList<int> gone = change.indexesToRemove;
        std::sort(gone.rbegin(), gone.rend());
        for (const int i : gone) {
            if (i >= 0 && i < entries.size())
                entries.removeAt(i);
        }
        entries += change.songIdsToAdd;
        return true;
    }
    bool deletePlaylist(const QString &user, qint64 id) override
    {
        const auto it = m_playlists.find(id);
        if (it == m_playlists.end() || it->second.owner != user)
            return false;
        m_playlists.erase(it);
        return true;
    }

private:
    static QString key(const QString &user, Kind kind, qint64 id)
    {
        return QStringLiteral("%1/%2/%3").arg(user).arg(int(kind)).arg(id);
    }
    qint64 starOf(const QString &user, Kind kind, qint64 id) const
    {
        const auto it = m_stars.find(key(user, kind, id));
        return it == m_stars.end() ? 0 : it->second;
    }
    std::optional<musicd::ApiAlbum> findAlbum(qint64 id) const
    {
        for (const musicd::ApiAlbum &a : m_albums) {
            if (a.id == id)
                return a;
        }
        return std::nullopt;
    }

    QList<musicd::ApiArtist> m_artists;
    QList<musicd::ApiAlbum> m_albums;
    QList<musicd::ApiSong> m_songs;
    std::map<QString, qint64> m_stars;
    QHash<QString, qint64> m_plays;
    std::map<qint64, musicd::ApiPlaylist> m_playlists;
    std::map<qint64, QList<qint64>> m_entries;
    qint64 m_lastPlaylist = 0;
    uint64_t m_stamp = 1;        // any change
    uint64_t m_contentStamp = 1; // a change that is not a user's
};

// Audio of song N is N bytes counting up; song 11 has a 400x200 PNG cover
// and LRC lyrics with one line sung twice; song 21 plain lyrics, which the
// player gets with times spread over the song.
class MemoryMedia : public musicd::MusicSource
{
public:
    static QByteArray audioOf(qint64 id)
    {
        QByteArray bytes;
        for (qint64 i = 0; i < 1000 + id; ++i)
            bytes.append(char(i % 251));
        return bytes;
    }
    musicd::SearchPage search(const QString &, qint64, int) const override { return {}; }
    std::optional<musicd::Song> songById(qint64) const override { return std::nullopt; }
    std::optional<musicd::SingerEntry> singerByName(const QString &) const override
    {
        return std::nullopt;
    }
    std::optional<musicd::Payload> picture(const QString &) override { return std::nullopt; }
    std::optional<musicd::Payload> audio(qint64 id, const QString &suffix) override
    {
        if (suffix != QLatin1String("mp3"))
            return std::nullopt;
        return musicd::Payload{std::make_shared<const QByteArray>(audioOf(id)), nullptr,
                               "audio/mpeg"};
    }
    std::optional<QString> writtenLyric(qint64 id) override
    {
        if (id == 21)
            return QStringLiteral("Plain one\n\n  Plain two\n");
        if (id == 11)
            return QString::fromUtf8(*lyric(11)->bytes);
        return QString();
    }
    std::optional<musicd::Payload> lyric(qint64 id) override
    {
        if (id == 21)
            return musicd::Payload{std::make_shared<const QByteArray>(
                                       "[00:00.00]Plain one\r\n[01:00.00]Plain two\r\n"),
                                   nullptr, "text/plain"};
        if (id != 11)
            return std::nullopt;
        return musicd::Payload{std::make_shared<const QByteArray>(
                                   "[ti:One]\r\n[00:01.50]First line\r\n"
                                   "[00:03.00][00:07.25]Chorus & more\r\n[00:05]Middle\r\n"),
                               nullptr, "text/plain"};
    }
    std::optional<musicd::Payload> cover(qint64 id) override
    {
        if (id != 11)
            return std::nullopt;
        QImage image(400, 200, QImage::Format_RGB32);
        image.fill(Qt::red);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return musicd::Payload{std::make_shared<const QByteArray>(png), nullptr, "image/png"};
    }
};
