// What MediaPlayer needs from whatever decodes and plays the sound. The
// player keeps the state contract (play states, status texts, stall timing,
// telling a cut stream from a finished one); an engine only opens a link,
// plays, pauses, seeks and says what happened.
//
// Two engines exist: one on libmpv, and a lighter one that decodes the
// common formats with our own WAV parser, libmpg123 and libsndfile (FFmpeg's
// libraries only for the rest) and plays through PulseAudio (or a null
// output paced in real time). No decoding library is linked: each is opened
// when first needed, so an idle player maps none.
//
// Every Listener call is made on the UI thread, never from inside one of
// the engine's own methods, and may destroy the engine (a slot deleting the
// player); an engine checks that it is still alive after each call.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class PlaybackEngine : public QObject
{
public:
    class Listener
    {
    public:
        // The link was opened and its audio can be played; duration is 0
        // when the stream does not tell.
        virtual void engineLoaded(double duration) = 0;
        virtual void engineDurationChanged(double seconds) = 0;
        // The read-ahead ran dry before the end (true) or refilled (false).
        virtual void engineBufferingChanged(bool buffering) = 0;
        // The position asked for with seek() is now the position played.
        virtual void engineSeekDone() = 0;
        // The stream ended. Whether it was played to its end or cut short is
        // for the player to judge from the position reached.
        virtual void engineEnded() = 0;
        // The link could not be opened or decoded; reason is a short text.
        virtual void engineFailed(const QString &reason) = 0;

    protected:
        ~Listener() = default;
    };

    // The lighter engine, unless VELMOR_PLAYBACK_ENGINE=mpv asks for libmpv
    // or the audio output is one the lighter engine cannot play to (then
    // libmpv too). Null when no engine can start; a later call tries again.
    static PlaybackEngine *create(Listener &listener, int volume, QObject *parent);

    explicit PlaybackEngine(Listener &listener, QObject *parent = nullptr)
        : QObject(parent), m_listener(listener)
    {
    }

    // Replaces whatever plays with `target` (a percent-encoded network link
    // or a local path), unpaused. False when it cannot even be started.
    virtual bool load(const QByteArray &target) = 0;
    // Stops the current link; none of its events arrive afterwards.
    virtual void stop() = 0;
    virtual void setPaused(bool paused) = 0;
    // Seconds from the start, already clamped by the caller.
    virtual bool seek(double seconds) = 0;
    // 0..100.
    virtual void setVolume(int volume) = 0;
    // The position being heard, in seconds; false when there is none.
    virtual bool position(double &seconds) const = 0;
    // A short name for logs and tests: "mpv" or "ffmpeg".
    virtual const char *name() const = 0;
    // What decodes the link playing, once it is loaded ("wav", "mpg123",
    // "sndfile", "ffmpeg"); empty when the engine does not tell.
    virtual QString decoderName() const { return {}; }

protected:
    Listener &m_listener;
};
