// Everything here runs on the UI thread except onMpvWakeup, which mpv calls
// from its own threads and which only queues drainEvents onto the UI thread.
#include "playback/engines/MpvEngine.h"

#include "playback/decoders/PlayableFormat.h"
#include "playback/libraries/MpvLibrary.h"
#include <QPointer>
#include <cmath>

#include <mpv/client.h>

namespace {

// Give up on a link that does not answer, rather than mpv's minute.
constexpr const char *kNetworkTimeoutSeconds = "10";
// Read-ahead for one audio track; mpv's defaults are sized for video. A
// smaller read-ahead (512 KiB, no back buffer) saves about 1 MiB while
// playing but costs a third more CPU on the service's streams (many small
// reads, and a single-repeat track fetched again on each loop).
constexpr const char *kDemuxerMaxBytes = "16MiB";
constexpr const char *kDemuxerMaxBackBytes = "4MiB";

QString reasonForMpvError(int error)
{
    switch (error) {
    case MPV_ERROR_LOADING_FAILED:
        return QStringLiteral("无法打开链接");
    case MPV_ERROR_AO_INIT_FAILED:
        return QStringLiteral("音频设备无法打开");
    case MPV_ERROR_UNKNOWN_FORMAT:
    case MPV_ERROR_UNSUPPORTED:
        return QStringLiteral("不支持的文件格式");
    case MPV_ERROR_NOTHING_TO_PLAY:
        return QStringLiteral("没有可播放的音频");
    default:
        return QStringLiteral("播放出错");
    }
}

} // namespace

MpvEngine::MpvEngine(Listener &listener, QObject *parent) : PlaybackEngine(listener, parent) {}

MpvEngine *MpvEngine::create(Listener &listener, int volume, QObject *parent)
{
    auto *engine = new MpvEngine(listener, parent);
    if (engine->start(volume))
        return engine;
    delete engine;
    return nullptr;
}

bool MpvEngine::start(int volume)
{
    m_api = MpvLibrary::instance();
    if (!m_api)
        return false;
    // mpv_create refuses (returns null) unless LC_NUMERIC is "C".
    m_mpv = m_api->create();
    if (!m_mpv)
        return false;
    const auto option = [this](const char *name, const char *value) {
        m_api->set_option_string(m_mpv, name, value);
    };
    option("config", "no");
    option("terminal", "no");
    option("input-default-bindings", "no");
    option("input-vo-keyboard", "no");
    option("ytdl", "no");
    option("load-scripts", "no");
    option("load-stats-overlay", "no");
    option("load-osd-console", "no");
    option("load-auto-profiles", "no");
    option("idle", "yes");
    // Audio only: no video track, no window, no cover art or side files.
    option("vid", "no");
    option("vo", "null");
    option("audio-display", "no");
    option("audio-file-auto", "no");
    option("sub-auto", "no");
    option("cover-art-auto", "no");
    option("network-timeout", kNetworkTimeoutSeconds);
    option("demuxer-max-bytes", kDemuxerMaxBytes);
    option("demuxer-max-back-bytes", kDemuxerMaxBackBytes);
    option("audio-client-name", "velmor");
    // A machine without a working sound device still "plays" (silently) and
    // reaches the end of the track, instead of failing every link.
    option("audio-fallback-to-null", "yes");
    const QByteArray ao = qgetenv("VELMOR_AUDIO_OUTPUT");
    if (!ao.isEmpty())
        option("ao", ao.constData());
    const QByteArray volumeText = QByteArray::number(volume);
    option("volume", volumeText.constData());

    if (m_api->initialize(m_mpv) < 0) {
        m_api->terminate_destroy(m_mpv);
        m_mpv = nullptr;
        return false;
    }
    // Both change rarely; time-pos is read on demand instead, since
    // observing it would wake the UI thread many times a second.
    m_api->observe_property(m_mpv, 0, "paused-for-cache", MPV_FORMAT_FLAG);
    m_api->observe_property(m_mpv, 0, "duration", MPV_FORMAT_DOUBLE);
    // A rate or channel count no output plays is refused before decoding
    // starts (mpv would size its buffers by it: gigabytes for a rate in
    // the billions), and again should the decoded sound change to one.
    m_api->hook_add(m_mpv, 0, "on_preloaded", 0);
    m_api->observe_property(m_mpv, 0, "audio-params/samplerate", MPV_FORMAT_INT64);
    m_api->observe_property(m_mpv, 0, "audio-params/channel-count", MPV_FORMAT_INT64);
    m_api->set_wakeup_callback(m_mpv, &MpvEngine::onMpvWakeup, this);
    return true;
}

