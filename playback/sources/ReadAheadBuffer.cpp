#include "playback/sources/ReadAheadBuffer.h"

#include "playback/sources/ByteSource.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr qint64 kReadBytes = 64 * 1024;
// A forward seek this far beyond what was read waits for the reader
// instead of starting the source again there.
constexpr qint64 kReadOnBytes = 256 * 1024;
// How often a blocked read looks at the abort flag.
constexpr auto kAbortPoll = std::chrono::milliseconds(50);

} // namespace

ReadAheadBuffer::ReadAheadBuffer(std::unique_ptr<ByteSource> source, const std::atomic<bool> &abort,
                                 std::function<void()> wake, qint64 capacity)
    : m_source(std::move(source)), m_abort(abort), m_wake(std::move(wake))
{
    m_capacity = capacity;
    m_size = m_source->size();
    m_reader = std::thread(&ReadAheadBuffer::readLoop, this);
}

ReadAheadBuffer::~ReadAheadBuffer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_reader.join();
}

void ReadAheadBuffer::readLoop()
{
    std::vector<char> chunk(kReadBytes);
    bool filling = true;
    int generation = 0;
    while (true) {
        qint64 restartAt = -1;
        {
            std::unique_lock lock(m_mutex);
            // Asleep until the decoder takes bytes, seeks or the buffer goes:
            // a full read-ahead costs no wake-ups.
            m_changed.wait(lock, [&] {
                if (m_stopping || m_abort || m_generation != m_sourceGeneration)
                    return true;
                if (m_ended)
                    return false;
                const qint64 ahead = m_start + qint64(m_data.size()) - m_position;
                if (ahead >= m_capacity)
                    filling = false;
                else if (ahead < readOnBelow())
                    filling = true;
                return filling;
            });
            if (m_stopping || m_abort)
                break;
            if (m_generation != m_sourceGeneration) {
                m_sourceGeneration = m_generation;
                restartAt = m_start + qint64(m_data.size());
            } else if (m_ended || !filling) {
                continue;
            }
            generation = m_generation;
        }
        bool failed = false;
        qint64 got = 0;
        if (restartAt >= 0)
            failed = !m_source->open(restartAt);
        if (!failed)
            got = m_source->read(chunk.data(), kReadBytes);
        {
            std::lock_guard lock(m_mutex);
            if (generation != m_generation)
                continue;
            if (failed || got <= 0) {
                m_ended = true;
            } else {
                m_data.insert(m_data.end(), chunk.begin(), chunk.begin() + got);
                m_peakHeld = std::max(m_peakHeld, qint64(m_data.size()));
            }
            if (m_source->size() >= 0)
                m_size = m_source->size();
        }
        m_changed.notify_all();
        if (m_wake)
            m_wake();
    }
}

qint64 ReadAheadBuffer::readOnBelow() const
{
    return qint64(double(m_capacity) * ReadAheadLimits::kReadOnBelow);
}

void ReadAheadBuffer::trim()
{
    // Keep a little behind the decoder; drop the rest in large steps so
    // the bytes ahead are not moved for every read.
    const qint64 drop = m_position - kKeepBehind - m_start;
    if (drop >= kReadBytes * 4 && drop <= qint64(m_data.size())) {
        m_data.erase(m_data.begin(), m_data.begin() + drop);
        m_start += drop;
    }
}

qint64 ReadAheadBuffer::read(char *data, qint64 max)
{
    std::unique_lock lock(m_mutex);
    while (true) {
        if (m_abort || m_stopping)
            return -1;
        const qint64 end = m_start + qint64(m_data.size());
        if (m_position >= m_start && m_position < end) {
            const qint64 n = std::min(max, end - m_position);
            std::copy_n(m_data.begin() + (m_position - m_start), n, data);
            m_position += n;
            trim();
            // The reader sleeps until the read-ahead is down to its mark.
            const bool low = end - m_position < readOnBelow();
            lock.unlock();
            if (low)
                m_changed.notify_all();
            return n;
        }
        if (m_ended)
            return 0;
        m_changed.wait_for(lock, kAbortPoll);
    }
}

bool ReadAheadBuffer::seek(qint64 offset)
{
    {
        std::lock_guard lock(m_mutex);
        if (offset < 0 || (m_size >= 0 && offset > m_size))
            return false;
        const qint64 end = m_start + qint64(m_data.size());
        const bool near =
            offset >= m_start && (offset <= end || (!m_ended && offset - end <= kReadOnBytes));
        if (!near) {
            // Elsewhere: the source starts again there.
            m_data.clear();
            m_start = offset;
            m_ended = false;
            ++m_generation;
        }
        m_position = offset;
    }
    // Reading on to the byte, or from it anew, either way the reader works.
    m_changed.notify_all();
    return true;
}

void ReadAheadBuffer::setCapacity(qint64 bytes)
{
    {
        std::lock_guard lock(m_mutex);
        m_capacity = std::clamp(bytes, ReadAheadLimits::kRefillBytes, kCapacity);
    }
    m_changed.notify_all(); // a larger one is read on to at once
}

qint64 ReadAheadBuffer::tell() const
{
    std::lock_guard lock(m_mutex);
    return m_position;
}

qint64 ReadAheadBuffer::size() const
{
    std::lock_guard lock(m_mutex);
    return m_size;
}

qint64 ReadAheadBuffer::ahead() const
{
    std::lock_guard lock(m_mutex);
    return std::max<qint64>(0, m_start + qint64(m_data.size()) - m_position);
}

bool ReadAheadBuffer::ended() const
{
    std::lock_guard lock(m_mutex);
    return m_ended;
}

qint64 ReadAheadBuffer::peakHeld() const
{
    std::lock_guard lock(m_mutex);
    return m_peakHeld;
}
