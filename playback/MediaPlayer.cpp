// The embedded player's state contract, kept the same whichever engine
// plays. Everything here runs on the UI thread.
#include "playback/MediaPlayer.h"

#include <QFile>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <cmath>

namespace {

// How long a position read from the engine is reused: the window's clock asks on
// every 1 ms tick, the display only needs tenths of a second.
constexpr qint64 kPositionRefreshMs = 50;
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

// Links come from scraped service pages. Only plain network streams and
// local files go to an engine: their other protocols (lavfi://, edl://,
// memory://, concat:...) could make them read or generate things a song link
// never should.
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

// What the engine is handed: network links percent-encoded the way a browser would
// send them (spaces, Chinese file names), local paths as they are.
QByteArray linkForEngine(const QString &link)
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
    // The engine joins its threads, and drops any event still queued for it.
    delete m_engine;
}

QString MediaPlayer::engineName() const
{
    return m_engine ? QString::fromLatin1(m_engine->name()) : QString();
}

QString MediaPlayer::decoderName() const
{
    return m_engine ? m_engine->decoderName() : QString();
}

bool MediaPlayer::ensureEngine()
{
    if (!m_engine)
        m_engine = PlaybackEngine::create(*this, m_volume, this);
    return m_engine != nullptr;
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
    m_positionCache = 0.0;
    m_positionAge.invalidate();
    m_furthest = 0.0;

    const QString link = m_url.trimmed();
    QString failure;
    if (link.isEmpty())
        failure = QStringLiteral("链接为空");
    else if (!isPlayableLink(link))
        failure = QStringLiteral("不支持的链接");
    else if (!ensureEngine())
        failure = QStringLiteral("播放组件无法启动");
    if (!failure.isEmpty()) {
        // A bad link replaces the old track like a good one: it must not
        // keep playing behind a "cannot play" status.
        if (m_engine)
            m_engine->stop();
        changeState(kStateStopped, cannotPlay(failure));
        return;
    }

    if (!m_engine->load(linkForEngine(link))) {
        changeState(kStateStopped, cannotPlay(QStringLiteral("无法打开链接")));
        return;
    }
    changeState(kStateTransitioning, kStatusConnecting);
}

void MediaPlayer::engineLoaded(double duration)
{
    if (m_loaded)
        return;
    m_loaded = true;
    if (duration > 0)
        m_duration = duration;
    if (m_pauseRequested)
        changeState(kStatePaused, kStatusPaused);
    else
        changeState(kStatePlaying, kStatusPlaying);
}

void MediaPlayer::engineDurationChanged(double seconds)
{
    if (m_loaded && std::isfinite(seconds) && seconds >= 0)
        m_duration = seconds;
}

void MediaPlayer::engineBufferingChanged(bool buffering)
{
    if (!m_loaded)
        return;
    m_pausedForCache = buffering;
    if (m_pausedForCache && m_state == kStatePlaying)
        changeState(kStateBuffering, kStatusBuffering);
    else if (!m_pausedForCache && m_state == kStateBuffering)
        changeState(kStatePlaying, kStatusPlaying);
}

void MediaPlayer::engineSeekDone()
{
    m_seeking = false;
    m_positionAge.invalidate();
}

void MediaPlayer::engineEnded()
{
    // A stream that stalled and timed out, or was cut, also ends. A track
    // that never loaded, or stopped well short of its length, did not play:
    // that is a failure, and the window must not go on to the next track (a
    // list of one would ask for the same broken link again and again).
    if (!m_loaded || (m_duration > 0 && m_furthest + kEndSlackSeconds < m_duration)) {
        failPlay(m_loaded ? kCutReason : kStalledReason);
        return;
    }
    m_loaded = false;
    m_seeking = false;
    const quint64 generation = m_loadGeneration;
    if (!changeState(kStateMediaEnded, kStatusEnded))
        return;
    // The window's slot starts the next track from inside the signal; only
    // when it did not (and did not stop us) does the player stop.
    if (generation == m_loadGeneration && m_state == kStateMediaEnded) {
        // A link that was a playlist would otherwise go on to its next
        // entry behind a "stopped" state.
        m_engine->stop();
        changeState(kStateStopped, kStatusEnded);
    }
}

void MediaPlayer::engineFailed(const QString &reason)
{
    failPlay(reason);
}

void MediaPlayer::failPlay(const QString &reason)
{
    if (m_engine)
        m_engine->stop();
    m_loaded = false;
    m_seeking = false;
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

double MediaPlayer::readPosition() const
{
    if (!m_loaded || !m_engine)
        return 0.0;
    if (m_seeking)
        return m_seekTarget;
    if (m_positionAge.isValid() && m_positionAge.elapsed() < kPositionRefreshMs)
        return m_positionCache;
    double position = 0.0;
    if (m_engine->position(position)) {
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
        p.m_engine->setPaused(false);
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
            p.m_engine->setPaused(false);
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
    p.m_engine->setPaused(true);
    p.m_positionAge.invalidate();
    p.changeState(kStatePaused, kStatusPaused);
}

void MediaPlayer::Controls::stop()
{
    MediaPlayer &p = m_player;
    if (p.m_state == kStateUndefined || p.m_state == kStateStopped)
        return;
    if (p.m_engine)
        p.m_engine->stop();
    p.m_loaded = false;
    p.m_seeking = false;
    p.changeState(kStateStopped, kStatusStopped);
}

double MediaPlayer::Controls::currentPosition() const
{
    return m_player.readPosition();
}

void MediaPlayer::Controls::setCurrentPosition(double seconds)
{
    MediaPlayer &p = m_player;
    if (!p.m_loaded || !p.m_engine)
        return;
    if (!std::isfinite(seconds) || seconds < 0)
        seconds = 0;
    if (p.m_duration > 0 && seconds > p.m_duration)
        seconds = p.m_duration;
    if (!p.m_engine->seek(seconds))
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
    // a real change reaches the engine.
    volume = qBound(0, volume, 100);
    MediaPlayer &p = m_player;
    if (volume == p.m_volume)
        return;
    p.m_volume = volume;
    if (p.m_engine)
        p.m_engine->setVolume(volume);
}

double MediaPlayer::Media::duration() const
{
    return m_player.m_duration;
}

QString MediaPlayer::Media::durationString() const
{
    return formatClock(m_player.m_duration);
}
