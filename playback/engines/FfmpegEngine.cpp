#include "playback/engines/FfmpegEngine.h"

#include "playback/engines/TrackPlayback.h"
#include "playback/libraries/PulseLibrary.h"
#include "playback/output/NullAudioSink.h"
#include "playback/output/PulseAudioSink.h"

#include <algorithm>
#include <chrono>

FfmpegEngine::FfmpegEngine(Listener &listener, const PulseLibrary *pulse, int volume,
                           QObject *parent)
    : PlaybackEngine(listener, parent), m_pulse(pulse), m_volume(volume)
{
}

FfmpegEngine *FfmpegEngine::create(Listener &listener, int volume, QObject *parent)
{
    const QByteArray output = qgetenv("VELMOR_AUDIO_OUTPUT");
    const bool nullOutput = output == "null";
    if (!nullOutput && !output.isEmpty() && output != "pulse")
        return nullptr;
    if (nullOutput)
        return new FfmpegEngine(listener, nullptr, volume, parent);
    // FFmpeg is not asked for here: it is opened only for a link that
    // needs it.
    const PulseLibrary *pulse = PulseLibrary::instance();
    if (!pulse || !PulseAudioSink::serverReachable(*pulse))
        return nullptr;
    return new FfmpegEngine(listener, pulse, volume, parent);
}

FfmpegEngine::~FfmpegEngine()
{
    // Every playback's threads end while this object can still take their
    // posts (dropped with it).
    stop();
    for (std::future<void> &retired : m_retired)
        retired.wait();
}

bool FfmpegEngine::load(const QByteArray &target)
{
    stop();
    const quint64 id = ++m_playbackId;
    std::unique_ptr<AudioSink> sink;
    if (m_pulse)
        sink = std::make_unique<PulseAudioSink>(*m_pulse);
    else
        sink = std::make_unique<NullAudioSink>();
    m_decoderName.clear();
    // Called on the playback's threads: only queue the event for the UI
    // thread, where a stale one is recognised by its id.
    auto notify = [this, id](const TrackPlayback::Event &event) {
        QMetaObject::invokeMethod(
            this,
            [this, id, event] {
                if (id != m_playbackId)
                    return;
                using Type = TrackPlayback::EventType;
                switch (event.type) {
                case Type::Loaded:
                    m_decoderName = event.text;
                    m_listener.engineLoaded(event.duration);
                    break;
                case Type::BufferingStarted:
                case Type::BufferingEnded:
                    m_listener.engineBufferingChanged(event.type == Type::BufferingStarted);
                    break;
                case Type::SeekDone:
                    m_listener.engineSeekDone();
                    break;
                case Type::Ended:
                    ++m_playbackId; // nothing of this link matters any more
                    m_listener.engineEnded();
                    break;
                case Type::Failed:
                    ++m_playbackId;
                    m_listener.engineFailed(event.text);
                    break;
                }
            },
            Qt::QueuedConnection);
    };
    m_playback =
        std::make_unique<TrackPlayback>(std::move(sink), target, m_volume, std::move(notify));
    return true;
}

void FfmpegEngine::stop()
{
    ++m_playbackId;
    if (!m_playback)
        return;
    // Ending a playback waits for its threads, which may be inside a write
    // to the sound server or a name lookup: not something the window should
    // wait for when the next track is clicked.
    m_retired.push_back(std::async(
        std::launch::async, [playback = std::move(m_playback)]() mutable { playback.reset(); }));
    m_retired.erase(std::remove_if(m_retired.begin(), m_retired.end(),
                                   [](const std::future<void> &retired) {
                                       return retired.wait_for(std::chrono::seconds(0)) ==
                                              std::future_status::ready;
                                   }),
                    m_retired.end());
}

void FfmpegEngine::setPaused(bool paused)
{
    if (m_playback)
        m_playback->setPaused(paused);
}

bool FfmpegEngine::seek(double seconds)
{
    if (!m_playback)
        return false;
    m_playback->seek(seconds);
    return true;
}

void FfmpegEngine::setVolume(int volume)
{
    m_volume = volume;
    if (m_playback)
        m_playback->setVolume(volume);
}

bool FfmpegEngine::position(double &seconds) const
{
    return m_playback && m_playback->position(seconds);
}
