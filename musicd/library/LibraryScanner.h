// Brings the library index in line with the music folders. A pass first
// walks the roots (cheap: directory entries and stat only), comparing each
// file with the index as it goes, so only new and changed files (by size
// and modification time) are kept in memory; it then reads their tags with
// TagLib, and finally drops the tracks whose files are gone. Files found
// unreadable are remembered the same way, so they are read again only when
// they change, across restarts too. Writes go in
// small transactions, so searches see tracks appear while a long first scan
// runs and a killed service keeps everything committed.
//
// Safety: a symbolic link is followed only when its target lies under one
// of the roots (a link to a file elsewhere is skipped); every directory is
// entered once by device and inode, so link loops end. A root that cannot
// be read keeps its tracks (an unmounted disk is not a deleted library).
#pragma once

#include "musicd/library/LibraryIndex.h"
#include "musicd/library/ScanPipeline.h"
#include "musicd/library/ScanWalk.h"
#include "musicd/library/TagReader.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

namespace musicd {

struct ScanProgress
{
    qint64 found = 0;    // audio files seen on disk so far
    qint64 checked = 0;  // of those, compared and read where needed
    bool walking = true; // still looking for files
    double seconds = 0;  // since the pass began
};

struct ScanSummary
{
    qint64 tracks = 0; // in the index after the pass
    qint64 added = 0;
    qint64 changed = 0;
    qint64 removed = 0;
    qint64 unchanged = 0;
    qint64 skipped = 0;       // unreadable audio files
    QStringList skippedNames; // the first few of them
    qint64 outsideLinks = 0;  // links leading out of the roots
    // Why the index could not take what the pass found (a full disk);
    // empty when every write went through.
    QString writeError;
    double seconds = 0;
    bool changedAnything() const { return added + changed + removed > 0; }
};

class LibraryScanner
{
public:
    // Roots that do not exist are kept (they may appear later) but give no
    // files. They are made absolute and canonical.
    LibraryScanner(LibraryIndex &index, const QStringList &roots);

    // Canonical roots, each without a trailing slash.
    const std::vector<std::string> &roots() const { return m_roots; }
    // Whether a canonical path lies under (or is) one of the roots.
    bool isUnderRoots(const std::string &canonicalPath) const;
    // Whether the service may read the file at a canonical path: under a
    // root, or in the folder of a file the user handed over (the file
    // itself, its sidecar lyric, its folder's picture).
    bool isServed(const std::string &canonicalPath) const;

    // Files the user handed over (addFiles), outside the roots.
    static constexpr size_t kMaxAddedAtOnce = 1000;
    // Takes regular audio files at canonical paths into the index (reading
    // their tags when new or changed), and keeps those outside the roots
    // across rescans. From any thread, between the scan's batches. The IDs
    // in order, 0 for a file that could not be read; *changed tells whether
    // the index changed.
    std::vector<qint64> addFiles(const std::vector<std::string> &paths, bool *changed = nullptr);
    // The regular audio files at a canonical path: the file itself, or a
    // folder's files in name order, its subfolders walked (at most maxFiles
    // files and 100,000 entries looked at; links followed, each folder once).
    static std::vector<std::string> audioFilesAt(const std::string &path, size_t maxFiles);

    using ProgressFn = std::function<void(const ScanProgress &)>;
    // One pass. progress is called now and then (about once a second and at
    // the end); stop, when set, ends the pass early between files, keeping
    // what was done.
    ScanSummary scan(const ProgressFn &progress = {}, const std::atomic<bool> *stop = nullptr);

    // The running (or last) pass's counts as they are now, for any thread.
    ScanProgress liveProgress() const;
    // Fills the index's search memory from its file, between the writes of
    // handed-over files. A pass does it itself when it is needed, while it
    // walks the folders.
    void loadSearchMemory();

    // The picture file of a folder (artist, folder or cover .jpg/.jpeg/.png,
    // names compared ignoring case, in that order), or empty.
    static std::string pictureFileIn(const std::string &dir);
    // Whether the album folder of the file at path, or the artist folder
    // above it (inside root, not root itself), has a picture file.
    static bool hasFolderPicture(const std::string &path, const std::string &root);
    // The canonical form of a path (symlinks resolved); empty if it has none.
    static std::string canonical(const std::string &path);

private:
    // What one pass carries besides the walk.
    struct Pass
    {
        // Indexed files found unreadable now, leaving with the gone ones.
        std::vector<std::pair<std::string, KnownFile>> turnedUnreadable;
        ScanSummary summary;
        // The walk and the writer both count and name unreadable files.
        std::mutex skipMutex;
        // Counts an unreadable file, naming the first few.
        void skip(const std::string &path);
    };
    // The root a path lies under, "" for none.
    const std::string &rootOf(const std::string &path) const;
    bool isAdded(const std::string &path) const;

    LibraryIndex &m_index;
    std::vector<std::string> m_roots;
    std::vector<bool> m_rootReadable;
    std::atomic<qint64> m_liveFound{0};
    std::atomic<qint64> m_liveChecked{0};
    std::atomic<bool> m_liveWalking{false};
    // Taken for each transaction, by the scan and by addFiles; a waiting
    // addFiles is let in between two batches of a long scan.
    std::mutex m_writing;
    std::atomic<int> m_addsWaiting{0};
    // The handed-over files outside the roots, and their folders.
    mutable std::shared_mutex m_addedMutex;
    std::set<std::string> m_added;
    std::multiset<std::string> m_addedFolders;
};

// The tags the index keeps for a file, with the fallbacks for missing tags:
// "Artist - Title" from the file name, the folder as album.
IndexedTrack trackFromTags(const std::string &path, const std::string &root, qint64 size,
                           qint64 mtimeNs, const TrackTags &tags);

} // namespace musicd
