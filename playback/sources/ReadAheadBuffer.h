// The light path's read-ahead: a thread of its own reads a ByteSource into
// memory (at most its capacity ahead of the decoder, topped up once down to
// ReadAheadLimits::kReadOnBelow of it, so the reader sleeps for stretches of
// seconds), and the decoder reads
// from memory. A little of what was read stays behind for the short
// backward seeks decoders make; a seek elsewhere starts the source again
// there, or waits for the reader when the byte is about to come.
#pragma once

#include "playback/sources/ByteReader.h"
#include "playback/sources/ReadAheadLimits.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class ByteSource;

class ReadAheadBuffer : public ByteReader
{
public:
    // As much as the FFmpeg path holds of compressed sound.
    static constexpr qint64 kCapacity = ReadAheadLimits::kReadAheadBytes;
    // Until the decoder knows the stream's byte rate: enough to recognise
    // the stream and open it, not the first megabytes of a fast server.
    static constexpr qint64 kOpeningCapacity = 512 * 1024;
    static constexpr qint64 kKeepBehind = 64 * 1024;

    // `source` is already open at offset 0. `wake` is called (from the
    // reader thread) whenever bytes came or the input ended.
    ReadAheadBuffer(std::unique_ptr<ByteSource> source, const std::atomic<bool> &abort,
                    std::function<void()> wake, qint64 capacity = kOpeningCapacity);
    ~ReadAheadBuffer() override;
    ReadAheadBuffer(const ReadAheadBuffer &) = delete;
    ReadAheadBuffer &operator=(const ReadAheadBuffer &) = delete;

    qint64 read(char *data, qint64 max) override;
    bool seek(qint64 offset) override;
    qint64 tell() const override;
    qint64 size() const override;
    qint64 available() const override { return ahead(); }

    // Holds up to `bytes` ahead from now on (once the decoder knows how
    // many bytes a second of the stream takes), within kCapacity and never
    // less than a refill needs.
    void setCapacity(qint64 bytes);

    // Bytes read ahead of the decoder's position.
    qint64 ahead() const;
    // The source has nothing more to give: what is read ahead is all
    // there is from the decoder's position on.
    bool ended() const;
    // Most bytes ever held at once (read-ahead and what stays behind).
    qint64 peakHeld() const;

private:
    void readLoop();
    void trim();
    // Reading on starts when fewer bytes than this are ahead (m_mutex held).
    qint64 readOnBelow() const;

    const std::unique_ptr<ByteSource> m_source;
    const std::atomic<bool> &m_abort;
    const std::function<void()> m_wake;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<char> m_data; // bytes from m_start on
    qint64 m_start = 0;
    qint64 m_position = 0; // of the decoder
    qint64 m_size = -1;
    bool m_ended = false;
    // Bumped by every seek that starts the source again elsewhere; bytes
    // read for an older one are dropped.
    int m_generation = 0;
    int m_sourceGeneration = 0;
    bool m_stopping = false;
    qint64 m_peakHeld = 0;
    qint64 m_capacity;
    std::thread m_reader;
};
