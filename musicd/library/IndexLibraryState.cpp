// Each user's own state in the index: stars, plays and playlists.
#include "musicd/library/IndexLibrary.h"

#include "musicd/library/SqliteStatement.h"

#include <QDateTime>
#include <QFile>
#include <algorithm>
#include <set>
#include <sqlite3.h>

namespace musicd {
namespace {

// A write of the users' state waits this long for a scan's batch.
constexpr int kBusyMilliseconds = 5000;

qint64 now()
{
    return QDateTime::currentSecsSinceEpoch();
}

bool exists(sqlite3 *db, const char *sql, qint64 id)
{
    Statement stmt(db, sql);
    if (!stmt)
        return false;
    sqlite3_bind_int64(stmt.get(), 1, id);
    return sqlite3_step(stmt.get()) == SQLITE_ROW;
}

// The songs of ids that are in the index, in order, duplicates kept.
QList<qint64> knownSongs(sqlite3 *db, const QList<qint64> &ids)
{
    QList<qint64> out;
    for (const qint64 id : ids) {
        if (exists(db, "SELECT 1 FROM tracks WHERE id=?", id))
            out.append(id);
    }
    return out;
}

bool writeItems(sqlite3 *db, qint64 playlistId, const QList<qint64> &songIds)
{
    Statement clear(db, "DELETE FROM playlist_items WHERE playlist_id=?");
    Statement add(db, "INSERT INTO playlist_items(playlist_id, position, track_id) VALUES(?,?,?)");
    if (!clear || !add)
        return false;
    sqlite3_bind_int64(clear.get(), 1, playlistId);
    if (sqlite3_step(clear.get()) != SQLITE_DONE)
        return false;
    for (qsizetype i = 0; i < songIds.size(); ++i) {
        sqlite3_reset(add.get());
        sqlite3_bind_int64(add.get(), 1, playlistId);
        sqlite3_bind_int64(add.get(), 2, i);
        sqlite3_bind_int64(add.get(), 3, songIds.at(i));
        if (sqlite3_step(add.get()) != SQLITE_DONE)
            return false;
    }
    return true;
}

bool isOwner(sqlite3 *db, qint64 playlistId, const QString &user)
{
    Statement stmt(db, "SELECT 1 FROM playlists WHERE id=? AND owner=?");
    if (!stmt)
        return false;
    sqlite3_bind_int64(stmt.get(), 1, playlistId);
    bindText(stmt.get(), 2, user);
    return sqlite3_step(stmt.get()) == SQLITE_ROW;
}

} // namespace

const char IndexLibrary::kPlaylistSelect[] =
    "SELECT p.id, p.name, p.comment, p.owner, p.public, p.created, p.changed,"
    " (SELECT count(*) FROM playlist_items i JOIN tracks t ON t.id=i.track_id"
    " WHERE i.playlist_id=p.id),"
    " (SELECT coalesce(sum(t.duration),0) FROM playlist_items i JOIN tracks t"
    " ON t.id=i.track_id WHERE i.playlist_id=p.id)"
    " FROM playlists p WHERE (p.owner=?1 OR p.public<>0)";

bool IndexLibrary::writeTransaction(const std::function<bool(sqlite3 *)> &fn)
{
    std::lock_guard<std::mutex> lock(m_writeMutex);
    if (!m_writer) {
        const QByteArray file = QFile::encodeName(m_index.fileName());
        if (sqlite3_open_v2(file.constData(), &m_writer,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
            sqlite3_close(m_writer);
            m_writer = nullptr;
            return false;
        }
        sqlite3_busy_timeout(m_writer, kBusyMilliseconds);
        // Its writes are a few rows each: a small page cache will do.
        sqlite3_exec(m_writer, "PRAGMA cache_size=-256", nullptr, nullptr, nullptr);
    }
    if (sqlite3_exec(m_writer, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    if (fn(m_writer) && sqlite3_exec(m_writer, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) {
        m_userChanges.fetch_add(1, std::memory_order_release);
        return true;
    }
    sqlite3_exec(m_writer, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}

std::optional<uint64_t> IndexLibrary::stamp() const
{
    // The scans' changes above, the users' below: neither wraps in a
    // service's life.
    return (m_index.changeCount() << 32) | m_userChanges.load(std::memory_order_acquire);
}

std::optional<uint64_t> IndexLibrary::contentStamp() const
{
    return m_index.changeCount();
}

bool IndexLibrary::starsArtists(const QString &user) const
{
    LibraryIndex::ReaderLease lease(m_index);
    sqlite3_stmt *stmt = lease.prepared("SELECT 1 FROM stars WHERE user=? AND kind=2 LIMIT 1");
    if (!stmt)
        return true;
    bindText(stmt, 1, user);
    const bool any = sqlite3_step(stmt) == SQLITE_ROW;
    sqlite3_reset(stmt);
    return any;
}

bool IndexLibrary::setStarred(const QString &user, Kind kind, qint64 id, bool starred)
{
    static const QByteArray kArtistExists =
        QByteArray("SELECT 1 FROM artists ar WHERE ar.id=? AND") + kListedArtist;
    const char *known = kind == Kind::Song    ? "SELECT 1 FROM tracks WHERE id=?"
                        : kind == Kind::Album ? "SELECT 1 FROM albums WHERE id=? AND song_count>0"
                                              : kArtistExists.constData();
    return writeTransaction([&](sqlite3 *db) {
        if (!exists(db, known, id))
            return false;
        Statement stmt(db, starred ? "INSERT OR IGNORE INTO stars(user, kind, item_id, time) "
                                     "VALUES(?1,?2,?3,?4)"
                                   : "DELETE FROM stars WHERE user=?1 AND kind=?2 AND item_id=?3");
        if (!stmt)
            return false;
        bindText(stmt.get(), 1, user);
        sqlite3_bind_int(stmt.get(), 2, int(kind));
        sqlite3_bind_int64(stmt.get(), 3, id);
        if (starred)
            sqlite3_bind_int64(stmt.get(), 4, now());
        return sqlite3_step(stmt.get()) == SQLITE_DONE;
    });
}

ApiStarred IndexLibrary::starred(const QString &user) const
{
    static const QByteArray kArtists =
        QByteArray(kArtistSelect) +
        " JOIN stars s2 ON s2.user=?1 AND s2.kind=2 AND s2.item_id=ar.id WHERE" + kListedArtist +
        " ORDER BY s2.time DESC, ar.id";
    static const QByteArray kAlbums =
        QByteArray(kAlbumSelect) +
        " JOIN stars s2 ON s2.user=?1 AND s2.kind=1 AND s2.item_id=al.id WHERE al.song_count>0"
        " ORDER BY s2.time DESC, al.id";
    static const QByteArray kSongs = QByteArray(kSongSelect) +
                                     " JOIN stars s2 ON s2.user=?1 AND s2.kind=0 AND"
                                     " s2.item_id=t.id ORDER BY s2.time DESC, t.id";
    ApiStarred out;
    LibraryIndex::ReaderLease lease(m_index);
    if (sqlite3_stmt *stmt = lease.prepared(kArtists.constData())) {
        bindText(stmt, 1, user);
        out.artists = artistRows(stmt);
    }
    if (sqlite3_stmt *stmt = lease.prepared(kAlbums.constData())) {
        bindText(stmt, 1, user);
        out.albums = albumRows(stmt);
    }
    if (sqlite3_stmt *stmt = lease.prepared(kSongs.constData())) {
        bindText(stmt, 1, user);
        out.songs = songRows(stmt);
    }
    return out;
}

bool IndexLibrary::scrobble(const QString &user, qint64 songId, qint64 time)
{
    return writeTransaction([&](sqlite3 *db) {
        if (!exists(db, "SELECT 1 FROM tracks WHERE id=?", songId))
            return false;
        Statement stmt(db, "INSERT INTO plays(user, track_id, count, last) VALUES(?1,?2,1,?3)"
                           " ON CONFLICT(user, track_id) DO UPDATE SET count=count+1,"
                           " last=max(last, excluded.last)");
        Statement album(db, "INSERT INTO album_plays(album_id, user, count, last)"
                            " SELECT album_id, ?1, 1, ?3 FROM tracks WHERE id=?2 AND album_id>0"
                            " ON CONFLICT(album_id, user) DO UPDATE SET count=count+1,"
                            " last=max(last, excluded.last)");
        if (!stmt || !album)
            return false;
        for (sqlite3_stmt *step : {stmt.get(), album.get()}) {
            bindText(step, 1, user);
            sqlite3_bind_int64(step, 2, songId);
            sqlite3_bind_int64(step, 3, time > 0 ? time : now());
            if (sqlite3_step(step) != SQLITE_DONE)
                return false;
        }
        return true;
    });
}

ApiPlaylist IndexLibrary::playlistOfRow(sqlite3_stmt *stmt)
{
    ApiPlaylist p;
    p.id = sqlite3_column_int64(stmt, 0);
    p.name = columnText(stmt, 1);
    p.comment = columnText(stmt, 2);
    p.owner = columnText(stmt, 3);
    p.isPublic = sqlite3_column_int(stmt, 4) != 0;
    p.created = sqlite3_column_int64(stmt, 5);
    p.changed = sqlite3_column_int64(stmt, 6);
    p.songCount = sqlite3_column_int(stmt, 7);
    p.durationSeconds = sqlite3_column_int(stmt, 8);
    return p;
}

QList<ApiPlaylist> IndexLibrary::playlists(const QString &user) const
{
    static const QByteArray kSql =
        QByteArray(kPlaylistSelect) + " ORDER BY p.name COLLATE NOCASE, p.id";
    LibraryIndex::ReaderLease lease(m_index);
    sqlite3_stmt *stmt = lease.prepared(kSql.constData());
    QList<ApiPlaylist> out;
    if (!stmt)
        return out;
    bindText(stmt, 1, user);
    while (sqlite3_step(stmt) == SQLITE_ROW)
        out.append(playlistOfRow(stmt));
    sqlite3_reset(stmt);
    return out;
}

QList<ApiSong> IndexLibrary::playlistEntries(const LibraryIndex::ReaderLease &lease, qint64 id,
                                             const QString &user) const
{
    // Songs no longer in the index drop out of the list they were on.
    static const QByteArray kSql = QByteArray(kSongSelect) +
                                   " JOIN playlist_items i ON i.track_id=t.id"
                                   " WHERE i.playlist_id=?2 ORDER BY i.position";
    sqlite3_stmt *stmt = lease.prepared(kSql.constData());
    if (!stmt)
        return {};
    bindText(stmt, 1, user);
    sqlite3_bind_int64(stmt, 2, id);
    return songRows(stmt);
}

std::optional<ApiPlaylist> IndexLibrary::playlist(qint64 id, const QString &user) const
{
    static const QByteArray kSql = QByteArray(kPlaylistSelect) + " AND p.id=?2";
    LibraryIndex::ReaderLease lease(m_index);
    sqlite3_stmt *stmt = lease.prepared(kSql.constData());
    if (!stmt)
        return std::nullopt;
    bindText(stmt, 1, user);
    sqlite3_bind_int64(stmt, 2, id);
    std::optional<ApiPlaylist> out;
    if (sqlite3_step(stmt) == SQLITE_ROW)
        out = playlistOfRow(stmt);
    sqlite3_reset(stmt);
    if (out)
        out->entries = playlistEntries(lease, id, user);
    return out;
}

qint64 IndexLibrary::createPlaylist(const QString &user, const QString &name,
                                    const QList<qint64> &songIds)
{
    qint64 id = 0;
    if (name.trimmed().isEmpty())
        return 0;
    const bool ok = writeTransaction([&](sqlite3 *db) {
        Statement add(db, "INSERT INTO playlists(owner, name, comment, public, created, changed)"
                          " VALUES(?1,?2,'',0,?3,?3)");
        if (!add)
            return false;
        bindText(add.get(), 1, user);
        bindText(add.get(), 2, name);
        sqlite3_bind_int64(add.get(), 3, now());
        if (sqlite3_step(add.get()) != SQLITE_DONE)
            return false;
        id = sqlite3_last_insert_rowid(db);
        return writeItems(db, id, knownSongs(db, songIds));
    });
    return ok ? id : 0;
}

bool IndexLibrary::updatePlaylist(const QString &user, qint64 id, const PlaylistChange &change)
{
    return writeTransaction([&](sqlite3 *db) {
        if (!isOwner(db, id, user))
            return false;
        Statement fields(db, "UPDATE playlists SET name=coalesce(?2,name),"
                             " comment=coalesce(?3,comment), public=coalesce(?4,public),"
                             " changed=?5 WHERE id=?1");
        if (!fields)
            return false;
        sqlite3_bind_int64(fields.get(), 1, id);
        if (change.name && !change.name->trimmed().isEmpty())
            bindText(fields.get(), 2, *change.name);
        if (change.comment)
            bindText(fields.get(), 3, *change.comment);
        if (change.isPublic)
            sqlite3_bind_int(fields.get(), 4, *change.isPublic ? 1 : 0);
        sqlite3_bind_int64(fields.get(), 5, now());
        if (sqlite3_step(fields.get()) != SQLITE_DONE)
            return false;
        if (change.replaceSongs)
            return writeItems(db, id, knownSongs(db, *change.replaceSongs));
        if (change.songIdsToAdd.isEmpty() && change.indexesToRemove.isEmpty())
            return true;
        // Positions are those of the list as the user sees it: without
        // the songs that left the index.
        Statement entries(db, "SELECT i.track_id FROM playlist_items i JOIN tracks t"
                              " ON t.id=i.track_id WHERE i.playlist_id=? ORDER BY i.position");
        if (!entries)
            return false;
        sqlite3_bind_int64(entries.get(), 1, id);
        QList<qint64> songs;
        while (sqlite3_step(entries.get()) == SQLITE_ROW)
            songs.append(sqlite3_column_int64(entries.get(), 0));
        const std::set<int> gone(change.indexesToRemove.begin(), change.indexesToRemove.end());
        QList<qint64> kept;
        for (qsizetype i = 0; i < songs.size(); ++i) {
            if (!gone.count(int(i)))
                kept.append(songs.at(i));
        }
        kept.append(knownSongs(db, change.songIdsToAdd));
        return writeItems(db, id, kept);
    });
}

bool IndexLibrary::deletePlaylist(const QString &user, qint64 id)
{
    return writeTransaction([&](sqlite3 *db) {
        if (!isOwner(db, id, user))
            return false;
        Statement items(db, "DELETE FROM playlist_items WHERE playlist_id=?");
        Statement list(db, "DELETE FROM playlists WHERE id=?");
        if (!items || !list)
            return false;
        sqlite3_bind_int64(items.get(), 1, id);
        sqlite3_bind_int64(list.get(), 1, id);
        return sqlite3_step(items.get()) == SQLITE_DONE && sqlite3_step(list.get()) == SQLITE_DONE;
    });
}

} // namespace musicd
