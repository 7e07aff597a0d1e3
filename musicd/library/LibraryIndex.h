// The library index: one SQLite file holding every track the scan found
// (path, size, modification time, tags, whether lyrics and a cover are
// embedded) and an FTS5 trigram index over title, artist and album. Search
// runs in memory, through a ShortQueryIndex; the trigram index answers
// words of three characters or more only while that memory is still being
// filled at start-up. One thread writes (the scanner), in transactions, so
// a killed service loses at most the batch in flight; any number of request
// threads share a small pool of reader connections (WAL mode lets them
// read while the scan writes).
//
// Track IDs are SQLite's AUTOINCREMENT row IDs: a file keeps its ID while
// its path stays, however often it changes, and IDs of removed files are
// never handed out again.
#pragma once

#include "musicd/search/ShortQueryIndex.h"
#include "musicd/search/Song.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace musicd {

struct IndexedTrack
{
    qint64 id = 0;
    std::string path; // the file name's bytes, as found under a root
    qint64 size = 0;
    qint64 mtimeNs = 0;
    QString title;
    QString artist;
    QString album;
    int durationSeconds = 0;
    bool hasLyrics = false; // embedded lyrics
    bool hasCover = false;  // embedded picture
    // A picture file in the album folder, or the artist folder above it,
    // when the file was read.
    bool hasFolderPicture = false;
    QString albumArtist;
    QStringList artists; // each artist; empty: artist is the one
    QString genre;
    int track = 0;
    int disc = 0;
    int year = 0;
    int bitRateKbps = 0;
};

// What the scan compares a file on disk with.
struct FileStamp
{
    qint64 id = 0; // 0: a file found unreadable, remembered so it is not read again
    qint64 size = 0;
    qint64 mtimeNs = 0;
};

// A file the index holds, as a scan compares it: the path only by its hash,
// so a scan of a million-track library does not hold every path at once.
struct KnownFile
{
    uint64_t pathHash = 0;
    // A track's ID; minus the row of a file remembered as unreadable.
    qint64 id = 0;
    qint64 size = 0;
    qint64 mtimeNs = 0;
    bool unreadable() const { return id < 0; }
};

class LibraryIndex
{
public:
    LibraryIndex();
    ~LibraryIndex();
    LibraryIndex(const LibraryIndex &) = delete;
    LibraryIndex &operator=(const LibraryIndex &) = delete;

    // Opens or creates the index file. A file that is positively not an
    // index of ours (not SQLite, another schema, failing SQLite's check) is
    // renamed to FILE.broken and a new one started; note then says so. One
    // that cannot be opened for writing (a full disk, permissions, a lock,
    // a read-only file) is left as it is and false returned, note saying why.
    // An index closed in order (see closeAll) opens without SQLite's
    // whole-file check; any other runs it.
    bool open(const QString &file, QString *note = nullptr);
    QString fileName() const { return m_file; }
    // Whether the last open read the whole file to check it.
    bool checkedAtOpen() const { return m_checkedAtOpen; }

    // ---- the writer's side (one thread) ----
    // Tracks in ID order, then remembered unreadable files; each path by
    // its hash (see hashOf). The first call after an open that found the
    // stamps saved at an orderly close (and nothing written since) gives
    // those instead of reading every row.
    std::vector<KnownFile> knownFiles();
    // The path of one of them; empty when it is no longer in the index.
    std::string pathOf(const KnownFile &file) const;
    static uint64_t hashOf(std::string_view path);
    void begin();
    qint64 insert(const IndexedTrack &track); // the new ID, 0 on failure
    bool update(const IndexedTrack &track);   // by track.id
    bool remove(qint64 id);
    // The stamp of the indexed file at path, if there is one.
    std::optional<FileStamp> stampOf(const std::string &path);
    // Files the user handed over one by one (outside the roots): kept in the
    // index across restarts and rescans for as long as they exist.
    std::vector<std::string> addedFiles() const;
    bool markAdded(const std::string &path);
    bool forgetAdded(const std::string &path);
    // Files that are not tracks, kept by size and time so that a rescan or
    // a restart does not read them again until they change.
    bool rememberUnreadable(const std::string &path, qint64 size, qint64 mtimeNs);
    bool forgetUnreadable(const std::string &path);
    // Commits, then lets searches see the batch's new tracks.
    bool commit();
    // Why the first write that failed since the last call failed; empty
    // when every write went through.
    QString takeWriteError();
    // Refills the short-word index from the file (after changes to existing
    // tracks, which cannot be patched in place).
    void reloadShortIndex();
    // Whether the short-word index holds every committed track.
    bool searchMemoryComplete() const;
    // The same, only when an update since the last fill changed a track's
    // searched text (a retag that changed something else costs nothing).
    void refreshShortIndex();
    // Gives back what the in-memory search lists grew by while tracks were
    // added one batch at a time (after a scan that added some).
    void compactMemory();
    // While deferred, committed batches leave their new tracks out of the
    // trigram index (which a first scan does not search: the search memory
    // holds every track), and it takes them all in one statement when the
    // deferral ends, several times cheaper than a batch at a time. A file
    // left with tracks missing from it (a pass cut short) says so, and
    // they go in at the next deferTrigramIndex(false) or change.
    void deferTrigramIndex(bool defer);
    // Moves the -wal into the file and cuts it back (after a scan pass):
    // it may grow to tens of megabytes while a pass writes.
    void foldJournal();

