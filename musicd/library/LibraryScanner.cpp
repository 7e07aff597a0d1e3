#include "musicd/library/LibraryScanner.h"

#include "musicd/library/TagReader.h"

#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace musicd {
namespace {

// Picture files, in order of preference, compared ignoring case.
const char *const kPictureNames[] = {"artist", "folder", "cover"};
const char *const kPictureSuffixes[] = {"jpg", "jpeg", "png"};

// Files per transaction, and the longest a batch stays open: small enough
// that searches see a long scan grow, large enough that commits stay cheap.
constexpr int kBatchFiles = 500;
constexpr qint64 kBatchMilliseconds = 500;
constexpr qint64 kProgressMilliseconds = 1000;
// Files found new or changed that wait for their tags to be read at most:
// enough to keep every reader busy, few enough that a first scan does not
// hold the paths of the whole library.
constexpr size_t kFilesWaiting = 4096;
// How long the writer waits for the next file before it looks at its batch
// and the progress again.
constexpr int kWaitMilliseconds = 100;
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
    t.hasFolderPicture = LibraryScanner::hasFolderPicture(path, root);
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
        m_index.refreshShortIndex();
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
    std::lock_guard<std::mutex> lock(skipMutex);
    ++summary.skipped;
    if (summary.skippedNames.size() < kSkippedNamesKept)
        summary.skippedNames.append(QFile::decodeName(QByteArray::fromStdString(path)));
}

