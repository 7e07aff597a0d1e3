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
std::vector<std::string> entriesOf(DIR *d)
{
    std::vector<std::string> names;
    while (const dirent *e = ::readdir(d)) {
        const std::string_view name = e->d_name;
        if (name == "." || name == "..")
            continue;
        if (e->d_type == DT_REG && !isAudioName(name))
            continue;
        names.emplace_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
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
    void finish()
    {
        if (!held.empty())
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
    m_byHash.resize(m_known.size());
    for (size_t i = 0; i < m_known.size(); ++i)
        m_byHash[i] = static_cast<uint32_t>(i);
    // A path both a track and remembered unreadable (never written so)
    // counts as the track: it comes first.
    std::sort(m_byHash.begin(), m_byHash.end(), [this](uint32_t a, uint32_t b) {
        const KnownFile &x = m_known[a];
        const KnownFile &y = m_known[b];
        return x.pathHash != y.pathHash ? x.pathHash < y.pathHash : x.id > y.id;
    });
    int bits = 1;
    while (bits < 32 && (size_t(1) << bits) * kFilesPerBucket < m_known.size())
        ++bits;
    m_bucketShift = 64 - bits;
    const size_t buckets = size_t(1) << bits;
    m_buckets.resize(buckets + 1);
    size_t at = 0;
    for (size_t b = 0; b <= buckets; ++b) {
        while (at < m_byHash.size() && (m_known[m_byHash[at]].pathHash >> m_bucketShift) < b)
            ++at;
        m_buckets[b] = static_cast<uint32_t>(at);
    }
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

void ScanWalk::endTurn(size_t unit)
{
    {
        std::lock_guard<std::mutex> lock(m_turnMutex);
        if (unit >= m_unitsDone.size())
            return; // the walk in order has no turns
        m_unitsDone[unit] = true;
        while (m_head < m_unitsDone.size() && m_unitsDone[m_head])
            ++m_head;
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
    const std::vector<std::string> names = entriesOf(d);
    const int fd = ::dirfd(d);
    const int threads = int(std::min<size_t>(size_t(m_threads), names.size()));
    if (threads <= 1) {
        Sink sink(*this);
        for (const std::string &name : names)
            visit(fd, root, name, 0, sink);
        ::closedir(d);
        return;
    }
    // Each entry of the root is a unit, taken by the next free thread.
    {
        std::lock_guard<std::mutex> lock(m_turnMutex);
        m_head = 0;
        m_unitsDone.assign(names.size(), false);
    }
    std::atomic<size_t> next{0};
    const auto work = [&] {
        for (size_t unit = next++; unit < names.size(); unit = next++) {
            Sink sink(*this, unit, false);
            if (!stopped())
                visit(fd, root, names[unit], 0, sink);
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
    }
    ::closedir(d);
}

void ScanWalk::walk(const std::string &dir, int depth, Sink &sink)
{
    if (depth > kMaxDepth || stopped())
        return;
    DIR *d = ::opendir(dir.c_str());
    if (!d)
        return;
    // Each entry is looked up in its open folder, not by its whole path
    // again: a restart's pass is mostly these lookups.
    const int fd = ::dirfd(d);
    for (const std::string &name : entriesOf(d))
        visit(fd, dir, name, depth, sink);
    ::closedir(d);
}

void ScanWalk::visit(int dirFd, const std::string &dir, const std::string &name, int depth,
                     Sink &sink)
{
    const std::string path = dir == "/" ? "/" + name : dir + "/" + name;
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
        if (enter(st)) // else a loop, or a folder linked twice
            walk(path, depth + 1, sink);
    } else if (S_ISREG(st.st_mode) && isAudioName(name)) {
        consider(path, hash, st, sink);
    }
}

void ScanWalk::consider(const std::string &path, const struct stat &st)
{
    Sink sink(*this);
    consider(path, LibraryIndex::hashOf(path), st, sink);
}

void ScanWalk::consider(const std::string &path, uint64_t hash, const struct stat &st, Sink &sink)
{
    const KnownFile *known = take(hash, sink.cursor);
    if (known && known->size == qint64(st.st_size) && known->mtimeNs == mtimeOf(st)) {
        if (known->unreadable())
            m_hooks.skipUnreadable(path); // unreadable before, and unchanged since
        else
            ++m_unchanged;
        m_hooks.checked->fetch_add(1, std::memory_order_relaxed);
    } else {
        ScanPipeline::PendingFile file;
        file.path = path;
        file.size = qint64(st.st_size);
        file.mtimeNs = mtimeOf(st);
        if (known)
            file.known = *known;
        sink.add(std::move(file));
    }
    m_hooks.found->fetch_add(1, std::memory_order_relaxed);
}

} // namespace musicd
