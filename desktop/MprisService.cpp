#include "desktop/MprisService.h"

#include "controls/listbox/PlaylistView.h"
#include "desktop/MprisPlayerAdaptor.h"
#include "desktop/MprisRootAdaptor.h"
#include "playback/MediaPlayer.h"
#include "player/PlaybackState.h"
#include "window/MainWindow.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QSlider>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>

const QString MprisService::kServiceName = QStringLiteral("org.mpris.MediaPlayer2.velmor");
const QString MprisService::kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString MprisService::kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

namespace {

const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kTrackIdKey = QStringLiteral("mpris:trackid");

// Metadata as it goes on the bus: the trackid is an object path.
QVariantMap onTheBus(QVariantMap metadata)
{
    if (const auto id = metadata.find(kTrackIdKey); id != metadata.end())
        *id = QVariant::fromValue(QDBusObjectPath(id->toString()));
    return metadata;
}

bool loaded(MediaPlayer *player)
{
    return !player->status().isEmpty();
}

} // namespace

MprisService *MprisService::startOnSessionBus(MainWindow *window)
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    QString error;
    if (!bus.isConnected()) {
        error = bus.lastError().message();
        if (error.isEmpty())
            error = QStringLiteral("no session bus");
    } else {
        auto *service = new MprisService(window);
        if (service->publish(bus, &error))
            return service;
        delete service;
    }
    std::fprintf(stderr, "velmor: media keys and the desktop's player controls are off: %s\n",
                 qPrintable(error));
    return nullptr;
}

MprisService::MprisService(MainWindow *window)
    : QObject(window), m_window(window), m_bus(QStringLiteral("unconnected"))
{
    new MprisRootAdaptor(this);
    m_player = new MprisPlayerAdaptor(this);

    m_refresh = new QTimer(this);
    m_refresh->setSingleShot(true);
    m_refresh->setInterval(0);
    connect(m_refresh, &QTimer::timeout, this, &MprisService::refresh);

    const auto changed = [this] { scheduleRefresh(); };
    connect(window->mediaPlayer, &MediaPlayer::playStateChanged, this, changed);
    connect(window, &MainWindow::trackStarted, this, changed);
    connect(window->volumeSlider, &QSlider::valueChanged, this, changed);
    for (QCheckBox *box : {window->singleRepeatBox, window->listLoopBox, window->randomBox})
        connect(box, &QCheckBox::toggled, this, changed);
    connect(window->playlistView, &PlaylistView::itemsChanged, this, changed);
    // The track's length becomes known a little after it starts playing,
    // with no signal of its own; the window's clock runs meanwhile.
    connect(window->clockTimer, &QTimer::timeout, this, changed);
    connect(window, &MainWindow::seeked, this,
            [this](double seconds) { Q_EMIT m_player->Seeked(mpris::toMicroseconds(seconds)); });
    m_last = snapshot();
}

bool MprisService::publish(const QDBusConnection &bus, QString *error)
{
    m_bus = bus;
    if (!m_bus.registerObject(kObjectPath, this, QDBusConnection::ExportAdaptors)) {
        if (error)
            *error = QStringLiteral("cannot register %1: %2")
                         .arg(kObjectPath, m_bus.lastError().message());
        return false;
    }
    if (m_bus.registerService(kServiceName))
        return true;
    // Another player of ours has the name: one name per instance.
    const QString instance =
        kServiceName + QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid());
    if (m_bus.registerService(instance))
        return true;
    if (error)
        *error = QStringLiteral("cannot own %1: %2").arg(kServiceName, m_bus.lastError().message());
    m_bus.unregisterObject(kObjectPath);
    return false;
}

void MprisService::later(std::function<void()> handler)
{
    QMetaObject::invokeMethod(m_window, std::move(handler), Qt::QueuedConnection);
}

// ---- properties ---------------------------------------------------------------

QString MprisService::playbackStatus() const
{
    return mpris::playbackStatusFor(m_window->mediaPlayer->playState());
}

