#include "musicd/library/ScanWalk.h"

#include "musicd/library/LibraryScanner.h"
#include "musicd/library/TagReader.h"

#include <QString>
#include <algorithm>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <utility>

namespace musicd {
namespace {

// Deeper trees than this are not music folders but traps.
constexpr int kMaxDepth = 64;
// Files a thread ahead of the others keeps for the pipeline at most before
// it waits for its turn: about what the pipeline itself holds.
constexpr size_t kHeldFiles = 4096;
// Known files per bucket of the lookup table, on average.
constexpr size_t kFilesPerBucket = 4;

qint64 mtimeOf(const struct stat &st)
{
    return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// Whether a file name ends in an audio suffix. Asked for every file of the
// library, so the answer per suffix is kept: making a QString of each name
// cost more than its stat.
bool isAudioName(std::string_view name)
{
    // Longer suffixes are no audio suffix, and not worth remembering.
    constexpr size_t kLongestSuffix = 8;
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || name.size() - dot - 1 > kLongestSuffix)
        return false;
    thread_local std::unordered_map<std::string, bool> answers;
    std::string suffix(name.substr(dot + 1));
    if (const auto known = answers.find(suffix); known != answers.end())
        return known->second;
    constexpr size_t kAnswersKept = 256;
    if (answers.size() >= kAnswersKept)
        answers.clear();
    const bool audio = TagReader::isAudioSuffix(QString::fromUtf8(suffix).toLower());
    answers.emplace(std::move(suffix), audio);
    return audio;
}

// A folder's entries worth a look, sorted (a first scan numbers tracks in
// folder order): a regular file that is no audio (a cover, a lyric) needs
// no stat.
std::vector<ScanWalk::Entry> entriesOf(DIR *d)
{
    std::vector<ScanWalk::Entry> entries;
    while (const dirent *e = ::readdir(d)) {
        const std::string_view name = e->d_name;
        if (name == "." || name == "..")
            continue;
        if (e->d_type == DT_REG && !isAudioName(name))
            continue;
        entries.push_back({std::string(name), e->d_type});
    }
    std::sort(entries.begin(), entries.end(),
              [](const ScanWalk::Entry &a, const ScanWalk::Entry &b) { return a.name < b.name; });
    return entries;
}

} // namespace

struct ScanWalk::Sink
{
    // A unit's sink starts by holding its files; the walk in order has none.
    explicit Sink(ScanWalk &owner, size_t ofUnit = 0, bool inOrder = true)
        : walk(owner), unit(ofUnit), direct(inOrder)
    {
    }
    ScanWalk &walk;
    size_t unit;
    bool direct; // its turn has come, or the walk is in order anyway
    std::vector<ScanPipeline::PendingFile> held;
    size_t cursor = 0; // the known file after the last one this sink found
    // Counted here and added to the shared counters a folder at a time: two
    // threads adding to one cache line for every file of a million cost
    // more than the comparisons.
    qint64 found = 0;
    qint64 checked = 0;
    qint64 unchanged = 0;

