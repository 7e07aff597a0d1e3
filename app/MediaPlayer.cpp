// libmpv side of the embedded player. Everything here runs on the UI thread
// except onMpvWakeup, which mpv calls from its own threads and which only
// queues drainEvents onto the UI thread.
#include "app/MediaPlayer.h"

#include "app/MpvLibrary.h"
#include <QFile>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <cmath>

#include <mpv/client.h>

namespace {

// How long a position read from mpv is reused: the window's clock asks on
// every 1 ms tick, the display only needs tenths of a second.
constexpr qint64 kPositionRefreshMs = 50;
// Give up on a link that does not answer, rather than mpv's minute.
constexpr const char *kNetworkTimeoutSeconds = "10";
// Read-ahead for one audio track; mpv's defaults are sized for video. A
// smaller read-ahead (512 KiB, no back buffer) saves about 1 MiB while
// playing but costs a third more CPU on the service's streams (many small
// reads, and a single-repeat track fetched again on each loop).
constexpr const char *kDemuxerMaxBytes = "16MiB";
constexpr const char *kDemuxerMaxBackBytes = "4MiB";

// A track is taken as played to its end when the position got this close
// to its length; an end further off is a stream cut short.
constexpr double kEndSlackSeconds = 5.0;
// How often the loaded or loading link is looked at: stalls are counted and
// the position reached is sampled.
constexpr int kWatchIntervalMs = 1000;
int g_stallTimeoutMs = 15000;

const QString kStatusConnecting = QStringLiteral("正在连接…");
const QString kStatusPlaying = QStringLiteral("正在播放");
const QString kStatusBuffering = QStringLiteral("正在缓冲…");
const QString kStatusPaused = QStringLiteral("已暂停");
const QString kStatusStopped = QStringLiteral("已停止");
const QString kStatusEnded = QStringLiteral("播放完毕");

QString cannotPlay(const QString &reason)
{
    return QStringLiteral("无法播放：") + reason;
}

const QString kStalledReason = QStringLiteral("连接超时，没有收到音频数据");
const QString kCutReason = QStringLiteral("音频数据中断");

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

// Links come from scraped service pages. Only plain network streams and
// local files go to mpv: its other protocols (lavfi://, edl://, memory://,
// av://...) could make it read or generate things a song link never should.
bool isPlayableLink(const QString &link)
{
    if (link.startsWith(QLatin1Char('/')))
        return true;
    static const QStringList kSchemes{QStringLiteral("http"), QStringLiteral("https"),
                                      QStringLiteral("mms"),  QStringLiteral("mmsh"),
                                      QStringLiteral("rtsp"), QStringLiteral("file")};
    const QUrl url(link);
    return url.isValid() && kSchemes.contains(url.scheme().toLower());
}

// What mpv is handed: network links percent-encoded the way a browser would
// send them (spaces, Chinese file names), local paths as they are.
QByteArray linkForMpv(const QString &link)
{
    if (link.startsWith(QLatin1Char('/')))
        return QFile::encodeName(link);
    const QUrl url(link, QUrl::TolerantMode);
    if (url.isLocalFile())
        return QFile::encodeName(url.toLocalFile());
    return url.toEncoded();
}

QString formatClock(double seconds)
{
    const qint64 whole = std::isfinite(seconds) && seconds > 0 ? qint64(std::floor(seconds)) : 0;
    return QStringLiteral("%1:%2")
        .arg(whole / 60, 2, 10, QLatin1Char('0'))
        .arg(whole % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

MediaPlayer::MediaPlayer(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::ClickFocus);
    m_repaintTimer = new QTimer(this);
    m_repaintTimer->setInterval(kRepaintIntervalMs);
    connect(m_repaintTimer, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    m_watchTimer = new QTimer(this);
    m_watchTimer->setInterval(kWatchIntervalMs);
    connect(m_watchTimer, &QTimer::timeout, this, &MediaPlayer::watchStream);
    m_clickTimer = new QTimer(this);
    m_clickTimer->setSingleShot(true);
    connect(m_clickTimer, &QTimer::timeout, this, &MediaPlayer::clicked);
}

int MediaPlayer::stallTimeoutMs()
{
    return g_stallTimeoutMs;
}

void MediaPlayer::setStallTimeoutMs(int ms)
{
    g_stallTimeoutMs = ms;
}

MediaPlayer::~MediaPlayer()
{
    destroyMpv();
}

void MediaPlayer::onMpvWakeup(void *context)
{
    // Called on one of mpv's threads: only hand the work to the UI thread,
    // and only once until the queued drain has started.
    auto *self = static_cast<MediaPlayer *>(context);
    if (self->m_drainQueued.exchange(true))
        return;
    QMetaObject::invokeMethod(
        self, [self] { self->drainEvents(); }, Qt::QueuedConnection);
}

bool MediaPlayer::ensureMpv()
{
    if (m_mpv)
        return true;
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
    const QByteArray volume = QByteArray::number(m_volume);
    option("volume", volume.constData());

    if (m_api->initialize(m_mpv) < 0) {
        m_api->terminate_destroy(m_mpv);
        m_mpv = nullptr;
        return false;
    }
    // Both change rarely; time-pos is read on demand instead, since
    // observing it would wake the UI thread many times a second.
    m_api->observe_property(m_mpv, 0, "paused-for-cache", MPV_FORMAT_FLAG);
    m_api->observe_property(m_mpv, 0, "duration", MPV_FORMAT_DOUBLE);
    m_api->set_wakeup_callback(m_mpv, &MediaPlayer::onMpvWakeup, this);
    return true;
}

void MediaPlayer::destroyMpv()
{
    if (!m_mpv)
        return;
    // Once this returns no wakeup callback is running or will run, so no
    // drain can be queued onto an object that is going away.
    m_api->set_wakeup_callback(m_mpv, nullptr, nullptr);
    m_api->terminate_destroy(m_mpv);
    m_mpv = nullptr;
}

void MediaPlayer::setUrl(const QString &link)
{
    m_url = link;
    m_duration = 0.0;
    loadCurrentUrl();
}

QString MediaPlayer::url() const
{
    return m_url;
}

void MediaPlayer::loadCurrentUrl()
{
    ++m_loadGeneration;
    m_loaded = false;
    m_seeking = false;
    m_pausedForCache = false;
    m_pauseRequested = false;
    m_entryId = -1;
    m_positionCache = 0.0;
    m_positionAge.invalidate();
    m_furthest = 0.0;

    const QString link = m_url.trimmed();
    QString failure;
    if (link.isEmpty())
        failure = QStringLiteral("链接为空");
    else if (!isPlayableLink(link))
        failure = QStringLiteral("不支持的链接");
    else if (!ensureMpv())
        failure = QStringLiteral("播放组件无法启动");
    if (!failure.isEmpty()) {
        // A bad link replaces the old track like a good one: it must not
        // keep playing behind a "cannot play" status.
        if (m_mpv) {
            const char *stop[] = {"stop", nullptr};
            m_api->command(m_mpv, stop);
        }
        changeState(kStateStopped, cannotPlay(failure));
        return;
    }

    setMpvFlag("pause", false);
    const QByteArray target = linkForMpv(link);
    const char *load[] = {"loadfile", target.constData(), "replace", nullptr};
    mpv_node result;
    if (m_api->command_ret(m_mpv, load, &result) < 0) {
        changeState(kStateStopped, cannotPlay(QStringLiteral("无法打开链接")));
        return;
    }
    if (result.format == MPV_FORMAT_NODE_MAP) {
        const mpv_node_list *map = result.u.list;
        for (int i = 0; i < map->num; ++i) {
            if (qstrcmp(map->keys[i], "playlist_entry_id") == 0 &&
                map->values[i].format == MPV_FORMAT_INT64)
                m_entryId = map->values[i].u.int64;
        }
    }
    m_api->free_node_contents(&result);
    changeState(kStateTransitioning, kStatusConnecting);
}

void MediaPlayer::drainEvents()
{
    m_drainQueued = false;
    // A slot of playStateChanged may pump events (the link request waits that
    // way); the drain it interrupted picks up whatever arrives meanwhile.
    if (m_draining)
        return;
    m_draining = true;
    QPointer<MediaPlayer> alive(this);
    while (m_mpv) {
        const mpv_event *event = m_api->wait_event(m_mpv, 0);
        if (event->event_id == MPV_EVENT_NONE)
            break;
        handleEvent(*event);
        if (!alive)
            return;
    }
    m_draining = false;
}

void MediaPlayer::handleEvent(const mpv_event &event)
{
    switch (event.event_id) {
    case MPV_EVENT_START_FILE:
        m_startedEntryId = static_cast<mpv_event_start_file *>(event.data)->playlist_entry_id;
        break;
    case MPV_EVENT_FILE_LOADED:
        // Also sent for a link that was replaced before it finished loading.
        if (m_startedEntryId == m_entryId && !m_loaded)
            onLoaded();
        break;
    case MPV_EVENT_PLAYBACK_RESTART:
        m_seeking = false;
        m_positionAge.invalidate();
        break;
    case MPV_EVENT_END_FILE:
        handleEndFile(event);
        break;
    case MPV_EVENT_PROPERTY_CHANGE: {
        const auto *property = static_cast<mpv_event_property *>(event.data);
        if (!m_loaded)
            break;
        if (qstrcmp(property->name, "duration") == 0 && property->format == MPV_FORMAT_DOUBLE) {
            m_duration = *static_cast<double *>(property->data);
        } else if (qstrcmp(property->name, "paused-for-cache") == 0 &&
                   property->format == MPV_FORMAT_FLAG) {
            m_pausedForCache = *static_cast<int *>(property->data) != 0;
            if (m_pausedForCache && m_state == kStatePlaying)
                changeState(kStateBuffering, kStatusBuffering);
            else if (!m_pausedForCache && m_state == kStateBuffering)
                changeState(kStatePlaying, kStatusPlaying);
        }
        break;
    }
    default:
        break;
    }
}

void MediaPlayer::onLoaded()
{
    m_loaded = true;
    double duration = 0.0;
    if (m_api->get_property(m_mpv, "duration", MPV_FORMAT_DOUBLE, &duration) >= 0 && duration > 0)
        m_duration = duration;
    if (m_pauseRequested)
        changeState(kStatePaused, kStatusPaused);
    else
        changeState(kStatePlaying, kStatusPlaying);
}

void MediaPlayer::handleEndFile(const mpv_event &event)
{
    const auto *end = static_cast<mpv_event_end_file *>(event.data);
    if (end->playlist_entry_id != m_entryId)
        return; // a link we replaced or stopped ourselves
    switch (end->reason) {
    case MPV_END_FILE_REASON_EOF: {
        // A stream that stalled and timed out, or was cut, also ends as
        // "end of file". A track that never loaded, or stopped well short
        // of its length, did not play: that is a failure, and the window
        // must not go on to the next track (a list of one would ask for the
        // same broken link again and again).
        if (!m_loaded || (m_duration > 0 && m_furthest + kEndSlackSeconds < m_duration)) {
            failPlay(m_loaded ? kCutReason : kStalledReason);
            return;
        }
        m_loaded = false;
        m_seeking = false;
        m_entryId = -1;
        const quint64 generation = m_loadGeneration;
        if (!changeState(kStateMediaEnded, kStatusEnded))
            return;
        // The window's slot starts the next track from inside the signal;
        // only when it did not (and did not stop us) does the player stop.
        if (generation == m_loadGeneration && m_state == kStateMediaEnded) {
            // A link that was a playlist would otherwise go on to its next
            // entry behind a "stopped" state.
            const char *stop[] = {"stop", nullptr};
            m_api->command(m_mpv, stop);
            changeState(kStateStopped, kStatusEnded);
        }
        break;
    }
    case MPV_END_FILE_REASON_ERROR:
        m_loaded = false;
        m_entryId = -1;
        changeState(kStateStopped, cannotPlay(reasonForMpvError(end->error)));
        break;
    case MPV_END_FILE_REASON_REDIRECT:
        // The link was a playlist; its first entry stands for the link.
        if (end->playlist_insert_num_entries > 0)
            m_entryId = end->playlist_insert_id;
        break;
    default:
        break; // stop / quit: the state was set by whoever asked for it
    }
}

void MediaPlayer::failPlay(const QString &reason)
{
    if (m_mpv) {
        const char *stop[] = {"stop", nullptr};
        m_api->command(m_mpv, stop);
    }
    m_loaded = false;
    m_seeking = false;
    m_entryId = -1;
    changeState(kStateStopped, cannotPlay(reason));
}

void MediaPlayer::watchStream()
{
    if (m_loaded && m_state == kStatePlaying)
        readPosition(); // keeps m_furthest up to date
    if (m_state != kStateTransitioning && m_state != kStateBuffering) {
        m_waitingSince.invalidate();
        return;
    }
    if (!m_waitingSince.isValid())
        m_waitingSince.start();
    else if (m_waitingSince.elapsed() >= g_stallTimeoutMs)
        failPlay(kStalledReason);
}

bool MediaPlayer::changeState(int state, const QString &status)
{
    m_status = status;
    update();
    if (state == m_state)
        return true;
    m_state = state;
    // Waiting (connecting or buffering) is timed from its start; the watch
    // runs while a link is loading or loaded.
    if (state == kStateTransitioning || state == kStateBuffering)
        m_waitingSince.start();
    else
        m_waitingSince.invalidate();
    if (state == kStateTransitioning || state == kStateBuffering || state == kStatePlaying)
        m_watchTimer->start();
    else if (state != kStatePaused)
        m_watchTimer->stop();
    updateRepaintTimer();
    QPointer<MediaPlayer> alive(this);
    Q_EMIT playStateChanged(state);
    return !alive.isNull();
}

void MediaPlayer::setMpvFlag(const char *name, bool on)
{
    if (!m_mpv)
        return;
    int flag = on ? 1 : 0;
    m_api->set_property(m_mpv, name, MPV_FORMAT_FLAG, &flag);
}

double MediaPlayer::readPosition() const
{
    if (!m_loaded || !m_mpv)
        return 0.0;
    if (m_seeking)
        return m_seekTarget;
    if (m_positionAge.isValid() && m_positionAge.elapsed() < kPositionRefreshMs)
        return m_positionCache;
    double position = 0.0;
    if (m_api->get_property(m_mpv, "time-pos", MPV_FORMAT_DOUBLE, &position) >= 0 &&
        std::isfinite(position)) {
        m_positionCache = qMax(0.0, position);
        m_furthest = qMax(m_furthest, m_positionCache);
    }
    m_positionAge.start();
    return m_positionCache;
}

// ---- Controls ----

void MediaPlayer::Controls::play()
{
    MediaPlayer &p = m_player;
    switch (p.m_state) {
    case kStatePaused:
        p.m_pauseRequested = false;
        p.setMpvFlag("pause", false);
        if (!p.m_loaded)
            p.changeState(kStateTransitioning, kStatusConnecting);
        else if (p.m_pausedForCache)
            p.changeState(kStateBuffering, kStatusBuffering);
        else
            p.changeState(kStatePlaying, kStatusPlaying);
        break;
    case kStateTransitioning:
        // Next/previous call play right after setting the link.
        if (p.m_pauseRequested) {
            p.m_pauseRequested = false;
            p.setMpvFlag("pause", false);
        }
        break;
    case kStateStopped:
    case kStateMediaEnded:
        if (!p.m_url.isEmpty())
            p.loadCurrentUrl();
        break;
    default:
        break;
    }
}

void MediaPlayer::Controls::pause()
{
    MediaPlayer &p = m_player;
    if (p.m_state != kStatePlaying && p.m_state != kStateBuffering &&
        p.m_state != kStateTransitioning)
        return;
    p.m_pauseRequested = true;
    p.setMpvFlag("pause", true);
    p.m_positionAge.invalidate();
    p.changeState(kStatePaused, kStatusPaused);
}

void MediaPlayer::Controls::stop()
{
    MediaPlayer &p = m_player;
    if (p.m_state == kStateUndefined || p.m_state == kStateStopped)
        return;
    if (p.m_mpv) {
        const char *stop[] = {"stop", nullptr};
        p.m_api->command(p.m_mpv, stop);
    }
    p.m_loaded = false;
    p.m_seeking = false;
    p.m_entryId = -1;
    p.changeState(kStateStopped, kStatusStopped);
}

double MediaPlayer::Controls::currentPosition() const
{
    return m_player.readPosition();
}

void MediaPlayer::Controls::setCurrentPosition(double seconds)
{
    MediaPlayer &p = m_player;
    if (!p.m_loaded || !p.m_mpv)
        return;
    if (!std::isfinite(seconds) || seconds < 0)
        seconds = 0;
    if (p.m_duration > 0 && seconds > p.m_duration)
        seconds = p.m_duration;
    const QByteArray target = QByteArray::number(seconds, 'f', 3);
    const char *seek[] = {"seek", target.constData(), "absolute", nullptr};
    if (p.m_api->command(p.m_mpv, seek) < 0)
        return;
    p.m_seeking = true;
    p.m_seekTarget = seconds;
    p.m_furthest = qMax(p.m_furthest, seconds);
}

QString MediaPlayer::Controls::currentPositionString() const
{
    return formatClock(m_player.readPosition());
}

// ---- Settings and media ----

int MediaPlayer::Settings::volume() const
{
    return m_player.m_volume;
}

void MediaPlayer::Settings::setVolume(int volume)
{
    // The window's timer hands the slider value over on every tick, so only
    // a real change reaches mpv.
    volume = qBound(0, volume, 100);
    MediaPlayer &p = m_player;
    if (volume == p.m_volume)
        return;
    p.m_volume = volume;
    if (p.m_mpv) {
        double value = volume;
        p.m_api->set_property(p.m_mpv, "volume", MPV_FORMAT_DOUBLE, &value);
    }
}

double MediaPlayer::Media::duration() const
{
    return m_player.m_duration;
}

QString MediaPlayer::Media::durationString() const
{
    return formatClock(m_player.m_duration);
}
