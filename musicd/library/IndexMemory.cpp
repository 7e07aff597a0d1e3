// The index's search memory (see ShortQueryIndex): filled from the tracks,
// refreshed after changes, and kept in a snapshot beside the file from an
// orderly close to the next open.
#include "musicd/library/LibraryIndex.h"
#include "musicd/library/SqliteStatement.h"

#include <QFile>
#include <QRandomGenerator>
#include <cstring>

namespace musicd {
namespace {

// The first bytes of a snapshot of the search memory, naming its layout.
constexpr char kSnapshotFormat[] = "velmor-search-memory-1";
// The meta key holding the first track ID a first scan has not put into the
// trigram index yet; absent when it holds every track.
constexpr char kTrigramFrom[] = "trigram-from";

} // namespace

bool LibraryIndex::flushNewToFts()
{
    if (m_ftsFrom == 0)
        return true;
    // One statement for all that waits: FTS5 writes its pending terms out
    // at every statement on it, so a row at a time (as a trigger does) made
    // a segment per track and cost six times what the rest of the insert
    // did.
    Statement add(m_writer, "INSERT INTO tracks_fts(rowid, title, artist, album)"
                            " SELECT id, title, artist, album FROM tracks WHERE id >= ?");
    if (!add)
        return false;
    sqlite3_bind_int64(add.get(), 1, m_ftsFrom);
    const QByteArray caughtUp = QByteArray("DELETE FROM meta WHERE key='") + kTrigramFrom + "'";
    if (sqlite3_step(add.get()) != SQLITE_DONE ||
        (m_ftsLagNoted &&
         sqlite3_exec(m_writer, caughtUp.constData(), nullptr, nullptr, nullptr) != SQLITE_OK)) {
        noteWriteFailure();
        return false;
    }
    m_ftsFrom = 0;
    m_ftsLagNoted = false;
    return true;
}

void LibraryIndex::deferTrigramIndex(bool defer)
{
    m_deferFts = defer;
    if (defer || m_ftsFrom == 0)
        return;
    begin();
    commit();
}

bool LibraryIndex::noteTrigramLag()
{
    // Written with the first batch that leaves tracks out, so a scan cut
    // short (a kill, a crash) leaves a file that says what is missing.
    if (!m_deferFts || m_ftsFrom == 0 || m_ftsLagNoted)
        return true;
    const QByteArray note = QByteArray("INSERT OR REPLACE INTO meta VALUES('") + kTrigramFrom +
                            "','" + QByteArray::number(m_ftsFrom) + "')";
    m_ftsLagNoted =
        sqlite3_exec(m_writer, note.constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    return m_ftsLagNoted;
}

void LibraryIndex::loadTrigramLag()
{
    m_deferFts = false;
    m_ftsFrom = 0;
    m_ftsLagNoted = false;
    const QByteArray sql =
        QByteArray("SELECT CAST(value AS INTEGER) FROM meta WHERE key='") + kTrigramFrom + "'";
    Statement lag(m_writer, sql.constData());
    if (lag && sqlite3_step(lag.get()) == SQLITE_ROW && sqlite3_column_int64(lag.get(), 0) > 0) {
        m_ftsFrom = sqlite3_column_int64(lag.get(), 0);
        m_ftsLagNoted = true;
    }
}

void LibraryIndex::reloadShortIndex()
{
    ShortQueryIndex fresh;
    Statement all(m_writer, "SELECT id, title, artist, album FROM tracks ORDER BY id");
    if (all) {
        while (sqlite3_step(all.get()) == SQLITE_ROW) {
            fresh.add(static_cast<uint32_t>(sqlite3_column_int64(all.get(), 0)),
                      foldedText(columnText(all.get(), 1), columnText(all.get(), 2),
                                 columnText(all.get(), 3)));
        }
    }
    fresh.compact();
    {
        std::unique_lock<std::shared_mutex> lock(m_shortMutex);
        m_short = std::move(fresh);
        m_memoryComplete = true;
        m_shortStale = false;
    }
    forgetResults();
}

bool LibraryIndex::searchMemoryComplete() const
{
    std::shared_lock<std::shared_mutex> lock(m_shortMutex);
    return m_memoryComplete;
}

void LibraryIndex::refreshShortIndex()
{
    if (m_shortStale || !m_memoryComplete)
        reloadShortIndex();
}

void LibraryIndex::compactMemory()
{
    {
        std::unique_lock<std::shared_mutex> lock(m_shortMutex);
        m_short.compact();
    }
}

void LibraryIndex::foldJournal()
{
    // Best effort: a reader still in the -wal keeps its part for the next.
    sqlite3_exec(m_writer, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    // The pages a pass read and wrote (up to the writer's 8 MiB) are of no
    // use to the few rows a user's star or play writes until the next pass.
    sqlite3_db_release_memory(m_writer);
}

qint64 LibraryIndex::lastTrackId() const
{
    Statement seq(m_writer, "SELECT seq FROM sqlite_sequence WHERE name='tracks'");
    return seq && sqlite3_step(seq.get()) == SQLITE_ROW ? sqlite3_column_int64(seq.get(), 0) : 0;
}

QString LibraryIndex::snapshotFile() const
{
    return m_file + QStringLiteral("-search");
}

quint64 LibraryIndex::saveSearchMemory() const
{
    std::shared_lock<std::shared_mutex> lock(m_shortMutex);
    // Only memory that holds exactly the committed tracks is worth keeping.
    if (!m_memoryComplete || m_shortStale || !m_pendingShort.empty() || m_short.trackCount() == 0)
        return 0;
    quint64 name = 0;
    while (name == 0)
        name = QRandomGenerator::system()->generate64();
    SnapshotFile::Writer out(QFile::encodeName(snapshotFile()).toStdString());
    out.put(kSnapshotFormat, sizeof kSnapshotFormat);
    out.putValue(name);
    out.putValue(lastTrackId());
    m_short.save(out);
    return out.finish() ? name : 0;
}

bool LibraryIndex::loadSearchMemory(quint64 name)
{
    SnapshotFile::Reader in(QFile::encodeName(snapshotFile()).toStdString());
    char format[sizeof kSnapshotFormat] = {};
    quint64 written = 0;
    qint64 lastId = 0;
    ShortQueryIndex loaded;
    // The mark and the snapshot's name prove an orderly close of ours; the
    // last ID handed out also catches tracks that a program knowing
    // neither (an older velmor-musicd) added since.
    if (!in.isOpen() || !in.get(format, sizeof format) ||
        std::memcmp(format, kSnapshotFormat, sizeof format) != 0 || !in.getValue(written) ||
        written != name || !in.getValue(lastId) || lastId != lastTrackId() || !loaded.load(in) ||
        !in.finish())
        return false;
    std::unique_lock<std::shared_mutex> lock(m_shortMutex);
    m_short = std::move(loaded);
    return true;
}

} // namespace musicd