    void add(ScanPipeline::PendingFile file)
    {
        if (!direct && held.size() >= kHeldFiles)
            takeTurn();
        if (direct)
            walk.m_pipeline.push(std::move(file));
        else
            held.push_back(std::move(file));
    }
    void takeTurn()
    {
        walk.waitForTurn(unit);
        for (ScanPipeline::PendingFile &file : held)
            walk.m_pipeline.push(std::move(file));
        held = {};
        direct = true;
    }
    void count()
    {
        walk.m_hooks.found->fetch_add(std::exchange(found, 0), std::memory_order_relaxed);
        walk.m_hooks.checked->fetch_add(std::exchange(checked, 0), std::memory_order_relaxed);
        walk.m_unchanged.fetch_add(std::exchange(unchanged, 0), std::memory_order_relaxed);
    }
    void finish()
    {
        count();
        // A unit ahead of the others leaves what it holds for the one that
        // brings its turn, and goes on to the next: waiting here made the
        // threads of a rescan take turns whenever a unit held a changed
        // file. Only a unit holding many waits, so what is left stays small.
        if (!held.empty() && !walk.park(unit, held))
            takeTurn();
        walk.endTurn(unit);
    }
};

ScanWalk::ScanWalk(std::vector<KnownFile> known, ScanPipeline &pipeline, Hooks hooks,
                   const std::atomic<bool> *stop, int threads)
    : m_known(std::move(known)), m_found(std::make_unique<std::atomic<bool>[]>(m_known.size())),
      m_pipeline(pipeline), m_hooks(std::move(hooks)), m_stop(stop), m_threads(std::max(threads, 1))
{
    if (m_known.empty())
        return;
    int bits = 1;
    while (bits < 32 && (size_t(1) << bits) * kFilesPerBucket < m_known.size())
        ++bits;
    m_bucketShift = 64 - bits;
    const size_t buckets = size_t(1) << bits;
    // Entries are dealt into their buckets in two passes over the list
    // rather than sorted whole: sorting a million by their hashes held up
    // the start of a restart's walk for a third of a second.
    m_buckets.assign(buckets + 1, 0);
    for (const KnownFile &file : m_known)
        ++m_buckets[size_t(file.pathHash >> m_bucketShift) + 1];
    for (size_t b = 0; b < buckets; ++b)
        m_buckets[b + 1] += m_buckets[b];
    std::vector<uint32_t> next(m_buckets.begin(), m_buckets.end() - 1);
    m_byHash.resize(m_known.size());
    for (size_t i = 0; i < m_known.size(); ++i)
        m_byHash[next[size_t(m_known[i].pathHash >> m_bucketShift)]++] = static_cast<uint32_t>(i);
    // Within a bucket (a few entries), a path both a track and remembered
    // unreadable (never written so) counts as the track: it comes first.
    const auto before = [this](uint32_t a, uint32_t b) {
        const KnownFile &x = m_known[a];
        const KnownFile &y = m_known[b];
        return x.pathHash != y.pathHash ? x.pathHash < y.pathHash : x.id > y.id;
    };
    for (size_t b = 0; b < buckets; ++b)
        std::sort(m_byHash.begin() + m_buckets[b], m_byHash.begin() + m_buckets[b + 1], before);
}

void ScanWalk::release()
{
    m_known = {};
    m_found.reset();
    m_byHash = {};
    m_buckets = {};
}

const KnownFile *ScanWalk::take(uint64_t hash, size_t &cursor)
{
    if (m_known.empty())
        return nullptr;
    // The index holds a library's tracks in the order a first scan found
    // them, which is the order this walk finds them again: mostly the file
    // is the one after the last found, and no table lookup is needed.
    if (cursor < m_known.size() && m_known[cursor].pathHash == hash &&
        !m_known[cursor].unreadable() && !m_found[cursor].exchange(true))
        return &m_known[cursor++];
    const size_t bucket = size_t(hash >> m_bucketShift);
    for (size_t at = m_buckets[bucket]; at < m_buckets[bucket + 1]; ++at) {
        const size_t i = m_byHash[at];
        if (m_known[i].pathHash == hash && !m_found[i].exchange(true)) {
            cursor = i + 1;
            return &m_known[i];
        }
    }
    return nullptr;
}

bool ScanWalk::enter(const struct stat &st)
{
    std::lock_guard<std::mutex> lock(m_visitedMutex);
    return m_visited.emplace(st.st_dev, st.st_ino).second;
}

void ScanWalk::waitForTurn(size_t unit)
{
    std::unique_lock<std::mutex> lock(m_turnMutex);
    m_turn.wait(lock, [&] { return m_head >= unit; });
}

bool ScanWalk::park(size_t unit, std::vector<ScanPipeline::PendingFile> &files)
{
    std::lock_guard<std::mutex> lock(m_turnMutex);
    if (unit >= m_unitsDone.size() || m_parkedFiles + files.size() > kHeldFiles)
        return false;
    m_parkedFiles += files.size();
    m_parked.emplace(unit, std::move(files));
    files = {};
    return true;
}

void ScanWalk::endTurn(size_t unit)
{
    {
        std::lock_guard<std::mutex> lock(m_turnMutex);
        if (unit >= m_unitsDone.size())
            return; // the walk in order has no turns
        m_unitsDone[unit] = true;
        while (m_head < m_unitsDone.size() && m_unitsDone[m_head]) {
            // The files a unit left go out as its turn passes, under the
            // lock, so no later unit's files can overtake them.
            if (const auto parked = m_parked.find(m_head); parked != m_parked.end()) {
                m_parkedFiles -= parked->second.size();
                for (ScanPipeline::PendingFile &file : parked->second)
                    m_pipeline.push(std::move(file));
                m_parked.erase(parked);
            }
            ++m_head;
        }
    }
    m_turn.notify_all();
}

void ScanWalk::walkRoot(const std::string &root, const struct stat &st)
{
    if (!enter(st) || stopped())
        return;
    DIR *d = ::opendir(root.c_str());
    if (!d)
        return;
    const std::vector<Entry> entries = entriesOf(d);
    const int fd = ::dirfd(d);
    const int threads = int(std::min<size_t>(size_t(m_threads), entries.size()));
    if (threads <= 1) {
        Sink sink(*this);
        for (const Entry &entry : entries)
            visit(fd, root, entry, 0, sink);
        sink.count();
        ::closedir(d);
        return;
    }
    // Each entry of the root is a unit, taken by the next free thread.
    {
        std::lock_guard<std::mutex> lock(m_turnMutex);
        m_head = 0;
        m_unitsDone.assign(entries.size(), false);
    }
    std::atomic<size_t> next{0};
    const auto work = [&] {
        for (size_t unit = next++; unit < entries.size(); unit = next++) {
            Sink sink(*this, unit, false);
            if (!stopped())
                visit(fd, root, entries[unit], 0, sink);
            sink.finish();
        }
    };
    std::vector<std::thread> helpers;
    for (int i = 1; i < threads; ++i)
        helpers.emplace_back(work);
    work();
    for (std::thread &helper : helpers)
        helper.join();
    {
        std::lock_guard<std::mutex> lock(m_turnMutex);
        m_unitsDone.clear();
        m_parked.clear();
        m_parkedFiles = 0;
    }
    ::closedir(d);
}

void ScanWalk::walk(DIR *d, const std::string &dir, int depth, Sink &sink)
{
    // Each entry is looked up in its open folder, not by its whole path
    // again: a restart's pass is mostly these lookups.
    const int fd = ::dirfd(d);
    for (const Entry &entry : entriesOf(d)) {
        if (stopped())
            break;
        visit(fd, dir, entry, depth, sink);
    }
    ::closedir(d);
    sink.count();
}

void ScanWalk::visit(int dirFd, const std::string &dir, const Entry &entry, int depth, Sink &sink)
{
    const std::string &name = entry.name;
    const std::string path = dir == "/" ? "/" + name : dir + "/" + name;
    if (entry.type == DT_DIR) {
        // A folder is opened beside its listing and known by what it is
        // open as: no lookup by name for a stat, none by the whole path
        // for the listing. If it changed meanwhile, the general way below
        // looks at what is there now.
        if (depth >= kMaxDepth || stopped())
            return;
        const int fd =
            ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat st
        {
        };
        if (fd >= 0 && ::fstat(fd, &st) == 0) {
            if (!enter(st)) { // a loop, or a folder linked twice
                ::close(fd);
                return;
            }
            if (DIR *d = ::fdopendir(fd))
                walk(d, path, depth + 1, sink);
            else
                ::close(fd);
            return;
        }
        if (fd >= 0)
            ::close(fd);
    }
    // Where the file is not the one after the last found, its entry is a
    // few cache misses away in a table of tens of megabytes: asked for
    // now, part of the way is there when the stat is done.
    const uint64_t hash = LibraryIndex::hashOf(path);
    if (!m_known.empty() &&
        (sink.cursor >= m_known.size() || m_known[sink.cursor].pathHash != hash)) {
        const size_t first = m_buckets[size_t(hash >> m_bucketShift)];
        __builtin_prefetch(&m_byHash[std::min(first, m_byHash.size() - 1)]);
    }
    struct stat st
    {
    };
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    if (S_ISLNK(st.st_mode)) {
        const std::string target = LibraryScanner::canonical(path);
        if (target.empty())
            return; // dangling
        if (!m_hooks.isUnderRoots(target)) {
            ++m_outsideLinks;
            return;
        }
        if (::stat(path.c_str(), &st) != 0)
            return;
    }
    if (S_ISDIR(st.st_mode)) {
        if (depth >= kMaxDepth || stopped() || !enter(st)) // else a loop, or a folder linked twice
            return;
        if (DIR *d = ::opendir(path.c_str()))
            walk(d, path, depth + 1, sink);
    } else if (S_ISREG(st.st_mode) && isAudioName(name)) {
        consider(path, hash, st, sink);
    }
}

void ScanWalk::consider(const std::string &path, const struct stat &st)
{
    Sink sink(*this);
    consider(path, LibraryIndex::hashOf(path), st, sink);
    sink.count();
}

void ScanWalk::consider(const std::string &path, uint64_t hash, const struct stat &st, Sink &sink)
{
    const KnownFile *known = take(hash, sink.cursor);
    if (known && known->size == qint64(st.st_size) && known->mtimeNs == mtimeOf(st)) {
        if (known->unreadable())
            m_hooks.skipUnreadable(path); // unreadable before, and unchanged since
        else
            ++sink.unchanged;
        ++sink.checked;
    } else {
        ScanPipeline::PendingFile file;
        file.path = path;
        file.size = qint64(st.st_size);
        file.mtimeNs = mtimeOf(st);
        if (known)
            file.known = *known;
        sink.add(std::move(file));
    }
    ++sink.found;
}

} // namespace musicd
