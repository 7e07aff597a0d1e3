// One link played by the lighter engine. A thread of its own opens the
// link on the light path when it can (the file or a plain http stream read
// ahead into memory, decoded by our WAV parser, libmpg123 or libsndfile),
// else through FFmpeg, then runs the one output loop both share: it takes
// decoded samples with their time, drops those before a seek's target,
// applies the volume and writes them to an AudioSink, which paces it.
// Destroying the object aborts any blocking read and joins every thread.
//
// What happens is told through `notify`, called from the playback's
// threads; the engine turns each call into a queued call on the UI thread.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <thread>

class AudioSink;

class TrackPlayback
{
public:
    enum class EventType { Loaded, BufferingStarted, BufferingEnded, SeekDone, Ended, Failed };
    struct Event
    {
        EventType type;
        double duration = 0.0; // Loaded: seconds, 0 when unknown
        QString text;          // Failed: the reason; Loaded: the decoder's name
    };
    using Notify = std::function<void(const Event &)>;

    TrackPlayback(std::unique_ptr<AudioSink> sink, const QByteArray &target, int volume,
                  Notify notify);
    ~TrackPlayback();
    TrackPlayback(const TrackPlayback &) = delete;
    TrackPlayback &operator=(const TrackPlayback &) = delete;

    void setPaused(bool paused);
    void seek(double seconds);
    void setVolume(int volume);
    bool position(double &seconds) const;

private:
    struct Shared;
    static void run(Shared &s);

    std::unique_ptr<Shared> m_shared;
    std::thread m_thread;
};