QString MprisService::loopStatus() const
{
    return mpris::loopStatusFor(m_window->playMode());
}

void MprisService::setLoopStatus(const QString &value)
{
    if (const auto mode = mpris::modeForLoopStatus(m_window->playMode(), value))
        m_window->setPlayMode(*mode);
}

bool MprisService::shuffle() const
{
    return mpris::shuffleFor(m_window->playMode());
}

void MprisService::setShuffle(bool value)
{
    m_window->setPlayMode(mpris::modeForShuffle(m_window->playMode(), value));
}

double MprisService::volume() const
{
    return m_window->volumeSlider->value() / 100.0;
}

void MprisService::setVolume(double value)
{
    if (std::isfinite(value))
        m_window->setVolumePercent(
            static_cast<int>(std::lround(std::clamp(value, 0.0, 1.0) * 100)));
}

qlonglong MprisService::position() const
{
    MediaPlayer *player = m_window->mediaPlayer;
    return loaded(player) ? mpris::toMicroseconds(player->controls().currentPosition()) : 0;
}

mpris::Track MprisService::currentTrack() const
{
    const MainWindow::NowPlaying &now = m_window->nowPlaying();
    MediaPlayer *player = m_window->mediaPlayer;
    return {now.songId,    now.title, now.singer, now.album, player->currentMedia().duration(),
            now.pictureUrl};
}

QVariantMap MprisService::metadata() const
{
    return onTheBus(mpris::metadataFor(currentTrack()));
}

bool MprisService::canGoNext() const
{
    return m_window->playlistView->listCount() > 0;
}

bool MprisService::canGoPrevious() const
{
    return m_window->playlistView->listCount() > 0;
}

bool MprisService::canPlay() const
{
    return loaded(m_window->mediaPlayer) || m_window->playlistView->listCount() > 0;
}

bool MprisService::canPause() const
{
    return loaded(m_window->mediaPlayer);
}

bool MprisService::canSeek() const
{
    return loaded(m_window->mediaPlayer) && m_window->mediaPlayer->currentMedia().duration() > 0;
}

void MprisService::setPosition(const QString &trackPath, qlonglong microseconds)
{
    // Stale requests (another track by now) and positions outside the
    // track are ignored, as the MPRIS interface prescribes.
    const mpris::Track track = currentTrack();
    if (track.songId.isEmpty() || trackPath != mpris::trackIdPath(track.songId) ||
        microseconds < 0 || microseconds > mpris::toMicroseconds(track.lengthSeconds))
        return;
    later([window = m_window, microseconds] { window->seekTo(mpris::toSeconds(microseconds)); });
}

// ---- change notification --------------------------------------------------------

QVariantMap MprisService::snapshot() const
{
    return {
        {QStringLiteral("PlaybackStatus"), playbackStatus()},
        {QStringLiteral("LoopStatus"), loopStatus()},
        {QStringLiteral("Shuffle"), shuffle()},
        {QStringLiteral("Volume"), volume()},
        {QStringLiteral("Metadata"), mpris::metadataFor(currentTrack())},
        {QStringLiteral("CanGoNext"), canGoNext()},
        {QStringLiteral("CanGoPrevious"), canGoPrevious()},
        {QStringLiteral("CanPlay"), canPlay()},
        {QStringLiteral("CanPause"), canPause()},
        {QStringLiteral("CanSeek"), canSeek()},
    };
}

void MprisService::scheduleRefresh()
{
    if (!m_refresh->isActive())
        m_refresh->start();
}

void MprisService::refresh()
{
    const QVariantMap now = snapshot();
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        if (m_last.value(it.key()) != it.value())
            changed.insert(it.key(), it.key() == QLatin1String("Metadata")
                                         ? QVariant(onTheBus(it.value().toMap()))
                                         : it.value());
    }
    m_last = now;
    if (changed.isEmpty() || !m_bus.isConnected())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(kObjectPath, kPropertiesInterface,
                                                     QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << changed << QStringList();
    m_bus.send(signal);
}
