// The index's grouping of tracks into albums and artists, kept by the
// writer as tracks come and go, and the schema that holds it with each
// user's stars, plays and playlists.
#include "musicd/library/LibraryIndex.h"
#include "musicd/library/SqliteStatement.h"

#include <QDateTime>
#include <algorithm>

namespace musicd {
namespace {

// The tag schema's version in the meta table. An index written before
// (or without) it keeps its tracks and IDs but has its files read again,
// for the tags it did not keep.
constexpr int kTagsVersion = 2;
// The writer's caches of group IDs hold at most this many names each: a
// batch of a scan mostly names a few albums and artists again and again.
constexpr size_t kMaxCachedGroups = 4096;

const char kGroupSchema[] =
    "CREATE TABLE IF NOT EXISTS artists(id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " name TEXT, key TEXT NOT NULL UNIQUE, folded TEXT);"
    "CREATE INDEX IF NOT EXISTS artists_folded ON artists(folded);"
    "CREATE TABLE IF NOT EXISTS albums(id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " key TEXT NOT NULL UNIQUE, name TEXT, folded TEXT, artist TEXT, artist_folded TEXT,"
    " artist_id INTEGER, song_count INTEGER DEFAULT 0, duration INTEGER DEFAULT 0,"
    " year INTEGER DEFAULT 0, genre TEXT DEFAULT '', cover_id INTEGER DEFAULT 0,"
    " created INTEGER DEFAULT 0);"
    // Albums whose last track went stay (their ID comes back with a
    // track), but only listed ones are in these indexes, each in the
    // order of one kind of album list.
    "CREATE INDEX IF NOT EXISTS albums_name ON albums(folded) WHERE song_count>0;"
    "CREATE INDEX IF NOT EXISTS albums_artist_name ON albums(artist_folded, folded)"
    " WHERE song_count>0;"
    "CREATE INDEX IF NOT EXISTS albums_created ON albums(created) WHERE song_count>0;"
    "CREATE INDEX IF NOT EXISTS albums_year ON albums(year, folded) WHERE song_count>0;"
    "CREATE INDEX IF NOT EXISTS albums_genre ON albums(genre, folded) WHERE song_count>0;"
    "CREATE INDEX IF NOT EXISTS albums_artist ON albums(artist_id);"
    // An artist's listed albums counted and its cover found in the index
    // alone: a page of artists is a seek each, not a read of each album.
    "CREATE INDEX IF NOT EXISTS albums_artist_listed ON albums(artist_id, song_count, cover_id)"
    " WHERE song_count>0;"
    "CREATE TABLE IF NOT EXISTS track_artists(track_id INTEGER, artist_id INTEGER,"
    " position INTEGER, PRIMARY KEY(track_id, artist_id)) WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS track_artists_artist ON track_artists(artist_id);"
    "CREATE INDEX IF NOT EXISTS tracks_album ON tracks(album_id);"
    "CREATE INDEX IF NOT EXISTS tracks_genre ON tracks(genre);"
    "CREATE TABLE IF NOT EXISTS stars(user TEXT, kind INTEGER, item_id INTEGER,"
    " time INTEGER, PRIMARY KEY(user, kind, item_id)) WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS stars_time ON stars(user, kind, time);"
    "CREATE TABLE IF NOT EXISTS plays(user TEXT, track_id INTEGER, count INTEGER,"
    " last INTEGER, PRIMARY KEY(user, track_id)) WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS plays_track ON plays(track_id);"
    // Each user's plays summed per album, kept with every play and every
    // change to an album's tracks, so that the most played and latest
    // played albums are a walk down an index rather than a sum of all plays.
    "CREATE TABLE IF NOT EXISTS album_plays(album_id INTEGER, user TEXT, count INTEGER,"
    " last INTEGER, PRIMARY KEY(album_id, user)) WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS album_plays_count ON album_plays(user, count, last);"
    "CREATE INDEX IF NOT EXISTS album_plays_last ON album_plays(user, last);"
    "CREATE TABLE IF NOT EXISTS playlists(id INTEGER PRIMARY KEY AUTOINCREMENT, owner TEXT,"
    " name TEXT, comment TEXT DEFAULT '', public INTEGER DEFAULT 0, created INTEGER,"
    " changed INTEGER);"
    "CREATE TABLE IF NOT EXISTS playlist_items(playlist_id INTEGER, position INTEGER,"
    " track_id INTEGER, PRIMARY KEY(playlist_id, position)) WITHOUT ROWID;";

// The sums of album_plays for an index that has plays but not the table.
const char kAlbumPlaysFilled[] =
    "INSERT INTO album_plays(album_id, user, count, last)"
    " SELECT t.album_id, p.user, sum(p.count), max(p.last) FROM plays p"
    " JOIN tracks t ON t.id=p.track_id WHERE t.album_id>0 GROUP BY t.album_id, p.user";

const char kTrackColumnsAdded[] = "ALTER TABLE tracks ADD COLUMN album_artist TEXT DEFAULT '';"
                                  "ALTER TABLE tracks ADD COLUMN track INTEGER DEFAULT 0;"
                                  "ALTER TABLE tracks ADD COLUMN disc INTEGER DEFAULT 0;"
                                  "ALTER TABLE tracks ADD COLUMN year INTEGER DEFAULT 0;"
                                  "ALTER TABLE tracks ADD COLUMN genre TEXT DEFAULT '';"
                                  "ALTER TABLE tracks ADD COLUMN bitrate INTEGER DEFAULT 0;"
                                  "ALTER TABLE tracks ADD COLUMN album_id INTEGER DEFAULT 0;"
                                  "ALTER TABLE tracks ADD COLUMN artist_id INTEGER DEFAULT 0;"
                                  "ALTER TABLE tracks ADD COLUMN created INTEGER DEFAULT 0;";

bool exec(sqlite3 *db, const char *sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The key a name is grouped by: its loose key, or for a name with no
// letter or digit at all ("!!!") the case-folded name itself.
QString groupKey(const QString &name)
{
    const QString key = LibraryIndex::looseKey(name);
    return key.isEmpty() ? name.toCaseFolded() : key;
}

} // namespace

const char LibraryIndex::kRefreshAlbumSql[] =
    "UPDATE albums SET"
    " song_count=(SELECT count(*) FROM tracks WHERE album_id=?1),"
    " duration=(SELECT coalesce(sum(duration),0) FROM tracks WHERE album_id=?1),"
    " year=(SELECT coalesce(max(year),0) FROM tracks WHERE album_id=?1),"
    " genre=coalesce((SELECT genre FROM tracks WHERE album_id=?1 AND genre<>''"
    "  GROUP BY genre ORDER BY count(*) DESC, genre LIMIT 1),''),"
    " cover_id=coalesce((SELECT id FROM tracks WHERE album_id=?1 AND cover<>0"
    "  ORDER BY disc, track, id LIMIT 1),0),"
    " created=coalesce((SELECT min(created) FROM tracks WHERE album_id=?1),created)"
    " WHERE id=?1";
const char LibraryIndex::kRefreshAlbumPlaysSql[] =
    "INSERT INTO album_plays(album_id, user, count, last)"
    " SELECT ?1, p.user, sum(p.count), max(p.last) FROM tracks t"
    " JOIN plays p ON p.track_id=t.id WHERE t.album_id=?1 GROUP BY p.user";
const char LibraryIndex::kForgetAlbumPlaysSql[] = "DELETE FROM album_plays WHERE album_id=?1";

bool LibraryIndex::upgradeSchema()
{
    Statement columns(m_writer,
                      "SELECT count(*) FROM pragma_table_info('tracks') WHERE name='album_id'");
    if (!columns || sqlite3_step(columns.get()) != SQLITE_ROW)
        return false;
    const bool hasColumns = sqlite3_column_int(columns.get(), 0) > 0;
    Statement version(m_writer, "SELECT CAST(value AS INTEGER) FROM meta WHERE key='tags'");
    if (!version)
        return false;
    const int step = sqlite3_step(version.get());
    const int tagsVersion = step == SQLITE_ROW ? sqlite3_column_int(version.get(), 0) : 0;
    Statement albumPlays(m_writer, "SELECT count(*) FROM sqlite_master WHERE name='album_plays'");
    if (!albumPlays || sqlite3_step(albumPlays.get()) != SQLITE_ROW)
        return false;
    const bool hasAlbumPlays = sqlite3_column_int(albumPlays.get(), 0) > 0;
    if (!exec(m_writer, "BEGIN IMMEDIATE"))
        return false;
    bool ok = hasColumns || exec(m_writer, kTrackColumnsAdded);
    ok = ok && exec(m_writer, kGroupSchema);
    ok = ok && (hasAlbumPlays || exec(m_writer, kAlbumPlaysFilled));
    if (ok && tagsVersion < kTagsVersion) {
        // A stamp no file has: the next scan reads every file again as
        // changed, which keeps its ID and fills the new columns.
        ok = exec(m_writer, "UPDATE tracks SET mtime=-1, created=CAST(strftime('%s','now') AS "
                            "INTEGER) WHERE created=0") &&
             exec(m_writer, QByteArray("INSERT OR REPLACE INTO meta VALUES('tags','" +
                                       QByteArray::number(kTagsVersion) + "')")
                                .constData());
    }
    if (!ok || !exec(m_writer, "COMMIT")) {
        exec(m_writer, "ROLLBACK");
        return false;
    }
    return true;
}

qint64 LibraryIndex::artistIdOf(const QString &name)
{
    if (name.isEmpty())
        return 0;
    const QString key = groupKey(name);
    if (const auto it = m_artistIds.find(key); it != m_artistIds.end())
        return it->second;
    qint64 id = 0;
    sqlite3_stmt *find = writerStatement(kArtistByKey);
    if (!find)
        return 0;
    bindText(find, 1, key);
    if (sqlite3_step(find) == SQLITE_ROW)
        id = sqlite3_column_int64(find, 0);
    sqlite3_reset(find);
    if (id == 0) {
        sqlite3_stmt *add = writerStatement(kArtistInsert);
        if (!add)
            return 0;
        bindText(add, 1, name);
        bindText(add, 2, key);
        bindText(add, 3, name.toCaseFolded());
        if (!stepWriter(add))
            return 0;
        id = sqlite3_last_insert_rowid(m_writer);
    }
    if (m_artistIds.size() >= kMaxCachedGroups)
        m_artistIds.clear();
    m_artistIds.emplace(key, id);
    return id;
}

LibraryIndex::Groups LibraryIndex::groupsOf(const IndexedTrack &track)
{
    Groups groups;
    const QStringList names = track.artists.isEmpty() && !track.artist.isEmpty()
                                  ? QStringList{track.artist}
                                  : track.artists;
    for (const QString &name : names) {
        if (const qint64 id = artistIdOf(name); id > 0 && !groups.artistIds.contains(id))
            groups.artistIds.append(id);
    }
    if (track.album.isEmpty())
        return groups;
    // An album is its album artist's, else its first artist's: the same
    // name by two artists is two albums, a compilation one.
    const QString owner = !track.albumArtist.isEmpty() ? track.albumArtist : names.value(0);
    const QString key = groupKey(owner) + QLatin1Char('\n') + groupKey(track.album);
    if (const auto it = m_albumIds.find(key); it != m_albumIds.end()) {
        groups.albumId = it->second;
        return groups;
    }
    sqlite3_stmt *find = writerStatement(kAlbumByKey);
    if (!find)
        return groups;
    bindText(find, 1, key);
    if (sqlite3_step(find) == SQLITE_ROW)
        groups.albumId = sqlite3_column_int64(find, 0);
    sqlite3_reset(find);
    if (groups.albumId == 0) {
        const qint64 ownerId = artistIdOf(owner);
        sqlite3_stmt *add = writerStatement(kAlbumInsert);
        if (!add)
            return groups;
        bindText(add, 1, key);
        bindText(add, 2, track.album);
        bindText(add, 3, track.album.toCaseFolded());
        bindText(add, 4, owner);
        bindText(add, 5, owner.toCaseFolded());
        sqlite3_bind_int64(add, 6, ownerId);
        sqlite3_bind_int64(add, 7, QDateTime::currentSecsSinceEpoch());
        if (!stepWriter(add))
            return groups;
        groups.albumId = sqlite3_last_insert_rowid(m_writer);
    }
    if (m_albumIds.size() >= kMaxCachedGroups)
        m_albumIds.clear();
    m_albumIds.emplace(key, groups.albumId);
    m_dirtyAlbums.push_back(groups.albumId);
    return groups;
}

void LibraryIndex::linkArtists(qint64 trackId, const Groups &groups)
{
    if (groups.albumId > 0)
        m_dirtyAlbums.push_back(groups.albumId);
    for (int i = 0; i < groups.artistIds.size(); ++i) {
        sqlite3_stmt *link = writerStatement(kLinkArtist);
        if (!link)
            return;
        sqlite3_bind_int64(link, 1, trackId);
        sqlite3_bind_int64(link, 2, groups.artistIds.at(i));
        sqlite3_bind_int(link, 3, i);
        stepWriter(link);
    }
}

void LibraryIndex::leaveGroups(qint64 trackId)
{
    if (sqlite3_stmt *album = writerStatement(kAlbumOfTrack)) {
        sqlite3_bind_int64(album, 1, trackId);
        if (sqlite3_step(album) == SQLITE_ROW && sqlite3_column_int64(album, 0) > 0)
            m_dirtyAlbums.push_back(sqlite3_column_int64(album, 0));
        sqlite3_reset(album);
    }
    if (sqlite3_stmt *unlink = writerStatement(kUnlinkArtists)) {
        sqlite3_bind_int64(unlink, 1, trackId);
        stepWriter(unlink);
    }
}

bool LibraryIndex::regroup(const IndexedTrack &track, const Groups &groups)
{
    bool keysStay = false;
    if (sqlite3_stmt *row = writerStatement(kAlbumOfTrack)) {
        sqlite3_bind_int64(row, 1, track.id);
        if (sqlite3_step(row) == SQLITE_ROW) {
            const qint64 album = sqlite3_column_int64(row, 0);
            if (album > 0)
                m_dirtyAlbums.push_back(album);
            keysStay = album == groups.albumId && columnText(row, 1) == looseKey(track.artist) &&
                       columnText(row, 2) == track.genre;
        }
        sqlite3_reset(row);
    }
    QList<qint64> linked;
    if (sqlite3_stmt *links = writerStatement(kArtistsOfTrack)) {
        sqlite3_bind_int64(links, 1, track.id);
        while (sqlite3_step(links) == SQLITE_ROW)
            linked.append(sqlite3_column_int64(links, 0));
        sqlite3_reset(links);
    }
    if (linked == groups.artistIds) {
        if (groups.albumId > 0)
            m_dirtyAlbums.push_back(groups.albumId);
        return keysStay;
    }
    if (sqlite3_stmt *unlink = writerStatement(kUnlinkArtists)) {
        sqlite3_bind_int64(unlink, 1, track.id);
        stepWriter(unlink);
    }
    linkArtists(track.id, groups);
    return keysStay;
}

void LibraryIndex::refreshAlbums()
{
    std::sort(m_dirtyAlbums.begin(), m_dirtyAlbums.end());
    m_dirtyAlbums.erase(std::unique(m_dirtyAlbums.begin(), m_dirtyAlbums.end()),
                        m_dirtyAlbums.end());
    // Play sums are redone only where someone has played something: a
    // first scan has no plays to sum.
    bool played = false;
    if (sqlite3_stmt *any = writerStatement(kAnyPlays)) {
        played = sqlite3_step(any) == SQLITE_ROW;
        sqlite3_reset(any);
    }
    for (const qint64 id : m_dirtyAlbums) {
        for (const WriterStatement which : {kRefreshAlbum, kForgetAlbumPlays, kRefreshAlbumPlays}) {
            if (which != kRefreshAlbum && !played)
                break;
            sqlite3_stmt *step = writerStatement(which);
            if (!step)
                break;
            sqlite3_bind_int64(step, 1, id);
            stepWriter(step);
        }
    }
    m_dirtyAlbums.clear();
}

void LibraryIndex::forgetGroupCache()
{
    m_artistIds.clear();
    m_albumIds.clear();
    m_dirtyAlbums.clear();
}

} // namespace musicd
