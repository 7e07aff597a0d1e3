#include "musicd/LibraryScanner.h"

#include "musicd/TagReader.h"

#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <thread>
#include <unistd.h>

namespace musicd {
namespace {

// Files per transaction, and the longest a batch stays open: small enough
// that searches see a long scan grow, large enough that commits stay cheap.
constexpr int kBatchFiles = 500;
constexpr qint64 kBatchMilliseconds = 500;
constexpr qint64 kProgressMilliseconds = 1000;
// Files found between two progress calls while walking.
constexpr qint64 kWalkReportEvery = 256;
// Unreadable files named in the summary; the rest are only counted.
constexpr int kSkippedNamesKept = 5;
// Deeper trees than this are not music folders but traps.
constexpr int kMaxDepth = 64;

qint64 mtimeOf(const struct stat &st)
{
    return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

QString suffixOf(const std::string &name)
{
    const std::string::size_type dot = name.rfind('.');
    const std::string::size_type slash = name.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return QString();
    return QString::fromUtf8(name.substr(dot + 1)).toLower();
}

QString baseName(const std::string &path)
{
    const std::string::size_type slash = path.rfind('/');
    QString name = QFile::decodeName(QByteArray::fromStdString(path.substr(slash + 1)));
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

std::string parentOf(const std::string &path)
{
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

QString folderName(const std::string &dir)
{
    return QFile::decodeName(QByteArray::fromStdString(dir.substr(dir.rfind('/') + 1)));
}

} // namespace

IndexedTrack trackFromTags(const std::string &path, const std::string &root, qint64 size,
                           qint64 mtimeNs, const TrackTags &tags)
{
    IndexedTrack t;
    t.path = path;
    t.size = size;
    t.mtimeNs = mtimeNs;
    t.title = tags.title;
    t.artist = tags.artist;
    t.album = tags.album;
    t.durationSeconds = tags.durationSeconds;
    t.hasLyrics = tags.hasLyrics;
    t.hasCover = tags.hasCover;
    t.albumArtist = tags.albumArtist;
    t.artists = tags.artists;
    t.genre = tags.genre;
    t.track = tags.track;
    t.disc = tags.disc;
    t.year = tags.year;
    t.bitRateKbps = tags.bitRateKbps;

    // "Artist - Title.ext" when the tags say nothing.
    const QString base = TagReader::cleanText(baseName(path));
    const qsizetype dash = base.indexOf(QStringLiteral(" - "));
    if (t.title.isEmpty())
        t.title = dash > 0 ? base.mid(dash + 3).trimmed() : base;
    if (t.artist.isEmpty() && dash > 0)
        t.artist = base.left(dash).trimmed();
    // The folder a file sits in is its album, the one above that its
    // artist, as long as they are inside the root.
    const std::string albumDir = parentOf(path);
    if (t.album.isEmpty() && albumDir != root && albumDir.size() > root.size())
        t.album = TagReader::cleanText(folderName(albumDir));
    const std::string artistDir = parentOf(albumDir);
    if (t.artist.isEmpty() && albumDir != root && artistDir != root &&
        artistDir.size() > root.size())
        t.artist = TagReader::cleanText(folderName(artistDir));
    return t;
}

LibraryScanner::LibraryScanner(LibraryIndex &index, const QStringList &roots) : m_index(index)
{
    for (const QString &root : roots) {
        std::string path = canonical(QFile::encodeName(root).toStdString());
        if (path.empty()) {
            // Not there (yet): kept as written, made absolute.
            path = QFile::encodeName(root).toStdString();
        }
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        if (std::find(m_roots.begin(), m_roots.end(), path) == m_roots.end())
            m_roots.push_back(path);
    }
    for (const std::string &path : m_index.addedFiles()) {
        m_added.insert(path);
        m_addedFolders.insert(parentOf(path));
    }
}

std::string LibraryScanner::canonical(const std::string &path)
{
    char *resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return std::string();
    std::string out(resolved);
    std::free(resolved);
    return out;
}

ScanProgress LibraryScanner::liveProgress() const
{
    ScanProgress p;
    p.found = m_liveFound.load(std::memory_order_relaxed);
    p.checked = m_liveChecked.load(std::memory_order_relaxed);
    p.walking = m_liveWalking.load(std::memory_order_relaxed);
    return p;
}

bool LibraryScanner::isUnderRoots(const std::string &path) const
{
    for (const std::string &root : m_roots) {
        if (path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                             (path[root.size()] == '/' || root == "/")))
            return true;
    }
    return false;
}

bool LibraryScanner::isAdded(const std::string &path) const
{
    std::shared_lock<std::shared_mutex> lock(m_addedMutex);
    return m_added.count(path) > 0;
}

bool LibraryScanner::isServed(const std::string &path) const
{
    if (isUnderRoots(path))
        return true;
    std::shared_lock<std::shared_mutex> lock(m_addedMutex);
    return m_addedFolders.count(parentOf(path)) > 0;
}

const std::string &LibraryScanner::rootOf(const std::string &path) const
{
    for (const std::string &root : m_roots) {
        if (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
            path[root.size()] == '/')
            return root;
    }
    static const std::string none;
    return none;
}

void LibraryScanner::consider(const std::string &path, const struct stat &st, Pass &pass)
{
    const auto it = pass.known.find(path);
    if (it != pass.known.end() && it->second.size == qint64(st.st_size) &&
        it->second.mtimeNs == mtimeOf(st)) {
        if (it->second.id == 0)
            pass.skip(path); // unreadable before, and unchanged since
        else
            ++pass.summary.unchanged;
        m_liveChecked.store(++pass.state.checked, std::memory_order_relaxed);
        pass.known.erase(it);
    } else {
        pass.toRead.push_back(Found{path, qint64(st.st_size), mtimeOf(st)});
    }
    m_liveFound.store(pass.state.found + 1, std::memory_order_relaxed);
    // The caller decides how often to show it.
    if (++pass.state.found % kWalkReportEvery == 0 && pass.progress)
        pass.progress(pass.state);
}

std::vector<std::string> LibraryScanner::audioFilesAt(const std::string &path, size_t maxFiles)
{
    std::vector<std::string> files;
    std::vector<std::pair<dev_t, ino_t>> visited;
    // A folder handed over by mistake (the home folder, a whole disk) is
    // looked through only this far.
    constexpr size_t kMaxEntriesLooked = 100000;
    size_t looked = 0;
    // Depth first, names sorted, as the scan walks.
    const std::function<void(const std::string &, int)> visit = [&](const std::string &at,
                                                                    int depth) {
        struct stat st
        {
        };
        if (files.size() >= maxFiles || depth > kMaxDepth || ++looked > kMaxEntriesLooked ||
            ::stat(at.c_str(), &st) != 0)
            return;
        if (S_ISREG(st.st_mode)) {
            if (TagReader::isAudioSuffix(suffixOf(at)))
                files.push_back(at);
            return;
        }
        if (!S_ISDIR(st.st_mode))
            return; // FIFOs, devices and sockets are never read
        const std::pair<dev_t, ino_t> key{st.st_dev, st.st_ino};
        if (std::find(visited.begin(), visited.end(), key) != visited.end())
            return;
        visited.push_back(key);
        DIR *d = ::opendir(at.c_str());
        if (!d)
            return;
        std::vector<std::string> names;
        while (const dirent *e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(d);
        std::sort(names.begin(), names.end());
        for (const std::string &name : names)
            visit(at == "/" ? "/" + name : at + "/" + name, depth + 1);
    };
    visit(path, 0);
    return files;
}

std::vector<qint64> LibraryScanner::addFiles(const std::vector<std::string> &paths, bool *changed)
{
    std::vector<qint64> ids;
    bool updated = false;
    bool inserted = false;
    ++m_addsWaiting;
    std::lock_guard<std::mutex> lock(m_writing);
    --m_addsWaiting;
    m_index.begin();
    for (const std::string &path : paths) {
        struct stat st
        {
        };
        if (ids.size() >= kMaxAddedAtOnce || ::stat(path.c_str(), &st) != 0 ||
            !S_ISREG(st.st_mode) || !TagReader::isAudioSuffix(suffixOf(path))) {
            ids.push_back(0);
            continue;
        }
        const std::optional<FileStamp> stamp = m_index.stampOf(path);
        qint64 id = 0;
        if (stamp && stamp->size == qint64(st.st_size) && stamp->mtimeNs == mtimeOf(st)) {
            id = stamp->id;
        } else if (const std::optional<TrackTags> tags =
                       st.st_size > 0
                           ? TagReader::read(QFile::decodeName(QByteArray::fromStdString(path)))
                           : std::nullopt) {
            IndexedTrack track =
                trackFromTags(path, rootOf(path), qint64(st.st_size), mtimeOf(st), *tags);
            if (stamp) {
                track.id = stamp->id;
                if (m_index.update(track)) {
                    id = track.id;
                    updated = true;
                }
            } else {
                id = m_index.insert(track);
                inserted = inserted || id > 0;
            }
        }
        if (id > 0 && !isUnderRoots(path) && !isAdded(path) && m_index.markAdded(path)) {
            std::unique_lock<std::shared_mutex> added(m_addedMutex);
            m_added.insert(path);
            m_addedFolders.insert(parentOf(path));
        }
        ids.push_back(id);
    }
    m_index.commit();
    if (updated)
        m_index.reloadShortIndex();
    if (changed)
        *changed = updated || inserted;
    return ids;
}

void LibraryScanner::loadSearchMemory()
{
    std::lock_guard<std::mutex> lock(m_writing);
    m_index.reloadShortIndex();
}

void LibraryScanner::Pass::skip(const std::string &path)
{
    ++summary.skipped;
    if (summary.skippedNames.size() < kSkippedNamesKept)
        summary.skippedNames.append(QFile::decodeName(QByteArray::fromStdString(path)));
}

void LibraryScanner::walk(const std::string &dir, int depth, Pass &pass)
{
    if (depth > kMaxDepth || (pass.stop && pass.stop->load()))
        return;
    DIR *d = ::opendir(dir.c_str());
    if (!d)
        return;
    std::vector<std::string> names;
    while (const dirent *e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        names.push_back(name);
    }
    ::closedir(d);
    // Sorted, so a first scan numbers tracks in folder order.
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        const std::string path = dir + "/" + name;
        struct stat st
        {
        };
        if (::lstat(path.c_str(), &st) != 0)
            continue;
        if (S_ISLNK(st.st_mode)) {
            const std::string target = canonical(path);
            if (target.empty())
                continue; // dangling
            if (!isUnderRoots(target)) {
                ++pass.summary.outsideLinks;
                continue;
            }
            if (::stat(path.c_str(), &st) != 0)
                continue;
        }
        if (S_ISDIR(st.st_mode)) {
            const std::pair<dev_t, ino_t> key{st.st_dev, st.st_ino};
            if (std::find(pass.visited.begin(), pass.visited.end(), key) != pass.visited.end())
                continue; // a loop, or a folder linked twice
            pass.visited.push_back(key);
            walk(path, depth + 1, pass);
        } else if (S_ISREG(st.st_mode) && TagReader::isAudioSuffix(suffixOf(name))) {
            consider(path, st, pass);
        }
    }
}

ScanSummary LibraryScanner::scan(const ProgressFn &progress, const std::atomic<bool> *stop)
{
    Pass pass;
    ScanSummary &summary = pass.summary;
    ScanProgress &state = pass.state;
    QElapsedTimer clock;
    clock.start();
    QElapsedTimer lastReport;
    lastReport.start();
    const auto report = [&](const ScanProgress &s) {
        if (!progress || (s.walking && lastReport.elapsed() < kProgressMilliseconds))
            return;
        ScanProgress copy = s;
        copy.seconds = clock.elapsed() / 1000.0;
        progress(copy);
        lastReport.restart();
    };
    pass.progress = report;
    pass.stop = stop;
    m_liveFound = 0;
    m_liveChecked = 0;
    m_liveWalking = true;
    std::unique_lock<std::mutex> writing(m_writing);
    pass.known = m_index.stamps();
    writing.unlock();
    // Walk every root; remember which could be read at all.
    std::vector<bool> rootWalked;
    for (const std::string &root : m_roots) {
        struct stat st
        {
        };
        const bool readable = ::stat(root.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
                              ::access(root.c_str(), R_OK | X_OK) == 0;
        rootWalked.push_back(readable);
        if (!readable)
            continue;
        pass.visited.emplace_back(st.st_dev, st.st_ino);
        walk(root, 0, pass);
    }
    // Handed-over files outside the roots are looked at as a root's files
    // are; one that is gone leaves with the vanished ones.
    std::vector<std::string> added;
    {
        std::shared_lock<std::shared_mutex> lock(m_addedMutex);
        added.assign(m_added.begin(), m_added.end());
    }
    for (const std::string &path : added) {
        struct stat st
        {
        };
        if (!isUnderRoots(path) && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            consider(path, st, pass);
    }
    state.walking = false;
    m_liveWalking = false;
    std::unordered_map<std::string, FileStamp> &known = pass.known;
    int inBatch = 0;
    QElapsedTimer batchClock;
    bool needShortReload = false;
    const auto startBatch = [&] {
        writing.lock();
        m_index.begin();
    };
    const auto flush = [&] {
        if (inBatch > 0)
            m_index.commit();
        inBatch = 0;
        if (writing.owns_lock()) {
            writing.unlock();
            // A file handed over meanwhile goes in before the next batch.
            while (m_addsWaiting.load() > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    for (const Found &f : pass.toRead) {
        if (stop && stop->load())
            break;
        m_liveChecked.store(++state.checked, std::memory_order_relaxed);
        const auto it = known.find(f.path);
        const bool isKnown = it != known.end();
        if (inBatch == 0) {
            startBatch();
            batchClock.restart();
        }
        ++inBatch;
        bool opened = true;
        const std::optional<TrackTags> tags =
            f.size > 0
                ? TagReader::read(QFile::decodeName(QByteArray::fromStdString(f.path)), &opened)
                : std::nullopt;
        const bool wasUnreadable = isKnown && it->second.id == 0;
        if (!tags) {
            pass.skip(f.path);
            // Only a file read and found wanting is remembered: one that
            // could not be opened may be readable next time as it is.
            if (opened)
                m_index.rememberUnreadable(f.path, f.size, f.mtimeNs);
            else if (wasUnreadable)
                m_index.forgetUnreadable(f.path);
            // An indexed file that turned unreadable leaves the index:
            // it stays in `known` and goes with the vanished ones.
            if (wasUnreadable)
                known.erase(it);
        } else {
            IndexedTrack track = trackFromTags(f.path, rootOf(f.path), f.size, f.mtimeNs, *tags);
            if (isKnown && !wasUnreadable) {
                track.id = it->second.id;
                m_index.update(track);
                needShortReload = true;
                ++summary.changed;
                known.erase(it);
            } else {
                if (wasUnreadable) {
                    m_index.forgetUnreadable(f.path);
                    known.erase(it);
                }
                if (m_index.insert(track) > 0)
                    ++summary.added;
            }
        }
        if (inBatch >= kBatchFiles || batchClock.elapsed() >= kBatchMilliseconds)
            flush();
        if (lastReport.elapsed() >= kProgressMilliseconds)
            report(state);
    }
    flush();

    // What is left in `known` was not found again: gone, unless its root
    // could not be read this time, or the pass was cut short.
    if (!(stop && stop->load())) {
        for (const auto &[path, stamp] : known) {
            bool rootMissing = false;
            for (size_t i = 0; i < m_roots.size(); ++i) {
                const std::string &root = m_roots.at(i);
                if (!rootWalked.at(i) && path.compare(0, root.size() + 1, root + "/") == 0)
                    rootMissing = true;
            }
            if (rootMissing)
                continue;
            if (inBatch == 0)
                startBatch();
            ++inBatch;
            if (stamp.id == 0)
                m_index.forgetUnreadable(path);
            else if (m_index.remove(stamp.id))
                ++summary.removed;
            if (isAdded(path) && m_index.forgetAdded(path)) {
                std::unique_lock<std::shared_mutex> lock(m_addedMutex);
                m_added.erase(path);
                m_addedFolders.erase(m_addedFolders.find(parentOf(path)));
            }
            if (inBatch >= kBatchFiles)
                flush();
        }
        flush();
        needShortReload = needShortReload || summary.removed > 0;
    }
    // The path lists of a large first pass are megabytes: let them go
    // before the search memory is rebuilt or compacted, not after.
    pass.toRead = {};
    pass.known = {};
    writing.lock();
    if (needShortReload)
        m_index.reloadShortIndex();
    else if (summary.added > 0)
        m_index.compactMemory();
    writing.unlock();

    summary.writeError = m_index.takeWriteError();
    summary.tracks = m_index.trackCount();
    summary.seconds = clock.elapsed() / 1000.0;
    state.seconds = summary.seconds;
    if (progress)
        progress(state);
    return summary;
}

} // namespace musicd
