#include "musicd/library/IndexLibrary.h"

#include "musicd/library/SqliteStatement.h"

#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <sqlite3.h>

namespace musicd {
namespace {

// The rows of the IDs given (?2), in their order, for the user (?1); one
// read transaction for them all, as the player's search reads a page.
template <typename Row, typename Id, typename RowOf>
QList<Row> rowsById(const LibraryIndex::ReaderLease &lease, const char *sql,
                    const std::vector<Id> &ids, const QString &user, RowOf rowOf)
{
    sqlite3_stmt *stmt = lease.prepared(sql);
    QList<Row> out;
    if (!stmt)
        return out;
    const bool inTransaction =
        ids.size() > 1 && sqlite3_exec(lease.db(), "BEGIN", nullptr, nullptr, nullptr) == 0;
    bindText(stmt, 1, user);
    for (const Id id : ids) {
        sqlite3_bind_int64(stmt, 2, static_cast<sqlite3_int64>(id));
        if (sqlite3_step(stmt) == SQLITE_ROW)
            out.append(rowOf(stmt));
        sqlite3_reset(stmt);
    }
    if (inTransaction)
        sqlite3_exec(lease.db(), "COMMIT", nullptr, nullptr, nullptr);
    return out;
}

// Every row the statement gives, then the statement reset for its next use.
template <typename Row, typename RowOf> QList<Row> allRows(sqlite3_stmt *stmt, RowOf rowOf)
{
    QList<Row> out;
    while (stmt && sqlite3_step(stmt) == SQLITE_ROW)
        out.append(rowOf(stmt));
    if (stmt)
        sqlite3_reset(stmt);
    return out;
}

} // namespace

// Where a list of albums is a page of all listed albums in one order.
QByteArray IndexLibrary::albumListSql(AlbumOrder order, bool yearsDown)
{
    const QByteArray page = " LIMIT ?2 OFFSET ?3";
    const QByteArray listed = " WHERE al.song_count>0";
    // An album's play sums are kept only while it has tracks, so they need
    // no look at the album to be listed.
    const QByteArray played = "SELECT x.album_id FROM album_plays x WHERE x.user=?1";
    // IDs only: SQLite works out a row's columns before it sorts; the
    // page's rows are read after.
    const QByteArray sql = "SELECT al.id FROM albums al";
    switch (order) {
    case AlbumOrder::Newest:
        return sql + listed + " ORDER BY al.created DESC, al.id DESC" + page;
    case AlbumOrder::AlphabeticalByName:
        return sql + listed + " ORDER BY al.folded, al.id" + page;
    case AlbumOrder::AlphabeticalByArtist:
        return sql + listed + " ORDER BY al.artist_folded, al.folded, al.id" + page;
    case AlbumOrder::Random:
        return sql + listed + " ORDER BY random()" + page;
    case AlbumOrder::ByYear:
        return sql + listed + " AND al.year BETWEEN ?4 AND ?5 ORDER BY al.year" +
               (yearsDown ? " DESC" : "") + ", al.folded, al.id" + page;
    case AlbumOrder::ByGenre:
        return sql + listed + " AND al.genre=?4 ORDER BY al.folded, al.id" + page;
    case AlbumOrder::Frequent:
        return played + " ORDER BY x.count DESC, x.last DESC, x.album_id DESC" + page;
    case AlbumOrder::Recent:
        return played + " ORDER BY x.last DESC, x.album_id DESC" + page;
    case AlbumOrder::Starred:
        return sql + " JOIN stars s2 ON s2.user=?1 AND s2.kind=1 AND s2.item_id=al.id" + listed +
               " ORDER BY s2.time DESC, al.id" + page;
    }
    return sql + listed + page;
}

namespace {

// The words of a search as the player's search takes them: split at white
// space, case-folded.
QStringList searchWords(const QString &query)
{
    static const QRegularExpression space(QStringLiteral("\\s+"));
    return query.toCaseFolded().split(space, Qt::SkipEmptyParts);
}

} // namespace

// An artist is shown while it names a listed album or a track.
const char IndexLibrary::kListedArtist[] =
    " (EXISTS(SELECT 1 FROM albums a2 WHERE a2.artist_id=ar.id AND a2.song_count>0) OR"
    " EXISTS(SELECT 1 FROM track_artists ta WHERE ta.artist_id=ar.id))";

const char IndexLibrary::kSongSelect[] =
    "SELECT t.id, t.title, t.artist, t.album, t.album_artist, t.album_id, t.artist_id, t.genre,"
    " t.track, t.disc, t.year, t.duration, t.bitrate, t.size, t.path, t.cover, t.created,"
    " coalesce(s.time,0), coalesce(p.count,0), coalesce(p.last,0) FROM tracks t"
    " LEFT JOIN stars s ON s.user=?1 AND s.kind=0 AND s.item_id=t.id"
    " LEFT JOIN plays p ON p.user=?1 AND p.track_id=t.id";
const char IndexLibrary::kAlbumSelect[] =
    "SELECT al.id, al.name, al.artist, al.artist_id, al.song_count, al.duration, al.year,"
    " al.genre, al.created, al.cover_id, coalesce(s.time,0),"
    " coalesce(x.count,0), coalesce(x.last,0)"
    " FROM albums al LEFT JOIN stars s ON s.user=?1 AND s.kind=1 AND s.item_id=al.id"
    " LEFT JOIN album_plays x ON x.album_id=al.id AND x.user=?1";
const char IndexLibrary::kArtistSelect[] =
    "SELECT ar.id, ar.name,"
    " (SELECT count(*) FROM albums a2 WHERE a2.artist_id=ar.id AND a2.song_count>0),"
    " coalesce((SELECT max(a2.cover_id) FROM albums a2 WHERE a2.artist_id=ar.id AND"
    " a2.song_count>0),0), coalesce(s.time,0)"
    " FROM artists ar LEFT JOIN stars s ON s.user=?1 AND s.kind=2 AND s.item_id=ar.id";

const char *IndexLibrary::listedNamesSql(NameSearch::Kind kind)
{
    static const QByteArray albums = "SELECT id, folded FROM albums WHERE song_count>0 ORDER BY id";
    static const QByteArray artists = QByteArray("SELECT ar.id, ar.folded FROM artists ar WHERE") +
                                      kListedArtist + " ORDER BY ar.id";
    return kind == NameSearch::Kind::Album ? albums.constData() : artists.constData();
}

IndexLibrary::IndexLibrary(const LibraryIndex &index, std::vector<std::string> roots)
    : m_index(index), m_roots(std::move(roots)),
      m_names(index, listedNamesSql(NameSearch::Kind::Album),
              listedNamesSql(NameSearch::Kind::Artist))
{
}

IndexLibrary::~IndexLibrary()
{
    sqlite3_close(m_writer);
}

ApiSong IndexLibrary::songOfRow(sqlite3_stmt *stmt) const
{
    ApiSong s;
    s.id = sqlite3_column_int64(stmt, 0);
    s.title = columnText(stmt, 1);
    s.artist = columnText(stmt, 2);
    s.album = columnText(stmt, 3);
    s.albumArtist = columnText(stmt, 4);
    s.albumId = sqlite3_column_int64(stmt, 5);
    s.artistId = sqlite3_column_int64(stmt, 6);
    s.genre = columnText(stmt, 7);
    s.track = sqlite3_column_int(stmt, 8);
    s.disc = sqlite3_column_int(stmt, 9);
    s.year = sqlite3_column_int(stmt, 10);
    s.durationSeconds = sqlite3_column_int(stmt, 11);
    s.bitRateKbps = sqlite3_column_int(stmt, 12);
    s.size = sqlite3_column_int64(stmt, 13);
    const auto *bytes = static_cast<const char *>(sqlite3_column_blob(stmt, 14));
    const std::string path(bytes ? bytes : "", size_t(sqlite3_column_bytes(stmt, 14)));
    // Shown relative to its root; a file handed over from elsewhere by
    // its name alone.
    std::string shown = path.substr(path.rfind('/') + 1);
    for (const std::string &root : m_roots) {
        if (path.size() > root.size() + 1 && path.compare(0, root.size(), root) == 0 &&
            path.at(root.size()) == '/')
            shown = path.substr(root.size() + 1);
    }
    s.path = QFile::decodeName(QByteArray::fromStdString(shown));
    const std::string::size_type dot = shown.rfind('.');
    if (dot != std::string::npos)
        s.suffix = QString::fromUtf8(shown.substr(dot + 1)).toLower();
    s.hasCover = sqlite3_column_int(stmt, 15) != 0;
    s.created = sqlite3_column_int64(stmt, 16);
    s.starred = sqlite3_column_int64(stmt, 17);
    s.playCount = sqlite3_column_int64(stmt, 18);
    s.lastPlayed = sqlite3_column_int64(stmt, 19);
    return s;
}

ApiAlbum IndexLibrary::albumOfRow(sqlite3_stmt *stmt)
{
    ApiAlbum a;
    a.id = sqlite3_column_int64(stmt, 0);
    a.name = columnText(stmt, 1);
    a.artist = columnText(stmt, 2);
    a.artistId = sqlite3_column_int64(stmt, 3);
    a.songCount = sqlite3_column_int(stmt, 4);
    a.durationSeconds = sqlite3_column_int(stmt, 5);
    a.year = sqlite3_column_int(stmt, 6);
    a.genre = columnText(stmt, 7);
    a.created = sqlite3_column_int64(stmt, 8);
    a.coverSongId = sqlite3_column_int64(stmt, 9);
    a.starred = sqlite3_column_int64(stmt, 10);
    a.playCount = sqlite3_column_int64(stmt, 11);
    a.lastPlayed = sqlite3_column_int64(stmt, 12);
    return a;
}

ApiArtist IndexLibrary::artistOfRow(sqlite3_stmt *stmt)
{
    ApiArtist a;
    a.id = sqlite3_column_int64(stmt, 0);
    a.name = columnText(stmt, 1);
    a.albumCount = sqlite3_column_int(stmt, 2);
    a.coverSongId = sqlite3_column_int64(stmt, 3);
    a.starred = sqlite3_column_int64(stmt, 4);
    return a;
}

QList<ApiSong> IndexLibrary::songRows(sqlite3_stmt *stmt) const
{
    return allRows<ApiSong>(stmt, [this](sqlite3_stmt *row) { return songOfRow(row); });
}

QList<ApiAlbum> IndexLibrary::albumRows(sqlite3_stmt *stmt)
{
    return allRows<ApiAlbum>(stmt, &IndexLibrary::albumOfRow);
}

QList<ApiArtist> IndexLibrary::artistRows(sqlite3_stmt *stmt)
{
    return allRows<ApiArtist>(stmt, &IndexLibrary::artistOfRow);
}

QList<ApiArtist> IndexLibrary::artists(const QString &user) const
{
    // Grouped from the listed albums, not counted per artist, in the
    // order of the list (one sort, not one for the groups and another for
    // the order).
    static const char kSql[] =
        "SELECT ar.id, ar.name, count(*), max(al.cover_id), coalesce(s.time,0)"
        " FROM albums al JOIN artists ar ON ar.id=al.artist_id"
        " LEFT JOIN stars s ON s.user=?1 AND s.kind=2 AND s.item_id=ar.id"
        " WHERE al.song_count>0 GROUP BY ar.folded, ar.id ORDER BY ar.folded, ar.id";
    LibraryIndex::ReaderLease lease(m_index);
    sqlite3_stmt *stmt = lease.prepared(kSql);
    if (!stmt)
        return {};
    bindText(stmt, 1, user);
    return artistRows(stmt);
}

std::optional<ApiArtist> IndexLibrary::artist(qint64 id, const QString &user) const
{
    static const QByteArray kSql =
        QByteArray(kArtistSelect) + " WHERE ar.id=?2 AND" + kListedArtist;
    LibraryIndex::ReaderLease lease(m_index);
    sqlite3_stmt *stmt = lease.prepared(kSql.constData());
    if (!stmt)
        return std::nullopt;
    bindText(stmt, 1, user);
    sqlite3_bind_int64(stmt, 2, id);
    const QList<ApiArtist> rows = artistRows(stmt);
    return rows.isEmpty() ? std::nullopt : std::optional<ApiArtist>(rows.front());
}

QList<ApiAlbum> IndexLibrary::albumsOfArtist(qint64 artistId, const QString &user) const
{
    // The artist's few albums by their index, not the whole year-ordered
    // list walked for them, which the planner may prefer to sorting.
    static const QByteArray kSql =
        QByteArray(kAlbumSelect)
            .replace("FROM albums al", "FROM albums al INDEXED BY albums_artist") +
        " WHERE al.artist_id=?2 AND al.song_count>0"
        " ORDER BY al.year, al.folded, al.id";
    LibraryIndex::ReaderLease lease(m_index);
    sqlite3_stmt *stmt = lease.prepared(kSql.constData());
    if (!stmt)
        return {};
    bindText(stmt, 1, user);
    sqlite3_bind_int64(stmt, 2, artistId);
    return albumRows(stmt);
}

std::optional<ApiAlbum> IndexLibrary::album(qint64 id, const QString &user) const
{
    LibraryIndex::ReaderLease lease(m_index);
    const QList<ApiAlbum> rows = albumsById(lease, {id}, user);
    return rows.isEmpty() ? std::nullopt : std::optional<ApiAlbum>(rows.front());
}

std::vector<qint64> IndexLibrary::idRows(sqlite3_stmt *stmt)
{
    std::vector<qint64> ids;
    while (stmt && sqlite3_step(stmt) == SQLITE_ROW)
        ids.push_back(sqlite3_column_int64(stmt, 0));
    if (stmt)
        sqlite3_reset(stmt);
    return ids;
}

QList<ApiAlbum> IndexLibrary::albumsById(const LibraryIndex::ReaderLease &lease,
                                         const std::vector<qint64> &ids, const QString &user) const
{
    static const QByteArray kSql = QByteArray(kAlbumSelect) + " WHERE al.id=?2 AND al.song_count>0";
    return rowsById<ApiAlbum>(lease, kSql.constData(), ids, user, &IndexLibrary::albumOfRow);
}

QList<ApiArtist> IndexLibrary::artistsById(const LibraryIndex::ReaderLease &lease,
                                           const std::vector<qint64> &ids,
                                           const QString &user) const
{
    static const QByteArray kSql = QByteArray(kArtistSelect) + " WHERE ar.id=?2";
    return rowsById<ApiArtist>(lease, kSql.constData(), ids, user, &IndexLibrary::artistOfRow);
}

QList<ApiSong> IndexLibrary::songsOfAlbum(qint64 albumId, const QString &user) const
{
    static const QByteArray kSql =
        QByteArray(kSongSelect) +
        " WHERE t.album_id=?2 ORDER BY t.disc, t.track, t.title COLLATE NOCASE, t.id";
    LibraryIndex::ReaderLease lease(m_index);
    sqlite3_stmt *stmt = lease.prepared(kSql.constData());
    if (!stmt || albumId <= 0)
        return {};
    bindText(stmt, 1, user);
    sqlite3_bind_int64(stmt, 2, albumId);
    return songRows(stmt);
}

std::optional<ApiSong> IndexLibrary::song(qint64 id, const QString &user) const
{
    LibraryIndex::ReaderLease lease(m_index);
    const QList<ApiSong> rows = songsById(lease, {static_cast<uint32_t>(id)}, user);
    return rows.isEmpty() || id <= 0 ? std::nullopt : std::optional<ApiSong>(rows.front());
}

QList<ApiSong> IndexLibrary::songsById(const LibraryIndex::ReaderLease &lease,
                                       const std::vector<uint32_t> &ids, const QString &user) const
{
    static const QByteArray kSql = QByteArray(kSongSelect) + " WHERE t.id=?2";
    return rowsById<ApiSong>(lease, kSql.constData(), ids, user,
                             [this](sqlite3_stmt *stmt) { return songOfRow(stmt); });
}

QList<ApiAlbum> IndexLibrary::albumList(const AlbumQuery &query, const QString &user) const
{
    constexpr int kOrders = int(AlbumOrder::Starred) + 1;
    // One statement per order (two for years), made once.
    static const QList<QByteArray> kSql = [] {
        QList<QByteArray> all;
        for (int i = 0; i < kOrders; ++i)
            all.append(albumListSql(AlbumOrder(i), false));
        all.append(albumListSql(AlbumOrder::ByYear, true));
        return all;
    }();
    if (query.order == AlbumOrder::Random) {
        LibraryIndex::ReaderLease lease(m_index);
        if (const std::optional<std::vector<qint64>> ids = sampledAlbums(lease, query.size))
            return albumsById(lease, *ids, user);
    }
    const bool yearsDown = query.order == AlbumOrder::ByYear && query.fromYear > query.toYear;
    const int which = yearsDown ? kOrders : int(query.order);
    if (which < 0 || which >= kSql.size())
        return {};
    LibraryIndex::ReaderLease lease(m_index);
    sqlite3_stmt *stmt = lease.prepared(kSql.at(which).constData());
    if (!stmt)
        return {};
    bindText(stmt, 1, user);
    sqlite3_bind_int(stmt, 2, std::max(0, query.size));
    sqlite3_bind_int(stmt, 3, std::max(0, query.offset));
    if (query.order == AlbumOrder::ByYear) {
        sqlite3_bind_int(stmt, 4, std::min(query.fromYear, query.toYear));
        sqlite3_bind_int(stmt, 5, std::max(query.fromYear, query.toYear));
    } else if (query.order == AlbumOrder::ByGenre) {
        bindText(stmt, 4, query.genre);
    }
    return albumsById(lease, idRows(stmt), user);
}

std::optional<std::vector<qint64>>
IndexLibrary::sampledAlbums(const LibraryIndex::ReaderLease &lease, int size) const
{
    // Shuffling every album costs milliseconds in a large library: there,
    // each pick is the first listed album from a random ID on (SQLite's
    // random()), a few lookups of the ID index. A small library is
    // shuffled whole (the caller's ORDER BY random()).
    constexpr qint64 kShuffleAll = 2000;
    static const char kCount[] =
        "SELECT (SELECT count(*) FROM (SELECT 1 FROM albums WHERE song_count>0 LIMIT ?1)),"
        " (SELECT max(id) FROM albums)";
    static const char kPick[] = "SELECT id FROM albums WHERE song_count>0 AND"
                                " id>=abs(random())%?1+1 ORDER BY id LIMIT 1";
    sqlite3_stmt *count = lease.prepared(kCount);
    if (count)
        sqlite3_bind_int64(count, 1, kShuffleAll + 1);
    if (!count || sqlite3_step(count) != SQLITE_ROW)
        return std::nullopt;
    const qint64 listed = sqlite3_column_int64(count, 0);
    const qint64 maxId = sqlite3_column_int64(count, 1);
    sqlite3_reset(count);
    if (listed <= kShuffleAll)
        return std::nullopt;
    sqlite3_stmt *pick = lease.prepared(kPick);
    if (!pick)
        return std::nullopt;
    std::vector<qint64> ids;
    for (int tries = 0; int(ids.size()) < size && tries < 4 * size; ++tries) {
        sqlite3_bind_int64(pick, 1, maxId);
        if (sqlite3_step(pick) == SQLITE_ROW) {
            const qint64 id = sqlite3_column_int64(pick, 0);
            if (std::find(ids.begin(), ids.end(), id) == ids.end())
                ids.push_back(id);
        }
        sqlite3_reset(pick);
    }
    return ids;
}

QList<ApiSong> IndexLibrary::randomSongs(int size, const QString &genre, int fromYear, int toYear,
                                         const QString &user) const
{
    // Only IDs are shuffled; the rows are read for the few picked.
    static const QByteArray kSql =
        QByteArray(kSongSelect) +
        " WHERE t.id IN (SELECT id FROM tracks WHERE (?2='' OR genre=?2) AND"
        " (?3=0 OR year>=?3) AND (?4=0 OR year<=?4) ORDER BY random() LIMIT ?5)"
        " ORDER BY random()";
    LibraryIndex::ReaderLease lease(m_index);
    sqlite3_stmt *stmt = lease.prepared(kSql.constData());
    if (!stmt)
        return {};
    bindText(stmt, 1, user);
    bindText(stmt, 2, genre);
    sqlite3_bind_int(stmt, 3, fromYear);
    sqlite3_bind_int(stmt, 4, toYear);
    sqlite3_bind_int(stmt, 5, std::max(0, size));
    return songRows(stmt);
}

QList<ApiGenre> IndexLibrary::genres() const
{
    static const char kSql[] =
        "SELECT genre, count(*), count(DISTINCT nullif(album_id,0)) FROM tracks"
        " WHERE genre<>'' GROUP BY genre ORDER BY genre";
    LibraryIndex::ReaderLease lease(m_index);
    sqlite3_stmt *stmt = lease.prepared(kSql);
    QList<ApiGenre> out;
    while (stmt && sqlite3_step(stmt) == SQLITE_ROW)
        out.append({columnText(stmt, 0), sqlite3_column_int(stmt, 1), sqlite3_column_int(stmt, 2)});
    if (stmt)
        sqlite3_reset(stmt);
    return out;
}

QList<ApiSong> IndexLibrary::songsByGenre(const QString &genre, int count, int offset,
                                          const QString &user) const
{
    static const QByteArray kSql =
        QByteArray(kSongSelect) + " WHERE t.genre=?2 ORDER BY t.id LIMIT ?3 OFFSET ?4";
    LibraryIndex::ReaderLease lease(m_index);
    sqlite3_stmt *stmt = lease.prepared(kSql.constData());
    if (!stmt)
        return {};
    bindText(stmt, 1, user);
    bindText(stmt, 2, genre);
    sqlite3_bind_int(stmt, 3, std::max(0, count));
    sqlite3_bind_int(stmt, 4, std::max(0, offset));
    return songRows(stmt);
}

ApiSearchResult IndexLibrary::search(const ApiSearch &search, const QString &user) const
{
    ApiSearchResult result;
    const QStringList words = searchWords(search.query);
    // Songs: the player's own matching, from the in-memory word lists.
    std::vector<uint32_t> songIds;
    if (search.songCount > 0) {
        if (words.isEmpty()) {
            LibraryIndex::ReaderLease lease(m_index);
            static const char kAll[] = "SELECT id FROM tracks ORDER BY id LIMIT ?1 OFFSET ?2";
            if (sqlite3_stmt *all = lease.prepared(kAll)) {
                sqlite3_bind_int(all, 1, search.songCount);
                sqlite3_bind_int(all, 2, std::max(0, search.songOffset));
                while (sqlite3_step(all) == SQLITE_ROW)
                    songIds.push_back(uint32_t(sqlite3_column_int64(all, 0)));
                sqlite3_reset(all);
            }
        } else {
            songIds =
                m_index.matchIds(search.query, std::max(0, search.songOffset), search.songCount);
        }
    }
    // Albums and artists: every word in the name, case-folded, found in
    // memory; with no word, all of them in name order from the index. The
    // names may be read from the index while they are looked up, so no
    // reader is held meanwhile: a search holding one of the few readers
    // and waiting for another could wait for ever, and all of them with it.
    std::vector<qint64> albumIds;
    std::vector<qint64> artistIds;
    if (!words.isEmpty() && search.albumCount > 0) {
        albumIds = m_names.find(NameSearch::Kind::Album, words, std::max(0, search.albumOffset),
                                search.albumCount);
    }
    if (!words.isEmpty() && search.artistCount > 0) {
        artistIds = m_names.find(NameSearch::Kind::Artist, words, std::max(0, search.artistOffset),
                                 search.artistCount);
    }
    LibraryIndex::ReaderLease lease(m_index);
    if (!lease.db())
        return result;
    static const char kAllAlbums[] = "SELECT al.id FROM albums al WHERE al.song_count>0"
                                     " ORDER BY al.folded, al.id LIMIT ?1 OFFSET ?2";
    static const QByteArray kAllArtists = QByteArray("SELECT ar.id FROM artists ar WHERE") +
                                          kListedArtist +
                                          " ORDER BY ar.folded, ar.id LIMIT ?1 OFFSET ?2";
    const auto allByName = [&](const char *sql, int count, int offset) {
        sqlite3_stmt *stmt = count > 0 ? lease.prepared(sql) : nullptr;
        if (!stmt)
            return std::vector<qint64>();
        sqlite3_bind_int(stmt, 1, count);
        sqlite3_bind_int(stmt, 2, std::max(0, offset));
        return idRows(stmt);
    };
    if (words.isEmpty()) {
        albumIds = allByName(kAllAlbums, search.albumCount, search.albumOffset);
        artistIds = allByName(kAllArtists.constData(), search.artistCount, search.artistOffset);
    }
    // IDs first, rows for the page after: see albumListSql.
    result.songs = songsById(lease, songIds, user);
    result.albums = albumsById(lease, albumIds, user);
    result.artists = artistsById(lease, artistIds, user);
    return result;
}

} // namespace musicd