    // ---- readers (any thread) ----
    SearchPage search(const QString &query, qint64 page, int rowsPerPage) const;
    // The same match as search, as track IDs: those from offset on (at
    // most count), in ID order. Matches past the page are not looked for,
    // so a word in every fifth track costs a page's checks, not a count's.
    std::vector<uint32_t> matchIds(const QString &query, qint64 offset, int count) const;
    std::optional<IndexedTrack> track(qint64 id) const;
    // Tracks of the artist whose loose key (see looseKey) is given, by ID.
    QList<IndexedTrack> tracksOfArtist(const QString &artistKey, int limit) const;
    qint64 trackCount() const;
    // Forgets the remembered matches of earlier searches (they are also
    // forgotten whenever the index changes).
    void forgetResults() const;
    // Goes up after each change a reader can see (a committed batch, a
    // write outside one): what is worked out from the rows is current
    // while it stays the same.
    uint64_t changeCount() const { return m_changes.load(std::memory_order_acquire); }

    // Case-folded letters and digits only: how singer names are compared.
    static QString looseKey(const QString &name);
    // "title\nartist\nalbum", case-folded: what the short-word index holds.
    static QString foldedText(const QString &title, const QString &artist, const QString &album);
    static Song songOf(const IndexedTrack &track);

private:
    struct Reader;

public:
    // Borrows a reader connection from the pool for one call and gives it
    // back: for the queries of the library's other faces.
    class ReaderLease
    {
    public:
        explicit ReaderLease(const LibraryIndex &index);
        ~ReaderLease();
        ReaderLease(const ReaderLease &) = delete;
        ReaderLease &operator=(const ReaderLease &) = delete;
        Reader *get() const { return m_reader.get(); }
        sqlite3 *db() const; // nullptr when no connection could be opened
        // A statement prepared once per connection, reset, bindings
        // cleared. It is kept by the SQL's address, so sql must live as
        // long as the program (a literal or a static).
        sqlite3_stmt *prepared(const char *sql) const;