MpvEngine::~MpvEngine()
{
    if (!m_mpv)
        return;
    // Once this returns no wakeup callback is running or will run, so no
    // drain can be queued onto an object that is going away.
    m_api->set_wakeup_callback(m_mpv, nullptr, nullptr);
    m_api->terminate_destroy(m_mpv);
}

void MpvEngine::onMpvWakeup(void *context)
{
    // Called on one of mpv's threads: only hand the work to the UI thread,
    // and only once until the queued drain has started.
    auto *self = static_cast<MpvEngine *>(context);
    if (self->m_drainQueued.exchange(true))
        return;
    QMetaObject::invokeMethod(
        self, [self] { self->drainEvents(); }, Qt::QueuedConnection);
}

bool MpvEngine::load(const QByteArray &target)
{
    m_loaded = false;
    m_entryId = -1;
    setPaused(false);
    const char *load[] = {"loadfile", target.constData(), "replace", nullptr};
    mpv_node result;
    if (m_api->command_ret(m_mpv, load, &result) < 0)
        return false;
    if (result.format == MPV_FORMAT_NODE_MAP) {
        const mpv_node_list *map = result.u.list;
        for (int i = 0; i < map->num; ++i) {
            if (qstrcmp(map->keys[i], "playlist_entry_id") == 0 &&
                map->values[i].format == MPV_FORMAT_INT64)
                m_entryId = map->values[i].u.int64;
        }
    }
    m_api->free_node_contents(&result);
    return true;
}

void MpvEngine::stop()
{
    const char *stop[] = {"stop", nullptr};
    m_api->command(m_mpv, stop);
    m_loaded = false;
    m_entryId = -1;
}

void MpvEngine::setPaused(bool paused)
{
    int flag = paused ? 1 : 0;
    m_api->set_property(m_mpv, "pause", MPV_FORMAT_FLAG, &flag);
}

bool MpvEngine::seek(double seconds)
{
    const QByteArray target = QByteArray::number(seconds, 'f', 3);
    const char *seek[] = {"seek", target.constData(), "absolute", nullptr};
    return m_api->command(m_mpv, seek) >= 0;
}

void MpvEngine::setVolume(int volume)
{
    double value = volume;
    m_api->set_property(m_mpv, "volume", MPV_FORMAT_DOUBLE, &value);
}

bool MpvEngine::position(double &seconds) const
{
    double position = 0.0;
    if (m_api->get_property(m_mpv, "time-pos", MPV_FORMAT_DOUBLE, &position) < 0 ||
        !std::isfinite(position))
        return false;
    seconds = position;
    return true;
}

void MpvEngine::drainEvents()
{
    m_drainQueued = false;
    // A slot of playStateChanged may pump events (the link request waits that
    // way); the drain it interrupted picks up whatever arrives meanwhile.
    if (m_draining)
        return;
    m_draining = true;
    while (true) {
        const mpv_event *event = m_api->wait_event(m_mpv, 0);
        if (event->event_id == MPV_EVENT_NONE)
            break;
        if (!handleEvent(*event))
            return;
    }
    m_draining = false;
}

QString MpvEngine::audioRefusal(const char *rateProperty, const char *channelsProperty) const
{
    int64_t rate = 0;
    int64_t channels = 0;
    if (m_api->get_property(m_mpv, rateProperty, MPV_FORMAT_INT64, &rate) < 0 ||
        m_api->get_property(m_mpv, channelsProperty, MPV_FORMAT_INT64, &channels) < 0)
        return {}; // not known (yet): nothing to refuse
    return PlayableFormat::refusal(rate, channels);
}