ScanSummary LibraryScanner::scan(const ProgressFn &progress, const std::atomic<bool> *stop)
{
    Pass pass;
    ScanSummary &summary = pass.summary;
    QElapsedTimer clock;
    clock.start();
    QElapsedTimer lastReport;
    lastReport.start();
    const auto report = [&] {
        if (!progress)
            return;
        ScanProgress now = liveProgress();
        now.seconds = clock.elapsed() / 1000.0;
        progress(now);
        lastReport.restart();
    };
    const auto stopped = [stop] { return stop && stop->load(); };
    m_liveFound = 0;
    m_liveChecked = 0;
    m_liveWalking = true;
    std::unique_lock<std::mutex> writing(m_writing);
    std::vector<KnownFile> known = m_index.knownFiles();
    // A first scan fills the trigram index once at its end; any other pass
    // first brings in what one cut short left out.
    m_index.deferTrigramIndex(known.empty());
    writing.unlock();
    // The first pass of a service started on an existing index fills the
    // search memory meanwhile (the trigram index answers until then): on
    // another core, and the writer waits for it only when it has a batch.
    std::thread loader;
    if (!m_index.searchMemoryComplete())
        loader = std::thread([this] { loadSearchMemory(); });

    // The walk runs on a thread of its own, handing new and changed files to
    // the tag readers as it finds them; this thread writes what they read.
    // Every core reads tags; this writer and the readers overlap.
    const int readers = std::max(1, int(std::thread::hardware_concurrency()));
    ScanPipeline pipeline(kFilesWaiting, readers);
    ScanWalk::Hooks hooks;
    hooks.isUnderRoots = [this](const std::string &path) { return isUnderRoots(path); };
    hooks.skipUnreadable = [&pass](const std::string &path) { pass.skip(path); };
    hooks.found = &m_liveFound;
    hooks.checked = &m_liveChecked;
    // A first scan is bound by reading tags, which the walk in order keeps
    // fed; a later pass is mostly the walk, which then takes every core.
    const int walkers = known.empty() ? 1 : readers;
    ScanWalk walk(std::move(known), pipeline, std::move(hooks), stop, walkers);
    std::vector<bool> rootWalked(m_roots.size(), false);
    std::thread walker([&] {
        // Walk every root; remember which could be read at all.
        for (size_t i = 0; i < m_roots.size(); ++i) {
            const std::string &root = m_roots.at(i);
            struct stat st
            {
            };
            const bool readable = ::stat(root.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
                                  ::access(root.c_str(), R_OK | X_OK) == 0;
            rootWalked[i] = readable;
            if (readable)
                walk.walkRoot(root, st);
        }
        // Handed-over files outside the roots are looked at as a root's
        // files are; one that is gone leaves with the vanished ones.
        std::vector<std::string> added;
        {
            std::shared_lock<std::shared_mutex> lock(m_addedMutex);
            added.assign(m_added.begin(), m_added.end());
        }
        for (const std::string &path : added) {
            struct stat st
            {
            };
            if (!stopped() && !isUnderRoots(path) && ::stat(path.c_str(), &st) == 0 &&
                S_ISREG(st.st_mode))
                walk.consider(path, st);
        }
        m_liveWalking = false;
        pipeline.close();
    });

    int inBatch = 0;
    QElapsedTimer batchClock;
    bool needShortReload = false;
    const auto startBatch = [&] {
        writing.lock();
        m_index.begin();
        batchClock.restart();
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
    for (;;) {
        if (stopped()) {
            pipeline.cancel();
            break;
        }
        if (lastReport.elapsed() >= kProgressMilliseconds)
            report();
        ScanPipeline::PendingFile *f = pipeline.front(kWaitMilliseconds);
        if (!f) {
            if (pipeline.done())
                break;
            // Waiting on the readers: searches need not wait on the batch.
            if (inBatch > 0 && batchClock.elapsed() >= kBatchMilliseconds)
                flush();
            continue;
        }
        m_liveChecked.fetch_add(1, std::memory_order_relaxed);
        if (inBatch == 0)
            startBatch();
        ++inBatch;
        std::optional<KnownFile> known = f->known;
        // Paths are known by their hash: a track's ID is taken over only
        // when the index has it under this very path.
        if (known && !known->unreadable()) {
            const std::optional<FileStamp> stamp = m_index.stampOf(f->path);
            if (!stamp || stamp->id != known->id)
                known.reset();
        }
        const bool wasUnreadable = known && known->unreadable();
        if (!f->tags) {
            pass.skip(f->path);
            // Only a file read and found wanting is remembered: one that
            // could not be opened may be readable next time as it is.
            if (f->opened)
                m_index.rememberUnreadable(f->path, f->size, f->mtimeNs);
            else if (wasUnreadable)
                m_index.forgetUnreadable(f->path);
            // An indexed file that turned unreadable leaves the index, as
            // the vanished ones do.
            if (known && !wasUnreadable)
                pass.turnedUnreadable.emplace_back(f->path, *known);
        } else {
            IndexedTrack track =
                trackFromTags(f->path, rootOf(f->path), f->size, f->mtimeNs, *f->tags);
            if (known && !wasUnreadable) {
                track.id = known->id;
                m_index.update(track);
                needShortReload = true;
                ++summary.changed;
            } else {
                if (wasUnreadable)
                    m_index.forgetUnreadable(f->path);
                if (m_index.insert(track) > 0)
                    ++summary.added;
            }
        }
        pipeline.pop();
        if (inBatch >= kBatchFiles || batchClock.elapsed() >= kBatchMilliseconds)
            flush();
    }
    walker.join();
    flush();
    if (loader.joinable())
        loader.join();

    // What the walk did not find again is gone, unless its root could not
    // be read this time, or the pass was cut short.
    if (!stopped()) {
        const auto drop = [&](const std::string &path, const KnownFile &file) {
            for (size_t i = 0; i < m_roots.size(); ++i) {
                const std::string &root = m_roots.at(i);
                if (!rootWalked.at(i) && path.compare(0, root.size() + 1, root + "/") == 0)
                    return;
            }
            if (inBatch == 0)
                startBatch();
            ++inBatch;
            if (file.unreadable())
                m_index.forgetUnreadable(path);
            else if (m_index.remove(file.id))
                ++summary.removed;
            if (isAdded(path) && m_index.forgetAdded(path)) {
                std::unique_lock<std::shared_mutex> lock(m_addedMutex);
                m_added.erase(path);
                m_addedFolders.erase(m_addedFolders.find(parentOf(path)));
            }
            if (inBatch >= kBatchFiles)
                flush();
        };
        for (const auto &[path, file] : pass.turnedUnreadable)
            drop(path, file);
        for (size_t i = 0; i < walk.known().size(); ++i) {
            if (walk.found(i))
                continue;
            // Paths of the gone files only are read back, one by one.
            std::unique_lock<std::mutex> reading(m_writing, std::defer_lock);
            if (!writing.owns_lock())
                reading.lock();
            const std::string path = m_index.pathOf(walk.known()[i]);
            if (reading.owns_lock())
                reading.unlock();
            if (!path.empty())
                drop(path, walk.known()[i]);
        }
        flush();
    }
    // The stamps of a large library are megabytes: let them go before the
    // search memory is rebuilt or compacted, not after.
    walk.release();
    summary.unchanged = walk.unchanged();
    summary.outsideLinks = walk.outsideLinks();
    writing.lock();
    if (summary.removed > 0) {
        m_index.reloadShortIndex();
    } else {
        if (needShortReload)
            m_index.refreshShortIndex();
        if (summary.added > 0)
            m_index.compactMemory();
    }
    // A pass cut short leaves that to the next one: the service is ending.
    if (!stopped())
        m_index.deferTrigramIndex(false);
    m_index.foldJournal();
    writing.unlock();

    summary.writeError = m_index.takeWriteError();
    summary.tracks = m_index.trackCount();
    summary.seconds = clock.elapsed() / 1000.0;
    if (progress) {
        ScanProgress last = liveProgress();
        last.walking = false;
        last.seconds = summary.seconds;
        progress(last);
    }
    return summary;
}

std::string LibraryScanner::pictureFileIn(const std::string &dir)
{
    DIR *d = ::opendir(dir.c_str());
    if (!d)
        return std::string();
    std::vector<std::string> names;
    while (const dirent *e = ::readdir(d))
        names.emplace_back(e->d_name);
    ::closedir(d);
    for (const char *want : kPictureNames) {
        for (const char *suffix : kPictureSuffixes) {
            const QString wanted =
                QStringLiteral("%1.%2").arg(QLatin1String(want), QLatin1String(suffix));
            for (const std::string &name : names) {
                if (QString::fromUtf8(name).compare(wanted, Qt::CaseInsensitive) == 0)
                    return dir + "/" + name;
            }
        }
    }
    return std::string();
}

bool LibraryScanner::hasFolderPicture(const std::string &path, const std::string &root)
{
    // Files arrive folder by folder, so the same folders are asked about
    // again and again: the last answers (album, artist) save reading them.
    thread_local std::pair<std::string, bool> lastAnswers[2];
    const auto pictureIn = [](const std::string &dir, std::pair<std::string, bool> &last) {
        if (dir != last.first)
            last = {dir, !pictureFileIn(dir).empty()};
        return last.second;
    };
    const std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return false;
    const std::string albumDir = path.substr(0, slash);
    if (pictureIn(albumDir, lastAnswers[0]))
        return true;
    const std::string::size_type up = albumDir.rfind('/');
    if (up == std::string::npos || up == 0)
        return false;
    const std::string artistDir = albumDir.substr(0, up);
    // The artist folder counts only inside the root, not the root itself.
    const bool inside = !root.empty() && artistDir.size() > root.size() &&
                        artistDir.compare(0, root.size(), root) == 0 &&
                        artistDir[root.size()] == '/';
    return inside && pictureIn(artistDir, lastAnswers[1]);
}

} // namespace musicd
