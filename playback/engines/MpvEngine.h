// The libmpv engine: mpv plays the link (audio only) on its own threads;
// its wakeup callback only queues a drain of its events onto the UI thread,
// where they become Listener calls. Kept as the fallback for outputs the
// lighter engine does not drive (ALSA, JACK...) and machines without a
// sound server.
#pragma once

#include "playback/engines/PlaybackEngine.h"

#include <QElapsedTimer>
#include <atomic>
#include <cstdint>

struct mpv_handle;
struct mpv_event;
class MpvLibrary;

class MpvEngine : public PlaybackEngine
{
public:
    // Null when libmpv is missing or refuses to start (it does under a
    // numeric locale other than "C").
    static MpvEngine *create(Listener &listener, int volume, QObject *parent);
    ~MpvEngine() override;

    bool load(const QByteArray &target) override;
    void stop() override;
    void setPaused(bool paused) override;
    bool seek(double seconds) override;
    void setVolume(int volume) override;
    bool position(double &seconds) const override;
    const char *name() const override { return "mpv"; }

private:
    MpvEngine(Listener &listener, QObject *parent);
    bool start(int volume);
    static void onMpvWakeup(void *context);
    void drainEvents();
    // False when a Listener call destroyed the engine.
    bool handleEvent(const mpv_event &event);
    bool handleEndFile(const mpv_event &event);
    // Why the link opened last cannot be played, empty when it can.
    QString audioRefusal(const char *rateProperty, const char *channelsProperty) const;
    // Ends the link with `reason`, first letting mpv go on from the hook
    // `hookId` (0: none); the Listener call may destroy the engine.
    void refuse(const QString &reason, uint64_t hookId = 0);

    const MpvLibrary *m_api = nullptr;
    mpv_handle *m_mpv = nullptr;
    std::atomic<bool> m_drainQueued{false};
    bool m_draining = false;
    // mpv's playlist entry of the link we loaded last, and the entry mpv
    // reported starting last; events of any other entry are stale.
    int64_t m_entryId = -1;
    int64_t m_startedEntryId = -1;
    bool m_loaded = false;
};