void MpvEngine::refuse(const QString &reason, uint64_t hookId)
{
    const char *stop[] = {"stop", nullptr};
    m_api->command(m_mpv, stop);
    if (hookId != 0)
        m_api->hook_continue(m_mpv, hookId);
    m_loaded = false;
    m_entryId = -1;
    m_listener.engineFailed(reason);
}

bool MpvEngine::handleEvent(const mpv_event &event)
{
    QPointer<MpvEngine> alive(this);
    switch (event.event_id) {
    case MPV_EVENT_HOOK: {
        // The link is open and nothing decoded yet: its audio tracks say
        // what they hold.
        QString refusal;
        int64_t tracks = 0;
        if (m_startedEntryId == m_entryId && m_entryId >= 0)
            m_api->get_property(m_mpv, "track-list/count", MPV_FORMAT_INT64, &tracks);
        for (int64_t i = 0; i < tracks && refusal.isEmpty(); ++i) {
            const QByteArray track = "track-list/" + QByteArray::number(i) + '/';
            refusal = audioRefusal((track + "demux-samplerate").constData(),
                                   (track + "demux-channel-count").constData());
        }
        const uint64_t hookId = static_cast<mpv_event_hook *>(event.data)->id;
        if (refusal.isEmpty())
            m_api->hook_continue(m_mpv, hookId);
        else
            refuse(refusal, hookId);
        break;
    }
    case MPV_EVENT_START_FILE:
        m_startedEntryId = static_cast<mpv_event_start_file *>(event.data)->playlist_entry_id;
        break;
    case MPV_EVENT_FILE_LOADED:
        // Also sent for a link that was replaced before it finished loading.
        if (m_startedEntryId == m_entryId && m_entryId >= 0 && !m_loaded) {
            m_loaded = true;
            double duration = 0.0;
            if (m_api->get_property(m_mpv, "duration", MPV_FORMAT_DOUBLE, &duration) < 0 ||
                !(duration > 0))
                duration = 0.0;
            m_listener.engineLoaded(duration);
        }
        break;
    case MPV_EVENT_PLAYBACK_RESTART:
        if (m_loaded)
            m_listener.engineSeekDone();
        break;
    case MPV_EVENT_END_FILE:
        return handleEndFile(event);
    case MPV_EVENT_PROPERTY_CHANGE: {
        const auto *property = static_cast<mpv_event_property *>(event.data);
        if (m_entryId >= 0 && property->format == MPV_FORMAT_INT64 &&
            qstrncmp(property->name, "audio-params/", 13) == 0) {
            const QString refusal =
                audioRefusal("audio-params/samplerate", "audio-params/channel-count");
            if (!refusal.isEmpty())
                refuse(refusal);
            break;
        }
        if (!m_loaded)
            break;
        if (qstrcmp(property->name, "duration") == 0 && property->format == MPV_FORMAT_DOUBLE)
            m_listener.engineDurationChanged(*static_cast<double *>(property->data));
        else if (qstrcmp(property->name, "paused-for-cache") == 0 &&
                 property->format == MPV_FORMAT_FLAG)
            m_listener.engineBufferingChanged(*static_cast<int *>(property->data) != 0);
        break;
    }
    default:
        break;
    }
    return !alive.isNull();
}

bool MpvEngine::handleEndFile(const mpv_event &event)
{
    const auto *end = static_cast<mpv_event_end_file *>(event.data);
    if (end->playlist_entry_id != m_entryId || m_entryId < 0)
        return true; // a link we replaced or stopped ourselves
    QPointer<MpvEngine> alive(this);
    switch (end->reason) {
    case MPV_END_FILE_REASON_EOF:
        // A stream that stalled and timed out, or was cut, also ends as
        // "end of file"; the player tells these apart from a finished track.
        m_loaded = false;
        m_entryId = -1;
        m_listener.engineEnded();
        break;
    case MPV_END_FILE_REASON_ERROR:
        m_loaded = false;
        m_entryId = -1;
        m_listener.engineFailed(reasonForMpvError(end->error));
        break;
    case MPV_END_FILE_REASON_REDIRECT:
        // The link was a playlist; its first entry stands for the link.
        if (end->playlist_insert_num_entries > 0)
            m_entryId = end->playlist_insert_id;
        break;
    default:
        break; // stop / quit: the state was set by whoever asked for it
    }
    return !alive.isNull();
}
