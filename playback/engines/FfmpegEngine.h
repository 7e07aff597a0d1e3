// The lighter engine: our own readers with our WAV parser, libmpg123 and
// libsndfile decode the common formats, FFmpeg's libraries what is left;
// PulseAudio (or a null output paced in real time) plays. Each link gets a
// TrackPlayback of its own; its events come back as queued calls on the UI thread, tagged with
// the link they belong to, so those of a replaced or stopped link are dropped.
#pragma once

#include "playback/engines/PlaybackEngine.h"

#include <future>
#include <memory>
#include <vector>

class PulseLibrary;
class TrackPlayback;

class FfmpegEngine : public PlaybackEngine
{
public:
    // Null when the output asked for is one this engine does not drive or
    // cannot reach (no sound server).
    static FfmpegEngine *create(Listener &listener, int volume, QObject *parent);
    ~FfmpegEngine() override;

    bool load(const QByteArray &target) override;
    void stop() override;
    void setPaused(bool paused) override;
    bool seek(double seconds) override;
    void setVolume(int volume) override;
    bool position(double &seconds) const override;
    const char *name() const override { return "ffmpeg"; }
    QString decoderName() const override { return m_decoderName; }

private:
    FfmpegEngine(Listener &listener, const PulseLibrary *pulse, int volume, QObject *parent);

    const PulseLibrary *const m_pulse; // null: the null output
    QString m_decoderName;
    int m_volume;
    std::unique_ptr<TrackPlayback> m_playback;
    // Playbacks being stopped off the UI thread; all are waited for when the
    // engine goes.
    std::vector<std::future<void>> m_retired;
    // Which link's events are wanted; bumped by every load and stop.
    quint64 m_playbackId = 0;
};
