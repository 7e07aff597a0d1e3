// The walk of one scan pass: every folder under the roots listed, every
// audio file's size and modification time compared with what the index
// holds, and the new and changed files handed to the tag readers in folder
// order. A pass over an unchanged library is nothing but this walk, and at a
// million files it is mostly the system's directory reads and stats, so the
// top-level folders of a root are shared out between several threads. Files
// still go to the pipeline in folder order (a first scan numbers tracks that
// way): a thread ahead of the others keeps what it found until the folders
// before its own are through, and waits once it holds a pipeline's worth.
#pragma once

#include "musicd/library/LibraryIndex.h"
#include "musicd/library/ScanPipeline.h"

#include <atomic>
#include <condition_variable>
#include <dirent.h>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace musicd {

class ScanWalk
{
public:
    struct Hooks
    {
        // Whether a symbolic link's canonical target may be followed.
        std::function<bool(const std::string &)> isUnderRoots;
        // A file remembered as unreadable, still as it was then.
        std::function<void(const std::string &)> skipUnreadable;
        // Counted as files are found and compared (for the live progress).
        std::atomic<qint64> *found = nullptr;
        std::atomic<qint64> *checked = nullptr;
    };

    // known: what the index holds (LibraryIndex::knownFiles), best in the
    // order of the index, which is mostly the order of the walk.
    // threads: how many walk at once; 1 walks in order on the calling thread.
    ScanWalk(std::vector<KnownFile> known, ScanPipeline &pipeline, Hooks hooks,
             const std::atomic<bool> *stop, int threads);
    ScanWalk(const ScanWalk &) = delete;
    ScanWalk &operator=(const ScanWalk &) = delete;

    // A folder entry: its name and the type the listing gave (DT_*).
    struct Entry
    {
        std::string name;
        unsigned char type = 0;
    };

    // Walks a readable root folder (st: its stat).
    void walkRoot(const std::string &root, const struct stat &st);
    // Looks at one regular audio file outside the walk (a handed-over one).
    void consider(const std::string &path, const struct stat &st);

    // After the walk: what the index held, and whether the walk found each.
    const std::vector<KnownFile> &known() const { return m_known; }
    bool found(size_t i) const { return m_found[i].load(std::memory_order_relaxed); }
    // Lets go of the list (megabytes at a million tracks).
    void release();

    qint64 unchanged() const { return m_unchanged.load(); }
    qint64 outsideLinks() const { return m_outsideLinks.load(); }

private:
    // Where a thread's files go: straight to the pipeline once every unit
    // before its own is through, kept until then.
    struct Sink;
    // Walks an open folder at dir, closing it.
    void walk(DIR *d, const std::string &dir, int depth, Sink &sink);
    void visit(int dirFd, const std::string &dir, const Entry &entry, int depth, Sink &sink);
    // hash: the path's (LibraryIndex::hashOf).
    void consider(const std::string &path, uint64_t hash, const struct stat &st, Sink &sink);
    // The first not yet found entry of m_known for the path hash, or null;
    // cursor: where the caller's last one was found, moved on.
    const KnownFile *take(uint64_t hash, size_t &cursor);
    // Whether a folder is entered for the first time in this pass.
    bool enter(const struct stat &st);
    bool stopped() const { return m_stop && m_stop->load(); }
    // Unit k's files may go to the pipeline once m_head reaches k.
    void waitForTurn(size_t unit);
    // Leaves a finished unit's files to go out with its turn; false when
    // too many wait already (the unit must then wait for its turn).
    bool park(size_t unit, std::vector<ScanPipeline::PendingFile> &files);
    void endTurn(size_t unit);

    std::vector<KnownFile> m_known;
    std::unique_ptr<std::atomic<bool>[]> m_found; // beside m_known
    // Positions in m_known by path hash; m_byHash[m_buckets[b] ..
    // m_buckets[b + 1]) are the entries whose hash has b as its top bits,
    // so a lookup reads a few neighbouring entries.
    std::vector<uint32_t> m_byHash;
    std::vector<uint32_t> m_buckets;
    int m_bucketShift = 64;
    ScanPipeline &m_pipeline;
    Hooks m_hooks;
    const std::atomic<bool> *m_stop;
    int m_threads;
    std::mutex m_visitedMutex;
    std::set<std::pair<dev_t, ino_t>> m_visited;
    std::atomic<qint64> m_unchanged{0};
    std::atomic<qint64> m_outsideLinks{0};
    std::mutex m_turnMutex;
    std::condition_variable m_turn;
    size_t m_head = 0;             // the first unit not through yet
    std::vector<bool> m_unitsDone; // of the root walked in parallel
    // Files of finished units whose turn has not come, by unit.
    std::map<size_t, std::vector<ScanPipeline::PendingFile>> m_parked;
    size_t m_parkedFiles = 0;
};

} // namespace musicd
