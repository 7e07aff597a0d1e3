// What the Subsonic face of velmor-musicd asks of the library: artists,
// albums and songs as the index groups them, the lists the apps browse, and
// each user's own state (stars, plays, playlists). Everything comes from the
// index, never from a walk of the disk, and every method may be called from
// many request threads at once.
//
// IDs: a song's is its track ID; an album's and an artist's are kept in the
// index by name (album: album artist, else artist, and album name; artist:
// each name the tags give), so they survive a rescan for as long as those
// names do. An album or artist that no track names any more is not listed.
//
// Times are seconds since the epoch; 0 means "never" (not starred, not
// played). A user is named as the users file names them; without a users
// file the one user is "velmor".
#pragma once

#include <QList>
#include <QString>
#include <optional>

namespace musicd {

struct ApiSong
{
    qint64 id = 0;
    QString title;
    QString artist; // as tagged (several joined with " / ")
    QString album;
    QString albumArtist; // the tag; empty when the file has none
    qint64 albumId = 0;
    qint64 artistId = 0; // the first artist's
    QString genre;
    int track = 0; // 0 when untagged
    int disc = 0;
    int year = 0;
    int durationSeconds = 0;
    int bitRateKbps = 0;
    qint64 size = 0;
    QString suffix;        // "mp3", "flac"... lower case
    QString path;          // relative to its folder, for showing: "Artist/Album/01 Song.mp3"
    bool hasCover = false; // an embedded or folder picture to be had
    qint64 created = 0;    // when the index first took it
    qint64 starred = 0;    // by the asking user
    qint64 playCount = 0;  // the asking user's
    qint64 lastPlayed = 0;
};

struct ApiAlbum
{
    qint64 id = 0;
    QString name;
    QString artist; // the album artist, else the first track's artist
    qint64 artistId = 0;
    int songCount = 0;
    int durationSeconds = 0;
    int year = 0;
    QString genre;
    qint64 created = 0;     // the earliest of its songs'
    qint64 coverSongId = 0; // a song whose picture stands for the album; 0 none
    qint64 starred = 0;
    qint64 playCount = 0; // the sum over its songs, the asking user's
    qint64 lastPlayed = 0;
};

struct ApiArtist
{
    qint64 id = 0;
    QString name;
    int albumCount = 0;
    qint64 coverSongId = 0;
    qint64 starred = 0;
};

struct ApiGenre
{
    QString name;
    int songCount = 0;
    int albumCount = 0;
};

struct ApiPlaylist
{
    qint64 id = 0;
    QString name;
    QString comment;
    QString owner;
    bool isPublic = false;
    int songCount = 0;
    int durationSeconds = 0;
    qint64 created = 0;
    qint64 changed = 0;
    QList<ApiSong> entries; // filled by playlist(), in order, duplicates kept
};

// getAlbumList2's kinds.
enum class AlbumOrder {
    Newest, // by created, newest first
    AlphabeticalByName,
    AlphabeticalByArtist, // by artist, then album name
    Random,
    ByYear, // fromYear..toYear; descending when fromYear > toYear
    ByGenre,
    Frequent, // the user's play count, most first; unplayed left out
    Recent,   // the user's last play, latest first; unplayed left out
    Starred,  // the user's stars, latest first
};

struct AlbumQuery
{
    AlbumOrder order = AlbumOrder::AlphabeticalByName;
    int size = 10; // already clamped by the caller (1..500)
    int offset = 0;
    int fromYear = 0;
    int toYear = 0;
    QString genre;
};

struct ApiSearch
{
    QString query; // the words, matched like the player's search
    int artistCount = 20;
    int artistOffset = 0;
    int albumCount = 20;
    int albumOffset = 0;
    int songCount = 20;
    int songOffset = 0;
};

struct ApiSearchResult
{
    QList<ApiArtist> artists;
    QList<ApiAlbum> albums;
    QList<ApiSong> songs;
};

struct ApiStarred
{
    QList<ApiArtist> artists;
    QList<ApiAlbum> albums;
    QList<ApiSong> songs;
};

class ApiLibrary
{
public:
    virtual ~ApiLibrary() = default;

    // Every artist that names an album, by name (case-insensitive).
    virtual QList<ApiArtist> artists(const QString &user) const = 0;
    virtual std::optional<ApiArtist> artist(qint64 id, const QString &user) const = 0;
    virtual QList<ApiAlbum> albumsOfArtist(qint64 artistId, const QString &user) const = 0;
    virtual std::optional<ApiAlbum> album(qint64 id, const QString &user) const = 0;
    // By disc, track, then title.
    virtual QList<ApiSong> songsOfAlbum(qint64 albumId, const QString &user) const = 0;
    virtual std::optional<ApiSong> song(qint64 id, const QString &user) const = 0;
    virtual QList<ApiAlbum> albumList(const AlbumQuery &query, const QString &user) const = 0;
    // genre empty and years 0: any.
    virtual QList<ApiSong> randomSongs(int size, const QString &genre, int fromYear, int toYear,
                                       const QString &user) const = 0;
    virtual QList<ApiGenre> genres() const = 0;
    // Songs by genre, for getSongsByGenre.
    virtual QList<ApiSong> songsByGenre(const QString &genre, int count, int offset,
                                        const QString &user) const = 0;
    // An empty query lists everything (some apps sync that way).
    virtual ApiSearchResult search(const ApiSearch &search, const QString &user) const = 0;

    // ---- the user's own state; false when the ID is unknown ----
    enum class Kind { Song, Album, Artist };
    virtual bool setStarred(const QString &user, Kind kind, qint64 id, bool starred) = 0;
    virtual ApiStarred starred(const QString &user) const = 0;
    // A play of the song at time (a submission: counted, and the last play
    // when it is the latest; 0 is now). "Now playing" alone is not passed
    // here, as it counts nothing.
    virtual bool scrobble(const QString &user, qint64 songId, qint64 time) = 0;

    // Playlists: the user's own and everyone's public ones.
    virtual QList<ApiPlaylist> playlists(const QString &user) const = 0;
    virtual std::optional<ApiPlaylist> playlist(qint64 id, const QString &user) const = 0;
    // The new ID, 0 on failure (an unknown song among songIds is left out).
    virtual qint64 createPlaylist(const QString &user, const QString &name,
                                  const QList<qint64> &songIds) = 0;
    // Only the owner may change or delete; false otherwise or when unknown.
    struct PlaylistChange
    {
        std::optional<QString> name;
        std::optional<QString> comment;
        std::optional<bool> isPublic;
        QList<qint64> songIdsToAdd;                // appended in order
        QList<int> indexesToRemove;                // positions before the change
        std::optional<QList<qint64>> replaceSongs; // createPlaylist with an ID
    };
    virtual bool updatePlaylist(const QString &user, qint64 id, const PlaylistChange &change) = 0;
    virtual bool deletePlaylist(const QString &user, qint64 id) = 0;

    // A stamp that changes whenever anything an answer shows may have
    // changed (a scan's batch, a user's star, play or playlist), so an
    // answer written for one stamp may be given again while it holds;
    // none: nothing may be given again.
    virtual std::optional<uint64_t> stamp() const { return std::nullopt; }
    // Readies what searches need after the library changed, ahead of them.
    virtual void warmUp() const {}
    // The same for what every user sees alike (a scan's batch, not a
    // user's star or play).
    virtual std::optional<uint64_t> contentStamp() const { return stamp(); }
    // Whether the user has starred any artist, so their artist list is
    // their own rather than everyone's.
    virtual bool starsArtists(const QString &user) const
    {
        Q_UNUSED(user);
        return true;
    }
};

} // namespace musicd
