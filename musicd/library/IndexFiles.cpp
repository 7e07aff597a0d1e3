// The index's bookkeeping of files: the stamps a scan compares with, the
// files the user handed over and the files remembered as unreadable, the
// mark of an orderly close; and
// the plain text keys and song rows made from a track.
#include "musicd/library/LibraryIndex.h"
#include "musicd/library/SqliteStatement.h"
#include "musicd/search/SnapshotFile.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <algorithm>
#include <cstring>
#include <string_view>

namespace musicd {
namespace {

// The meta row an orderly close leaves and every open takes away: while it
// is there, no connection has written since the file was last complete.
constexpr char kClosedCleanly[] = "closed-cleanly";
// The first bytes of a snapshot of the files' stamps, naming its layout.
constexpr char kStampsFormat[] = "velmor-file-stamps-1";

} // namespace

void LibraryIndex::markClosedCleanly()
{
    // Its value names the snapshot of the search memory written beside it,
    // 0 for none, and of the files' stamps with it.
    const quint64 snapshot = saveSearchMemory();
    if (snapshot != 0)
        saveStamps(snapshot);
    const QByteArray mark = QByteArray("INSERT OR REPLACE INTO meta VALUES('") + kClosedCleanly +
                            "','" + QByteArray::number(snapshot) + "')";
    sqlite3_exec(m_writer, mark.constData(), nullptr, nullptr, nullptr);
}

bool LibraryIndex::clearCleanMark()
{
    const QByteArray unmark = QByteArray("DELETE FROM meta WHERE key='") + kClosedCleanly + "'";
    return sqlite3_exec(m_writer, unmark.constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::optional<quint64> LibraryIndex::closedCleanly() const
{
    const QByteArray sql = QByteArray("SELECT value FROM meta WHERE key='") + kClosedCleanly + "'";
    Statement mark(m_writer, sql.constData());
    if (!mark || sqlite3_step(mark.get()) != SQLITE_ROW)
        return std::nullopt;
    bool isNumber = false;
    const quint64 snapshot = columnText(mark.get(), 0).toULongLong(&isNumber);
    // A file cut short (a copy that stopped, a full disk during one) is
    // shorter than its header says: that much is cheap to see.
    Statement pages(m_writer, "SELECT page_count * page_size FROM pragma_page_count(), "
                              "pragma_page_size()");
    if (!isNumber || !pages || sqlite3_step(pages.get()) != SQLITE_ROW ||
        QFileInfo(m_file).size() < sqlite3_column_int64(pages.get(), 0))
        return std::nullopt;
    return snapshot;
}

uint64_t LibraryIndex::hashOf(std::string_view path)
{
    return std::hash<std::string_view>{}(path);
}

std::vector<KnownFile> LibraryIndex::knownFiles()
{
    // The stamps saved at the last orderly close hold what the rows do as
    // long as nothing was written since the open.
    if (m_savedKnownAt && *m_savedKnownAt == m_changes.load()) {
        m_savedKnownAt.reset();
        return std::exchange(m_savedKnown, {});
    }
    m_savedKnownAt.reset();
    m_savedKnown = {};
    return readKnownFiles();
}

std::vector<KnownFile> LibraryIndex::readKnownFiles() const
{
    std::vector<KnownFile> out;
    Statement count(m_writer, "SELECT (SELECT count(*) FROM tracks) + "
                              "(SELECT count(*) FROM unreadable)");
    if (count && sqlite3_step(count.get()) == SQLITE_ROW)
        out.reserve(static_cast<size_t>(sqlite3_column_int64(count.get(), 0)));
    // Tracks in ID order (the order the first scan found them), then the
    // unreadable files.
    Statement all(m_writer, "SELECT path, id, size, mtime FROM tracks UNION ALL "
                            "SELECT path, -rowid, size, mtime FROM unreadable");
    if (!all)
        return out;
    while (sqlite3_step(all.get()) == SQLITE_ROW) {
        const auto *path = static_cast<const char *>(sqlite3_column_blob(all.get(), 0));
        const std::string_view key(path ? path : "",
                                   static_cast<size_t>(sqlite3_column_bytes(all.get(), 0)));
        out.push_back(KnownFile{hashOf(key), sqlite3_column_int64(all.get(), 1),
                                sqlite3_column_int64(all.get(), 2),
                                sqlite3_column_int64(all.get(), 3)});
    }
    return out;
}

QString LibraryIndex::stampsFile() const
{
    return m_file + QStringLiteral("-stamps");
}

void LibraryIndex::saveStamps(quint64 name) const
{
    // Reading every row's stamp costs most of a second at a million tracks;
    // at a close that is a moment nobody waits on, at the next start it is
    // the pass's first step.
    const std::vector<KnownFile> known = readKnownFiles();
    SnapshotFile::Writer out(QFile::encodeName(stampsFile()).toStdString());
    out.put(kStampsFormat, sizeof kStampsFormat);
    out.putValue(name);
    out.putValue(lastTrackId());
    out.putVector(known);
    out.finish();
}

void LibraryIndex::loadStamps(quint64 name)
{
    m_savedKnown = {};
    m_savedKnownAt.reset();
    // Read once at most: the next close writes them anew.
    const auto removeFile = qScopeGuard([this] { QFile::remove(stampsFile()); });
    if (name == 0)
        return;
    SnapshotFile::Reader in(QFile::encodeName(stampsFile()).toStdString());
    char format[sizeof kStampsFormat] = {};
    quint64 written = 0;
    qint64 lastId = 0;
    std::vector<KnownFile> known;
    // Stamps of another close, or of rows an older program added since,
    // are not used: the rows are read instead.
    if (!in.isOpen() || !in.get(format, sizeof format) ||
        std::memcmp(format, kStampsFormat, sizeof format) != 0 || !in.getValue(written) ||
        written != name || !in.getValue(lastId) || lastId != lastTrackId() ||
        !in.getVector(known) || !in.finish())
        return;
    m_savedKnown = std::move(known);
    m_savedKnownAt = m_changes.load();
}

std::string LibraryIndex::pathOf(const KnownFile &file) const
{
    Statement one(m_writer, file.unreadable() ? "SELECT path FROM unreadable WHERE rowid=?"
                                              : "SELECT path FROM tracks WHERE id=?");
    if (!one)
        return std::string();
    sqlite3_bind_int64(one.get(), 1, file.unreadable() ? -file.id : file.id);
    if (sqlite3_step(one.get()) != SQLITE_ROW)
        return std::string();
    const auto *path = static_cast<const char *>(sqlite3_column_blob(one.get(), 0));
    return std::string(path ? path : "", static_cast<size_t>(sqlite3_column_bytes(one.get(), 0)));
}

std::optional<FileStamp> LibraryIndex::stampOf(const std::string &path)
{
    // Prepared once: a rescan asks it for every changed file.
    sqlite3_stmt *one = writerStatement(kStampOf);
    if (!one)
        return std::nullopt;
    sqlite3_bind_blob(one, 1, path.data(), static_cast<int>(path.size()), SQLITE_TRANSIENT);
    std::optional<FileStamp> stamp;
    if (sqlite3_step(one) == SQLITE_ROW)
        stamp = FileStamp{sqlite3_column_int64(one, 0), sqlite3_column_int64(one, 1),
                          sqlite3_column_int64(one, 2)};
    sqlite3_reset(one);
    return stamp;
}

std::vector<std::string> LibraryIndex::addedFiles() const
{
    std::vector<std::string> out;
    Statement all(m_writer, "SELECT path FROM added ORDER BY path");
    while (all && sqlite3_step(all.get()) == SQLITE_ROW) {
        const auto *path = static_cast<const char *>(sqlite3_column_blob(all.get(), 0));
        out.emplace_back(path ? path : "", static_cast<size_t>(sqlite3_column_bytes(all.get(), 0)));
    }
    return out;
}

bool LibraryIndex::markAdded(const std::string &path)
{
    Statement add(m_writer, "INSERT OR IGNORE INTO added(path) VALUES(?)");
    if (!add)
        return false;
    sqlite3_bind_blob(add.get(), 1, path.data(), static_cast<int>(path.size()), SQLITE_TRANSIENT);
    return sqlite3_step(add.get()) == SQLITE_DONE;
}

bool LibraryIndex::forgetAdded(const std::string &path)
{
    Statement gone(m_writer, "DELETE FROM added WHERE path=?");
    if (!gone)
        return false;
    sqlite3_bind_blob(gone.get(), 1, path.data(), static_cast<int>(path.size()), SQLITE_TRANSIENT);
    return sqlite3_step(gone.get()) == SQLITE_DONE;
}

bool LibraryIndex::rememberUnreadable(const std::string &path, qint64 size, qint64 mtimeNs)
{
    sqlite3_stmt *stmt = writerStatement(kRememberUnreadable);
    if (!stmt)
        return false;
    sqlite3_bind_blob(stmt, 1, path.data(), static_cast<int>(path.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(stmt, 2, size);
    sqlite3_bind_int64(stmt, 3, mtimeNs);
    return stepWriter(stmt);
}

bool LibraryIndex::forgetUnreadable(const std::string &path)
{
    sqlite3_stmt *stmt = writerStatement(kForgetUnreadable);
    if (!stmt)
        return false;
    sqlite3_bind_blob(stmt, 1, path.data(), static_cast<int>(path.size()), SQLITE_TRANSIENT);
    return stepWriter(stmt);
}

QString LibraryIndex::looseKey(const QString &name)
{
    QString key;
    for (const QChar c : name.toCaseFolded()) {
        if (c.isLetterOrNumber())
            key += c;
    }
    return key;
}

QString LibraryIndex::foldedText(const QString &title, const QString &artist, const QString &album)
{
    return (title + QLatin1Char('\n') + artist + QLatin1Char('\n') + album).toCaseFolded();
}

Song LibraryIndex::songOf(const IndexedTrack &track)
{
    Song song;
    song.id = track.id;
    song.title = track.title;
    song.singer = track.artist;
    song.album = track.album;
    song.hasLyrics = track.hasLyrics;
    const std::string::size_type dot = track.path.rfind('.');
    song.audioSuffix = dot == std::string::npos
                           ? QString()
                           : QString::fromUtf8(track.path.substr(dot + 1)).toLower();
    song.durationSeconds = track.durationSeconds;
    song.audioBytes = track.size;
    return song;
}

qint64 LibraryIndex::trackCount() const
{
    ReaderLease lease(*this);
    if (!lease.db())
        return 0;
    Statement stmt(lease.db(), "SELECT count(*) FROM tracks");
    return stmt && sqlite3_step(stmt.get()) == SQLITE_ROW ? sqlite3_column_int64(stmt.get(), 0) : 0;
}

} // namespace musicd