    private:
        const LibraryIndex &m_index;
        std::unique_ptr<Reader> m_reader;
    };

private:
    enum WriterStatement {
        kInsert,
        kUpdate,
        kRemove,
        kRememberUnreadable,
        kForgetUnreadable,
        kArtistByKey,
        kArtistInsert,
        kAlbumByKey,
        kAlbumInsert,
        kLinkArtist,
        kUnlinkArtists,
        kAlbumOfTrack,
        kRefreshAlbum,
        kAnyPlays,
        kForgetAlbumPlays,
        kRefreshAlbumPlays,
        kStampOf,
        kUpdateKeepingKeys,
        kArtistsOfTrack,
        kWriterStatementCount
    };
    // The album and artist rows a track belongs to (IndexGroups.cpp); rows
    // are made on first use and kept, so an ID stays with its name.
    struct Groups
    {
        qint64 albumId = 0;
        QList<qint64> artistIds; // in tag order
    };
    Groups groupsOf(const IndexedTrack &track);
    qint64 artistIdOf(const QString &name);
    void linkArtists(qint64 trackId, const Groups &groups);
    // Before a track changes or goes: its artist links go, its album is
    // counted again at commit.
    void leaveGroups(qint64 trackId);
    // Before a track is updated to the groups given: its old album is
    // counted again at commit, its artist links are redone unless they stay
    // the same, and the answer is whether its album, artist key and genre
    // stay (the row's update can then leave their indexes alone: a retag
    // of the year rewrote a dozen pages a track, which the journal's fold
    // after a pass wrote again).
    bool regroup(const IndexedTrack &track, const Groups &groups);
    // Counts, lengths, year, genre and cover of the albums the batch
    // touched, so listing albums reads rows instead of grouping tracks.
    void refreshAlbums();
    void forgetGroupCache();
    // Adds the columns and tables of album and artist grouping and of the
    // users' state to an index of an older schema, marking its tracks to
    // be read again (their IDs kept).
    bool upgradeSchema();
    static const char kRefreshAlbumSql[];
    static const char kForgetAlbumPlaysSql[];
    static const char kRefreshAlbumPlaysSql[];
    struct MatchPage
    {
        qint64 total = 0; // every match when counted, else at least those up to the page
        std::vector<uint32_t> ids;
    };
    MatchPage matchOn(Reader &reader, const QString &query, qint64 first, int count,
                      bool counted = true) const;
    // Prepared once, reset for each use.
    sqlite3_stmt *writerStatement(WriterStatement which);
    bool stepWriter(sqlite3_stmt *stmt);
    // Puts the tracks inserted since the trigram index was last brought up
    // to date into it.
    bool flushNewToFts();
    // Notes in the file that tracks wait for the trigram index (within the
    // batch being committed); loadTrigramLag reads that note back at open.
    bool noteTrigramLag();
    void loadTrigramLag();
    void noteWriteFailure();
    // What opening the file found: only NotAnIndex lets open set it aside.
    enum class OpenOutcome { Opened, NotAnIndex, Unavailable };
    OpenOutcome openFile(QString *error);
    // Whether the file was last closed in order and is as long as its
    // header says: then the name of the search memory's snapshot (0: none).
    std::optional<quint64> closedCleanly() const;
    void markClosedCleanly();
    bool clearCleanMark();
    // The search memory, kept beside the file from an orderly close to the
    // next open, so a restart need not fill it from the tracks again (seconds
    // at a million tracks). Saved under a random name that the close marker
    // holds; 0 when not saved.
    QString snapshotFile() const;
    quint64 saveSearchMemory() const;
    bool loadSearchMemory(quint64 name);
    // The files' stamps (what knownFiles gives), kept the same way under
    // the same name; the first pass after a restart starts from them.
    QString stampsFile() const;
    void saveStamps(quint64 name) const;
    // Takes the stamps saved under name (0: none) and removes their file.
    void loadStamps(quint64 name);
    std::vector<KnownFile> readKnownFiles() const;
    // The largest track ID ever handed out.
    qint64 lastTrackId() const;
    // Closes every connection, marking the file as closed in order when
    // it is.
    void closeAll();
    std::unique_ptr<Reader> openReader() const;
    std::vector<uint32_t> ftsIds(Reader &reader, const QString &match) const;
    SearchPage fetchRows(Reader &reader, const std::vector<uint32_t> &pageIds,
                         SearchPage result) const;

    // The sorted IDs a search matched, for its next pages: the player asks
    // for every page of a result in turn, and counting the matches is the
    // costly part of a common word.
    std::shared_ptr<const std::vector<uint32_t>> cachedResult(const QString &key) const;
    void rememberResult(const QString &key, std::shared_ptr<const std::vector<uint32_t>> ids) const;

    QString m_file;
    mutable std::mutex m_resultsMutex;
    mutable std::list<std::pair<QString, std::shared_ptr<const std::vector<uint32_t>>>> m_results;
    mutable size_t m_resultIds = 0;
    sqlite3 *m_writer = nullptr;
    bool m_opened = false;        // openFile succeeded on m_writer
    bool m_faulted = false;       // a write met damage or an I/O error
    bool m_checkedAtOpen = false; // see checkedAtOpen
    sqlite3_stmt *m_writerStatements[kWriterStatementCount] = {};
    mutable std::mutex m_poolMutex;
    mutable std::condition_variable m_readerFree;
    mutable std::vector<std::unique_ptr<Reader>> m_pool; // the idle ones
    mutable size_t m_openReaders = 0;                    // idle and leased

    mutable std::shared_mutex m_shortMutex;
    ShortQueryIndex m_short;
    // Whether m_short holds every committed track: from the start for a new
    // index, else once reloadShortIndex has read the file.
    bool m_memoryComplete = false;
    std::vector<std::pair<uint32_t, QString>> m_pendingShort; // inserted, not yet committed
    bool m_shortStale = false;  // an update changed a text m_short holds
    qint64 m_ftsFrom = 0;       // the first track not in the trigram index yet, 0 for none
    bool m_deferFts = false;    // see deferTrigramIndex
    bool m_ftsLagNoted = false; // the file says m_ftsFrom
    QString m_writeError;
    std::atomic<uint64_t> m_changes{0};
    // The writer's small caches of group IDs by key, dropped when they
    // grow past a few thousand names or a commit fails.
    std::unordered_map<QString, qint64> m_artistIds;
    std::unordered_map<QString, qint64> m_albumIds;
    std::vector<qint64> m_dirtyAlbums;
    // The stamps loaded at open, and the change count they hold for.
    std::vector<KnownFile> m_savedKnown;
    std::optional<uint64_t> m_savedKnownAt;
};

} // namespace musicd
