// The library's Subsonic face over the index: artists, albums and songs as
// the index groups them, the album lists, search, and each user's stars,
// plays and playlists. Every answer is a query of the index (its SQL
// tables, or its in-memory word lists for search), never a walk of the
// disk; reads share the index's reader connections, the users' changes go
// through one connection of their own, so they never wait for a request
// thread but at most for a scan batch's commit.
#pragma once

#include "musicd/library/ApiLibrary.h"
#include "musicd/library/LibraryIndex.h"
#include "musicd/library/NameSearch.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace musicd {

class IndexLibrary : public ApiLibrary
{
public:
    // roots: the library's folders (canonical, as the scanner keeps them),
    // so that songs' paths are shown relative to theirs.
    explicit IndexLibrary(const LibraryIndex &index, std::vector<std::string> roots = {});
    ~IndexLibrary() override;
    IndexLibrary(const IndexLibrary &) = delete;
    IndexLibrary &operator=(const IndexLibrary &) = delete;

    QList<ApiArtist> artists(const QString &user) const override;
    std::optional<ApiArtist> artist(qint64 id, const QString &user) const override;
    QList<ApiAlbum> albumsOfArtist(qint64 artistId, const QString &user) const override;
    std::optional<ApiAlbum> album(qint64 id, const QString &user) const override;
    QList<ApiSong> songsOfAlbum(qint64 albumId, const QString &user) const override;
    std::optional<ApiSong> song(qint64 id, const QString &user) const override;
    QList<ApiAlbum> albumList(const AlbumQuery &query, const QString &user) const override;
    QList<ApiSong> randomSongs(int size, const QString &genre, int fromYear, int toYear,
                               const QString &user) const override;
    QList<ApiGenre> genres() const override;
    QList<ApiSong> songsByGenre(const QString &genre, int count, int offset,
                                const QString &user) const override;
    ApiSearchResult search(const ApiSearch &search, const QString &user) const override;

    bool setStarred(const QString &user, Kind kind, qint64 id, bool starred) override;
    ApiStarred starred(const QString &user) const override;
    bool scrobble(const QString &user, qint64 songId, qint64 time) override;

    QList<ApiPlaylist> playlists(const QString &user) const override;
    std::optional<ApiPlaylist> playlist(qint64 id, const QString &user) const override;
    qint64 createPlaylist(const QString &user, const QString &name,
                          const QList<qint64> &songIds) override;
    bool updatePlaylist(const QString &user, qint64 id, const PlaylistChange &change) override;
    bool deletePlaylist(const QString &user, qint64 id) override;
    std::optional<uint64_t> stamp() const override;
    std::optional<uint64_t> contentStamp() const override;
    void warmUp() const override { m_names.refresh(); }
    bool starsArtists(const QString &user) const override;

private:
    // The SELECT heads of the rows below; each ends before its WHERE, and
    // takes the asking user as ?1.
    static const char kSongSelect[];
    static const char kAlbumSelect[];
    static const char kArtistSelect[];
    static const char kPlaylistSelect[];
    static const char kListedArtist[]; // a condition on ar
    // (id, case-folded name) of the listed albums or artists, by ID.
    static const char *listedNamesSql(NameSearch::Kind kind);
    static QByteArray albumListSql(AlbumOrder order, bool yearsDown);
    ApiSong songOfRow(sqlite3_stmt *stmt) const;
    static ApiAlbum albumOfRow(sqlite3_stmt *stmt);
    static ApiArtist artistOfRow(sqlite3_stmt *stmt);
    static ApiPlaylist playlistOfRow(sqlite3_stmt *stmt);
    // Steps a statement (bound, ?1 the user) to its end, one row each.
    QList<ApiSong> songRows(sqlite3_stmt *stmt) const;
    static QList<ApiAlbum> albumRows(sqlite3_stmt *stmt);
    static QList<ApiArtist> artistRows(sqlite3_stmt *stmt);
    QList<ApiSong> songsById(const LibraryIndex::ReaderLease &lease,
                             const std::vector<uint32_t> &ids, const QString &user) const;
    static std::vector<qint64> idRows(sqlite3_stmt *stmt);
    // Random listed albums picked by ID in a large library; none in a
    // small one, which is shuffled whole.
    std::optional<std::vector<qint64>> sampledAlbums(const LibraryIndex::ReaderLease &lease,
                                                     int size) const;
    QList<ApiAlbum> albumsById(const LibraryIndex::ReaderLease &lease,
                               const std::vector<qint64> &ids, const QString &user) const;
    QList<ApiArtist> artistsById(const LibraryIndex::ReaderLease &lease,
                                 const std::vector<qint64> &ids, const QString &user) const;
    QList<ApiSong> playlistEntries(const LibraryIndex::ReaderLease &lease, qint64 id,
                                   const QString &user) const;

    // The users' changes: fn runs in a write transaction on the
    // connection of its own (opened on first use), committed when it
    // returns true and rolled back otherwise.
    bool writeTransaction(const std::function<bool(sqlite3 *)> &fn);

    const LibraryIndex &m_index;
    std::vector<std::string> m_roots;
    NameSearch m_names;
    std::mutex m_writeMutex;
    sqlite3 *m_writer = nullptr;
    std::atomic<uint32_t> m_userChanges{0}; // the users' committed changes
};

} // namespace musicd
