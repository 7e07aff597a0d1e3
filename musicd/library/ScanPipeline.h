// The files a scan reads, on their way from the walk to the index. The walk
// adds them in its order; reader threads read their tags (TagLib is most of
// what a first scan costs, and one file's reading needs nothing of
// another's, so every core can take part); the single writer takes them back
// in the walk's order, so a first scan numbers tracks in folder order
// whichever reader finished first. At most `capacity` files wait at once: a
// first scan of a million files never holds the whole list of their paths.
#pragma once

#include "musicd/library/LibraryIndex.h"
#include "musicd/library/TagReader.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace musicd {

class ScanPipeline
{
public:
    struct PendingFile
    {
        std::string path;
        qint64 size = 0;
        qint64 mtimeNs = 0;
        std::optional<KnownFile> known; // what the index holds for the path
        // Filled by a reader.
        std::optional<TrackTags> tags;
        bool opened = true;
        bool read = false;
    };

    ScanPipeline(size_t capacity, int readers);
    // Cancels what is left and waits for the readers.
    ~ScanPipeline();
    ScanPipeline(const ScanPipeline &) = delete;
    ScanPipeline &operator=(const ScanPipeline &) = delete;

    // The walk's side: waits while `capacity` files wait; false once
    // cancelled (the file is then dropped).
    bool push(PendingFile file);
    // The walk is over: no more files come.
    void close();

    // The writer's side: the oldest file, once its tags are read; null when
    // none is ready within the time given (the writer then has a moment for
    // its own chores) or none will come (see done()).
    PendingFile *front(int waitMilliseconds);
    // Whether the walk is over and every file was taken.
    bool done() const;
    // Lets go of the file front() gave.
    void pop();
    // Drops what waits and stops the readers and the walk's push.
    void cancel();

private:
    void readLoop();
    // How few files wait before a walk held back by a full pipeline goes on.
    size_t lowWater() const;

    size_t m_capacity;
    mutable std::mutex m_mutex;
    std::condition_variable m_space; // for the walk
    std::condition_variable m_work;  // for the readers
    std::condition_variable m_ready; // for the writer
    // Elements of a deque stay where they are while others are added at the
    // back or taken from the front, so a reader works on its file unlocked.
    std::deque<PendingFile> m_files;
    size_t m_claimed = 0; // files at the front handed to a reader
    bool m_closed = false;
    bool m_cancelled = false;
    std::vector<std::thread> m_readers;
};

} // namespace musicd
