#include "musicd/library/LibraryIndex.h"
#include "musicd/library/SqliteStatement.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cstring>
#include <sqlite3.h>
#include <utility>

namespace musicd {
namespace {

// Written into the meta table; an index without it (or with another value)
// is not ours and is set aside.
constexpr char kFormat[] = "velmor-library-1";
// Readers wait this long for a writer's lock instead of failing at once.
constexpr int kBusyMilliseconds = 5000;
// Page cache per connection, in KiB (negative: a size, not a page count).
// Readers keep little: there is one per busy request thread, and the
// system's page cache holds the file for all of them anyway.
constexpr int kReaderCacheKiB = 256;
constexpr int kWriterCacheKiB = 8192;
// Pages the -wal may hold before the writer moves them into the file (64 MiB
// of 4 KiB pages; see openFile).
constexpr int kWalPages = 16384;
// Reader connections open at once. A search holds one for well under a
// millisecond, so a few serve any number of request threads on a machine
// of a few cores; each costs its page cache and parsed schema, and one per
// request thread kept the memory of a burst of clients for good.
constexpr size_t kMaxReaders = 4;
// Search offsets beyond this are past any library: the page is just empty.
constexpr qint64 kMaxOffset = Q_INT64_C(1) << 40;

const char kSchema[] = "CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT);"
                       "CREATE TABLE tracks("
                       " id INTEGER PRIMARY KEY AUTOINCREMENT,"
                       " path BLOB NOT NULL UNIQUE, size INTEGER, mtime INTEGER,"
                       " title TEXT, artist TEXT, album TEXT, artist_key TEXT,"
                       " duration INTEGER, lyrics INTEGER, cover INTEGER);"
                       "CREATE INDEX tracks_artist ON tracks(artist_key);"
                       "CREATE VIRTUAL TABLE tracks_fts USING fts5(title, artist, album,"
                       " content='tracks', content_rowid='id', tokenize='trigram');"
                       "CREATE TRIGGER tracks_ad AFTER DELETE ON tracks BEGIN"
                       " INSERT INTO tracks_fts(tracks_fts, rowid, title, artist, album)"
                       " VALUES ('delete', old.id, old.title, old.artist, old.album); END;";

// Made at open where missing or different (older indexes updated the
// trigram index on every update). The trigram index follows a track's text
// only when the text changed: a
// retag of the year or a file touched costs no trigram writes, which SQLite
// makes a statement at a time (each a segment of its own).
const char kUpdateTrigger[] =
    "CREATE TRIGGER tracks_au AFTER UPDATE OF title, artist, album ON tracks"
    " WHEN old.title IS NOT new.title OR old.artist IS NOT new.artist"
    " OR old.album IS NOT new.album BEGIN"
    " INSERT INTO tracks_fts(tracks_fts, rowid, title, artist, album)"
    " VALUES ('delete', old.id, old.title, old.artist, old.album);"
    " INSERT INTO tracks_fts(rowid, title, artist, album)"
    " VALUES (new.id, new.title, new.artist, new.album); END";

// Added after the first schema, so created where it is missing: an older
// index of ours keeps its tracks and IDs.
const char kUnreadableSchema[] = "CREATE TABLE IF NOT EXISTS unreadable("
                                 " path BLOB PRIMARY KEY, size INTEGER, mtime INTEGER)";

const char kTrackColumns[] = "id, path, size, mtime, title, artist, album, duration, lyrics, cover";

IndexedTrack trackOfRow(sqlite3_stmt *stmt)
{
    IndexedTrack t;
    t.id = sqlite3_column_int64(stmt, 0);
    const auto *path = static_cast<const char *>(sqlite3_column_blob(stmt, 1));
    t.path.assign(path ? path : "", static_cast<size_t>(sqlite3_column_bytes(stmt, 1)));
    t.size = sqlite3_column_int64(stmt, 2);
    t.mtimeNs = sqlite3_column_int64(stmt, 3);
    t.title = columnText(stmt, 4);
    t.artist = columnText(stmt, 5);
    t.album = columnText(stmt, 6);
    t.durationSeconds = sqlite3_column_int(stmt, 7);
    t.hasLyrics = sqlite3_column_int(stmt, 8) != 0;
    // The cover column: 1 an embedded picture, 2 a picture file beside it.
    t.hasCover = (sqlite3_column_int(stmt, 9) & 1) != 0;
    t.hasFolderPicture = (sqlite3_column_int(stmt, 9) & 2) != 0;
    return t;
}

bool exec(sqlite3 *db, const char *sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// SQLite's message, with the system's reason for an I/O error, which tells
// a full disk ("disk I/O error (No space left on device)") from a broken
// one. SQLite keeps that reason until the next I/O error, so it is added
// only to one.
QString failureText(sqlite3 *db)
{
    QString text = QString::fromUtf8(sqlite3_errmsg(db));
    const int result = sqlite3_errcode(db);
    if (const int code = sqlite3_system_errno(db);
        code != 0 && (result == SQLITE_IOERR || result == SQLITE_CANTOPEN))
        text += QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(std::strerror(code)));
    return text;
}

sqlite3 *openConnection(const QString &file, bool readOnly, int cacheKiB, QString *error = nullptr)
{
    sqlite3 *db = nullptr;
    const int flags =
        (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
        SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(QFile::encodeName(file).constData(), &db, flags, nullptr) != SQLITE_OK) {
        if (error)
            *error = failureText(db);
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, kBusyMilliseconds);
    exec(db, QStringLiteral("PRAGMA cache_size=-%1").arg(cacheKiB).toUtf8().constData());
    return db;
}

// An FTS5 phrase that matches the word as it stands: quoted, inner quotes
// doubled, so no query text is read as FTS syntax.
QString ftsPhrase(const QString &word)
{
    QString w = word;
    w.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + w + QLatin1Char('"');
}

qsizetype codePointCount(const QString &word)
{
    qsizetype n = 0;
    for (qsizetype i = 0; i < word.size(); ++i) {
        if (!word.at(i).isLowSurrogate())
            ++n;
    }
    return n;
}

std::vector<uint32_t> intersect(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b)
{
    std::vector<uint32_t> out;
    std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

} // namespace

// A reader's connection and its prepared statements.
struct LibraryIndex::Reader
{
    ~Reader()
    {
        for (const auto &[sql, stmt] : cached)
            sqlite3_finalize(stmt);
        sqlite3_finalize(byId);
        sqlite3_finalize(ftsAll);
        sqlite3_close(db);
    }
    sqlite3 *db = nullptr;
    sqlite3_stmt *byId = nullptr;
    sqlite3_stmt *ftsAll = nullptr;
    std::unordered_map<const char *, sqlite3_stmt *> cached; // by the SQL's address
};

LibraryIndex::ReaderLease::ReaderLease(const LibraryIndex &index) : m_index(index)
{
    {
        std::unique_lock<std::mutex> lock(index.m_poolMutex);
        index.m_readerFree.wait(
            lock, [&index] { return !index.m_pool.empty() || index.m_openReaders < kMaxReaders; });
        if (!index.m_pool.empty()) {
            m_reader = std::move(index.m_pool.back());
            index.m_pool.pop_back();
            return;
        }
        ++index.m_openReaders;
    }
    m_reader = index.openReader();
    if (!m_reader) {
        std::lock_guard<std::mutex> lock(index.m_poolMutex);
        --index.m_openReaders;
        index.m_readerFree.notify_one();
    }
}

LibraryIndex::ReaderLease::~ReaderLease()
{
    if (!m_reader)
        return;
    {
        std::lock_guard<std::mutex> lock(m_index.m_poolMutex);
        m_index.m_pool.push_back(std::move(m_reader));
    }
    m_index.m_readerFree.notify_one();
}

sqlite3 *LibraryIndex::ReaderLease::db() const
{
    return m_reader ? m_reader->db : nullptr;
}

sqlite3_stmt *LibraryIndex::ReaderLease::prepared(const char *sql) const
{
    if (!m_reader)
        return nullptr;
    sqlite3_stmt *&stmt = m_reader->cached[sql];
    if (!stmt && sqlite3_prepare_v2(m_reader->db, sql, -1, &stmt, nullptr) != SQLITE_OK)
        stmt = nullptr;
    if (stmt) {
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
    }
    return stmt;
}

LibraryIndex::LibraryIndex() = default;

LibraryIndex::~LibraryIndex()
{
    closeAll();
}

void LibraryIndex::closeAll()
{
    {
        std::lock_guard<std::mutex> lock(m_poolMutex);
        m_pool.clear();
        m_openReaders = 0;
    }
    for (sqlite3_stmt *&stmt : m_writerStatements) {
        sqlite3_finalize(stmt);
        stmt = nullptr;
    }
    // Only an index that opened, holds no half transaction and met no sign
    // of damage is marked as closed in order; the next open then trusts it
    // without reading it whole. Closing the last connection afterwards
    // moves the -wal into the file and removes it.
    if (m_writer && m_opened && !m_faulted && sqlite3_get_autocommit(m_writer))
        markClosedCleanly();
    m_opened = false;
    sqlite3_close(m_writer);
    m_writer = nullptr;
}

bool LibraryIndex::open(const QString &file, QString *note)
{
    closeAll();
    m_file = file;
    m_writeError.clear();
    QDir().mkpath(QFileInfo(file).absolutePath());
    QString error;
    const OpenOutcome outcome = openFile(&error);
    if (outcome == OpenOutcome::Opened)
        return true;
    closeAll();
    if (outcome == OpenOutcome::Unavailable) {
        // A full disk, a lock or a permission says nothing about the file:
        // it stays as it is, with its -wal, which holds the last commits of
        // a service that was killed.
        if (note)
            *note = QStringLiteral("cannot use the library index %1: %2; it is kept as it is")
                        .arg(file, error);
        return false;
    }
    // Not ours or damaged: keep it for whoever wants to look, start anew.
    // Its -wal goes with it, so the copy opens as the file was; a -wal left
    // behind would be replayed into the new index.
    const QString aside = file + QStringLiteral(".broken");
    for (const QString &part : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(aside + part);
    const bool moved = QFile::rename(file, aside);
    if (moved)
        QFile::rename(file + QStringLiteral("-wal"), aside + QStringLiteral("-wal"));
    QFile::remove(file + QStringLiteral("-wal"));
    QFile::remove(file + QStringLiteral("-shm"));
    if (note) {
        *note = moved ? QStringLiteral("index %1 is unusable (%2); set aside as %3, rebuilding")
                            .arg(file, error, aside)
                      : QStringLiteral("index %1 is unusable (%2)").arg(file, error);
    }
    if (!moved && QFileInfo::exists(file))
        return false;
    if (openFile(&error) == OpenOutcome::Opened)
        return true;
    closeAll();
    if (note)
        *note += QStringLiteral("; a new index cannot be made either: %1").arg(error);
    return false;
}

LibraryIndex::OpenOutcome LibraryIndex::openFile(QString *error)
{
    {
        std::unique_lock<std::shared_mutex> lock(m_shortMutex);
        m_short.clear();
        m_memoryComplete = false;
        m_pendingShort.clear();
    }
    m_faulted = false;
    m_checkedAtOpen = false;
    m_writer = openConnection(m_file, false, kWriterCacheKiB, error);
    if (!m_writer)
        return OpenOutcome::Unavailable;
    // Only SQLite saying the bytes are not a database, or are damaged, is
    // about the file; anything else (a full disk, an I/O error, a lock) is
    // about this moment, and the file must survive it.
    const auto failed = [this, error](const QString &what = QString()) {
        *error = what.isEmpty() ? failureText(m_writer) : what;
        const int code = sqlite3_errcode(m_writer);
        return code == SQLITE_CORRUPT || code == SQLITE_NOTADB ? OpenOutcome::NotAnIndex
                                                               : OpenOutcome::Unavailable;
    };
    // SQLite opens a file it may not write read-only, and every write then
    // fails: a scan would find nothing new, silently.
    if (sqlite3_db_readonly(m_writer, "main") == 1) {
        *error = QStringLiteral("the file is read-only, so nothing found can be written to it");
        return OpenOutcome::Unavailable;
    }
    // WAL lets readers go on while the scan writes; NORMAL sync is still
    // safe against a killed process (only a power cut may lose the last
    // commits, never the file).
    if (!exec(m_writer, "PRAGMA journal_mode=WAL") || !exec(m_writer, "PRAGMA synchronous=NORMAL"))
        return failed();
    // Each move of the -wal into the file waits for the disk twice, and a
    // rescan's scattered updates of a large index dirty many pages a batch:
    // at SQLite's default of 4 MiB the moves, not the updates, were most of
    // a rescan's writing. Up to this much waits in the -wal instead.
    const QByteArray checkpoint =
        QByteArray("PRAGMA wal_autocheckpoint=") + QByteArray::number(kWalPages);
    exec(m_writer, checkpoint.constData());
    quint64 snapshot = 0; // the search memory's, when the file was closed in order
    Statement tables(m_writer, "SELECT count(*) FROM sqlite_master");
    if (!tables || sqlite3_step(tables.get()) != SQLITE_ROW)
        return failed();
    if (sqlite3_column_int(tables.get(), 0) == 0) {
        const QByteArray setup = QByteArray("BEGIN;") + kSchema +
                                 "INSERT INTO meta VALUES('format','" + kFormat + "');COMMIT;";
        if (!exec(m_writer, setup.constData())) {
            const OpenOutcome outcome = failed();
            exec(m_writer, "ROLLBACK");
            return outcome;
        }
    } else {
        Statement format(m_writer, "SELECT value FROM meta WHERE key='format'");
        if (!format) {
            // No meta table at all: another program's database.
            if (sqlite3_errcode(m_writer) != SQLITE_ERROR)
                return failed();
            *error = QStringLiteral("not a library index");
            return OpenOutcome::NotAnIndex;
        }
        const int step = sqlite3_step(format.get());
        if (step != SQLITE_ROW && step != SQLITE_DONE)
            return failed();
        if (step == SQLITE_DONE || columnText(format.get(), 0) != QLatin1String(kFormat)) {
            *error = QStringLiteral("not a library index");
            return OpenOutcome::NotAnIndex;
        }
        // The whole-file check reads every page, which at a million tracks
        // takes most of a minute. After an orderly close it is skipped:
        // SQLite's WAL keeps the file whole through a killed process, and
        // the close moved every commit into the file. After anything else
        // (a crash, a power cut, a file copied while in use) it runs, since
        // then a disk that lied about a flush may have left damage.
        const std::optional<quint64> clean = closedCleanly();
        snapshot = clean.value_or(0);
        m_checkedAtOpen = !clean;
        if (m_checkedAtOpen) {
            Statement check(m_writer, "PRAGMA quick_check(1)");
            if (!check || sqlite3_step(check.get()) != SQLITE_ROW)
                return failed();
            if (columnText(check.get(), 0) != QLatin1String("ok")) {
                *error = QStringLiteral("damaged");
                return OpenOutcome::NotAnIndex;
            }
        }
        if (!clearCleanMark())
            return failed();
    }
    // What the schema's upgrade below writes makes the saved stamps stale.
    const int changesBeforeUpgrade = sqlite3_total_changes(m_writer);
    // Older indexes of this format lack the table of handed-over files.
    if (!exec(m_writer, "CREATE TABLE IF NOT EXISTS added(path BLOB PRIMARY KEY)"))
        return failed();
    if (!exec(m_writer, kUnreadableSchema))
        return failed();
    if (!upgradeSchema())
        return failed();
    // New tracks go into the trigram index a batch at a time (see
    // flushNewToFts); older indexes did it row by row in a trigger.
    if (!exec(m_writer, "DROP TRIGGER IF EXISTS tracks_ai"))
        return failed();
    Statement trigger(m_writer, "SELECT sql FROM sqlite_master WHERE name='tracks_au'");
    if (!trigger)
        return failed();
    const int found = sqlite3_step(trigger.get());
    if (found != SQLITE_ROW && found != SQLITE_DONE)
        return failed();
    if (found == SQLITE_DONE || columnText(trigger.get(), 0) != QLatin1String(kUpdateTrigger)) {
        const QByteArray replace =
            QByteArray("BEGIN; DROP TRIGGER IF EXISTS tracks_au;") + kUpdateTrigger + "; COMMIT;";
        if (!exec(m_writer, replace.constData())) {
            const OpenOutcome outcome = failed();
            exec(m_writer, "ROLLBACK");
            return outcome;
        }
    }
    // An empty index is all in memory already; one with tracks is not
    // until reloadShortIndex has read them.
    Statement any(m_writer, "SELECT EXISTS(SELECT 1 FROM tracks)");
    if (!any || sqlite3_step(any.get()) != SQLITE_ROW)
        return failed();
    const bool empty = sqlite3_column_int(any.get(), 0) == 0;
    // The memory saved at the last orderly close matches the file as it is
    // now; any other snapshot is stale, and none is left lying about.
    const bool remembered = !empty && snapshot != 0 && loadSearchMemory(snapshot);
    QFile::remove(snapshotFile());
    loadTrigramLag();
    loadStamps(remembered && sqlite3_total_changes(m_writer) == changesBeforeUpgrade ? snapshot
                                                                                     : 0);
    std::unique_lock<std::shared_mutex> lock(m_shortMutex);
    m_memoryComplete = empty || remembered;
    m_opened = true;
    return OpenOutcome::Opened;
}

std::unique_ptr<LibraryIndex::Reader> LibraryIndex::openReader() const
{
    auto reader = std::make_unique<Reader>();
    reader->db = openConnection(m_file, true, kReaderCacheKiB);
    if (!reader->db)
        return nullptr;
    const QByteArray byId = QByteArray("SELECT ") + kTrackColumns + " FROM tracks WHERE id=?";
    sqlite3_prepare_v2(reader->db, byId.constData(), -1, &reader->byId, nullptr);
    sqlite3_prepare_v2(reader->db,
                       "SELECT rowid FROM tracks_fts WHERE tracks_fts MATCH ? ORDER BY rowid", -1,
                       &reader->ftsAll, nullptr);
    if (!reader->byId || !reader->ftsAll)
        return nullptr;
    return reader;
}

void LibraryIndex::begin()
{
    if (!exec(m_writer, "BEGIN IMMEDIATE"))
        noteWriteFailure();
}

void LibraryIndex::noteWriteFailure()
{
    const int code = sqlite3_errcode(m_writer) & 0xff;
    if (code == SQLITE_CORRUPT || code == SQLITE_IOERR || code == SQLITE_NOTADB)
        m_faulted = true;
    if (m_writeError.isEmpty())
        m_writeError = failureText(m_writer);
}

QString LibraryIndex::takeWriteError()
{
    return std::exchange(m_writeError, QString());
}

namespace {

void bindTrack(sqlite3_stmt *stmt, const IndexedTrack &t, qint64 albumId, qint64 artistId)
{
    sqlite3_bind_blob(stmt, 1, t.path.data(), static_cast<int>(t.path.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(stmt, 2, t.size);
    sqlite3_bind_int64(stmt, 3, t.mtimeNs);
    bindText(stmt, 4, t.title);
    bindText(stmt, 5, t.artist);
    bindText(stmt, 6, t.album);
    bindText(stmt, 7, LibraryIndex::looseKey(t.artist));
    sqlite3_bind_int(stmt, 8, t.durationSeconds);
    sqlite3_bind_int(stmt, 9, t.hasLyrics ? 1 : 0);
    sqlite3_bind_int(stmt, 10, (t.hasCover ? 1 : 0) | (t.hasFolderPicture ? 2 : 0));
    bindText(stmt, 11, t.albumArtist);
    sqlite3_bind_int(stmt, 12, t.track);
    sqlite3_bind_int(stmt, 13, t.disc);
    sqlite3_bind_int(stmt, 14, t.year);
    bindText(stmt, 15, t.genre);
    sqlite3_bind_int(stmt, 16, t.bitRateKbps);
    sqlite3_bind_int64(stmt, 17, albumId);
    sqlite3_bind_int64(stmt, 18, artistId);
}

} // namespace

sqlite3_stmt *LibraryIndex::writerStatement(WriterStatement which)
{
    static const char *const kSql[] = {
        "INSERT INTO tracks(path, size, mtime, title, artist, album, artist_key, duration, "
        "lyrics, cover, album_artist, track, disc, year, genre, bitrate, album_id, artist_id, "
        "created) VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13,?14,?15,?16,?17,?18,?19)",
        // A track keeps its path (it is found again by it), so the path's
        // index is left alone.
        "UPDATE tracks SET size=?2, mtime=?3, title=?4, artist=?5, album=?6, "
        "artist_key=?7, duration=?8, lyrics=?9, cover=?10, album_artist=?11, track=?12, "
        "disc=?13, year=?14, genre=?15, bitrate=?16, album_id=?17, artist_id=?18 WHERE id=?19",
        "DELETE FROM tracks WHERE id=?",
        "INSERT OR REPLACE INTO unreadable(path, size, mtime) VALUES(?,?,?)",
        "DELETE FROM unreadable WHERE path=?", "SELECT id FROM artists WHERE key=?",
        "INSERT INTO artists(name, key, folded) VALUES(?,?,?)", "SELECT id FROM albums WHERE key=?",
        "INSERT INTO albums(key, name, folded, artist, artist_folded, artist_id, created) "
        "VALUES(?,?,?,?,?,?,?)",
        "INSERT OR IGNORE INTO track_artists(track_id, artist_id, position) VALUES(?,?,?)",
        "DELETE FROM track_artists WHERE track_id=?",
        "SELECT album_id, artist_key, genre FROM tracks WHERE id=?", kRefreshAlbumSql,
        "SELECT 1 FROM plays LIMIT 1", kForgetAlbumPlaysSql, kRefreshAlbumPlaysSql,
        "SELECT id, size, mtime FROM tracks WHERE path=?",
        // The same for a track whose album, artist key and genre stay:
        // their indexes are then not touched either.
        "UPDATE tracks SET size=?2, mtime=?3, title=?4, artist=?5, album=?6, duration=?8, "
        "lyrics=?9, cover=?10, album_artist=?11, track=?12, disc=?13, year=?14, bitrate=?16, "
        "artist_id=?18 WHERE id=?19",
        "SELECT artist_id FROM track_artists WHERE track_id=? ORDER BY position"};
    sqlite3_stmt *&stmt = m_writerStatements[which];
    if (!stmt && sqlite3_prepare_v2(m_writer, kSql[which], -1, &stmt, nullptr) != SQLITE_OK)
        noteWriteFailure();
    if (stmt) {
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
    }
    return stmt;
}

qint64 LibraryIndex::insert(const IndexedTrack &track)
{
    const Groups groups = groupsOf(track);
    sqlite3_stmt *stmt = writerStatement(kInsert);
    if (!stmt)
        return 0;
    bindTrack(stmt, track, groups.albumId, groups.artistIds.value(0));
    sqlite3_bind_int64(stmt, 19, QDateTime::currentSecsSinceEpoch());
    if (!stepWriter(stmt))
        return 0;
    const qint64 id = sqlite3_last_insert_rowid(m_writer);
    linkArtists(id, groups);
    if (m_ftsFrom == 0)
        m_ftsFrom = id;
    if (sqlite3_get_autocommit(m_writer))
        flushNewToFts(); // no batch to wait for
    m_pendingShort.emplace_back(static_cast<uint32_t>(id),
                                foldedText(track.title, track.artist, track.album));
    return id;
}

bool LibraryIndex::update(const IndexedTrack &track)
{
    // The update's trigger takes the old text out of the trigram index,
    // which must hold it by then.
    flushNewToFts();
    const Groups groups = groupsOf(track);
    sqlite3_stmt *stmt = writerStatement(regroup(track, groups) ? kUpdateKeepingKeys : kUpdate);
    if (!stmt)
        return false;
    bindTrack(stmt, track, groups.albumId, groups.artistIds.value(0));
    sqlite3_bind_int64(stmt, 19, track.id);
    if (!stepWriter(stmt))
        return false;
    // Only this thread changes m_short, so its own reading needs no lock.
    if (!m_short.holdsText(static_cast<uint32_t>(track.id),
                           foldedText(track.title, track.artist, track.album)))
        m_shortStale = true;
    return true;
}

bool LibraryIndex::remove(qint64 id)
{
    // The search memory cannot drop an ID: it is filled again later.
    m_shortStale = true;
    flushNewToFts();
    leaveGroups(id);
    sqlite3_stmt *stmt = writerStatement(kRemove);
    if (!stmt)
        return false;
    sqlite3_bind_int64(stmt, 1, id);
    return stepWriter(stmt);
}

bool LibraryIndex::stepWriter(sqlite3_stmt *stmt)
{
    const int rc = sqlite3_step(stmt);
    if (rc != SQLITE_DONE)
        noteWriteFailure();
    else if (sqlite3_get_autocommit(m_writer))
        m_changes.fetch_add(1, std::memory_order_release);
    sqlite3_reset(stmt);
    return rc == SQLITE_DONE;
}

bool LibraryIndex::commit()
{
    refreshAlbums();
    const bool ok = (m_deferFts ? noteTrigramLag() : flushNewToFts()) && exec(m_writer, "COMMIT");
    if (!ok) {
        noteWriteFailure();
        exec(m_writer, "ROLLBACK");
        m_ftsLagNoted = m_ftsLagNoted && !m_deferFts;
        // IDs of rows the rollback took back must not be handed out.
        forgetGroupCache();
    }
    {
        std::unique_lock<std::shared_mutex> lock(m_shortMutex);
        if (ok) {
            for (const auto &[id, text] : m_pendingShort)
                m_short.add(id, text);
        }
        m_pendingShort.clear();
    }
    if (ok)
        m_changes.fetch_add(1, std::memory_order_release);
    forgetResults();
    return ok;
}

std::vector<uint32_t> LibraryIndex::ftsIds(Reader &reader, const QString &match) const
{
    std::vector<uint32_t> ids;
    sqlite3_reset(reader.ftsAll);
    bindText(reader.ftsAll, 1, match);
    while (sqlite3_step(reader.ftsAll) == SQLITE_ROW)
        ids.push_back(static_cast<uint32_t>(sqlite3_column_int64(reader.ftsAll, 0)));
    sqlite3_reset(reader.ftsAll);
    return ids;
}

SearchPage LibraryIndex::search(const QString &query, qint64 page, int rowsPerPage) const
{
    SearchPage result;
    if (page < 1 || rowsPerPage < 1)
        return result;
    const qint64 first = std::min<qint64>((page - 1) * qint64(rowsPerPage), kMaxOffset);
    ReaderLease lease(*this);
    Reader *reader = lease.get();
    if (!reader)
        return result;
    MatchPage match = matchOn(*reader, query, first, rowsPerPage);
    result.total = match.total;
    return fetchRows(*reader, match.ids, std::move(result));
}

std::vector<uint32_t> LibraryIndex::matchIds(const QString &query, qint64 offset, int count) const
{
    ReaderLease lease(*this);
    if (!lease.get() || offset < 0 || count < 1)
        return {};
    return matchOn(*lease.get(), query, std::min(offset, kMaxOffset), count, false).ids;
}

LibraryIndex::MatchPage LibraryIndex::matchOn(Reader &reader, const QString &query, qint64 first,
                                              int count, bool counted) const
{
    MatchPage result;
    static const QRegularExpression space(QStringLiteral("\\s+"));
    const QStringList words = query.toCaseFolded().split(space, Qt::SkipEmptyParts);
    if (words.isEmpty())
        return result;
    std::vector<uint32_t> &pageIds = result.ids;
    const auto slice = [&](const std::vector<uint32_t> &ids) {
        result.total = static_cast<qint64>(ids.size());
        for (qint64 i = first; i < result.total && i < first + count; ++i)
            pageIds.push_back(ids.at(static_cast<size_t>(i)));
    };
    // The player asks for every page of a result in turn: the first page
    // counts every match, and the IDs are kept for the pages that follow.
    const QString key = words.join(u' ');
    if (const std::shared_ptr<const std::vector<uint32_t>> known = cachedResult(key)) {
        slice(*known);
        return result;
    }
    std::vector<uint32_t> ids;
    QStringList ftsWords;
    {
        std::shared_lock<std::shared_mutex> lock(m_shortMutex);
        if (words.size() == 1 && words.front().size() <= ShortQueryIndex::kMaxWordLength) {
            // One short word: the count is its list's length and the
            // page a slice of it, nothing copied but the page.
            if (const PostingList *found = m_short.find(words.front())) {
                result.total = static_cast<qint64>(found->size());
                pageIds = found->slice(static_cast<size_t>(first), size_t(count));
            }
            return result;
        }
        // Until the memory holds every track (the first moments of
        // a service started on an existing index), words of three
        // characters or more go to the trigram index on disk.
        QList<QStringView> inMemory;
        for (const QString &w : words) {
            if (m_memoryComplete || codePointCount(w) < 3)
                inMemory.append(w);
            else
                ftsWords.append(w);
        }
        if (!inMemory.isEmpty()) {
            // Uncounted, the checks stop once the page is full; such a
            // result is a prefix and is not remembered.
            if (!counted && ftsWords.isEmpty()) {
                slice(m_short.findAll(inMemory, size_t(first) + size_t(count)));
                return result;
            }
            ids = m_short.findAll(inMemory);
            if (ids.empty())
                return result;
        }
    }
    if (!ftsWords.isEmpty()) {
        QStringList phrases;
        for (const QString &w : ftsWords)
            phrases.append(ftsPhrase(w));
        std::vector<uint32_t> found = ftsIds(reader, phrases.join(QStringLiteral(" AND ")));
        ids = ids.empty() && ftsWords.size() == words.size() ? std::move(found)
                                                             : intersect(ids, found);
    }
    auto shared = std::make_shared<const std::vector<uint32_t>>(std::move(ids));
    rememberResult(key, shared);
    slice(*shared);
    return result;
}

SearchPage LibraryIndex::fetchRows(Reader &reader, const std::vector<uint32_t> &pageIds,
                                   SearchPage result) const
{
    // One read transaction for the page: otherwise each row takes and
    // drops the file's read lock on its own, which costs more than
    // reading the row.
    const bool inTransaction = pageIds.size() > 1 && exec(reader.db, "BEGIN");
    for (const uint32_t id : pageIds) {
        sqlite3_reset(reader.byId);
        sqlite3_bind_int64(reader.byId, 1, id);
        if (sqlite3_step(reader.byId) == SQLITE_ROW)
            result.rows.append(songOf(trackOfRow(reader.byId)));
        sqlite3_reset(reader.byId);
    }
    if (inTransaction)
        exec(reader.db, "COMMIT");
    return result;
}

std::optional<IndexedTrack> LibraryIndex::track(qint64 id) const
{
    ReaderLease lease(*this);
    Reader *reader = lease.get();
    if (!reader || id <= 0)
        return std::nullopt;
    std::optional<IndexedTrack> out;
    sqlite3_reset(reader->byId);
    sqlite3_bind_int64(reader->byId, 1, id);
    if (sqlite3_step(reader->byId) == SQLITE_ROW)
        out = trackOfRow(reader->byId);
    sqlite3_reset(reader->byId);
    return out;
}

QList<IndexedTrack> LibraryIndex::tracksOfArtist(const QString &artistKey, int limit) const
{
    QList<IndexedTrack> out;
    ReaderLease lease(*this);
    if (!lease.get() || artistKey.isEmpty())
        return out;
    const QByteArray sql = QByteArray("SELECT ") + kTrackColumns +
                           " FROM tracks WHERE artist_key=? ORDER BY id LIMIT ?";
    Statement stmt(lease.get()->db, sql.constData());
    if (!stmt)
        return out;
    bindText(stmt.get(), 1, artistKey);
    sqlite3_bind_int(stmt.get(), 2, limit);
    while (sqlite3_step(stmt.get()) == SQLITE_ROW)
        out.append(trackOfRow(stmt.get()));
    return out;
}

} // namespace musicd
