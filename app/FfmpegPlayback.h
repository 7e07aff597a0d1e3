// One link played by the lighter engine: a reader thread opens it with
// libavformat and keeps a read-ahead of compressed packets (bounded in
// bytes); an output thread decodes them with libavcodec, converts them with
// libswresample to 16-bit samples, applies the volume and writes them to an
// AudioSink, which paces it. Destroying the object aborts any blocking read
// and joins both threads.
//
// What happens is told through `notify`, called from either thread; the
// engine turns each call into a queued call on the UI thread.
#pragma once

#include <QByteArray>
#include <QString>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class AudioSink;
class FfmpegLibrary;

class FfmpegPlayback
{
public:
    enum class EventType { Loaded, BufferingStarted, BufferingEnded, SeekDone, Ended, Failed };
    struct Event
    {
        EventType type;
        double duration = 0.0; // Loaded: seconds, 0 when unknown
        QString reason;        // Failed
    };
    using Notify = std::function<void(const Event &)>;

    // Read-ahead of compressed audio: at most as many bytes as the libmpv
    // engine keeps, and no more than a minute. A whole song held in memory
    // buys nothing a minute does not (a network hiccup is over in seconds)
    // and costs megabytes of a lossless or high-rate file.
    static constexpr qint64 kReadAheadBytes = 16 * 1024 * 1024;
    static constexpr double kReadAheadSeconds = 60.0;

    FfmpegPlayback(const FfmpegLibrary &api, std::unique_ptr<AudioSink> sink,
                   const QByteArray &target, int volume, Notify notify);
    ~FfmpegPlayback();
    FfmpegPlayback(const FfmpegPlayback &) = delete;
    FfmpegPlayback &operator=(const FfmpegPlayback &) = delete;

    void setPaused(bool paused);
    void seek(double seconds);
    void setVolume(int volume);
    bool position(double &seconds) const;

private:
    struct Shared;
    static void readLoop(Shared &s);
    static void outputLoop(Shared &s);

    std::unique_ptr<Shared> m_shared;
    std::thread m_reader;
    std::thread m_output;
};
