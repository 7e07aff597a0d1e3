#include "desktop/MprisService.h"

#include "desktop/MprisPlayerAdaptor.h"
#include "desktop/MprisRootAdaptor.h"
#include "player/PlayerState.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
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

} // namespace

MprisService *MprisService::startOnSessionBus(PlayerState *state)
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    QString error;
    if (!bus.isConnected()) {
        error = bus.lastError().message();
        if (error.isEmpty())
            error = QStringLiteral("no session bus");
    } else {
        auto *service = new MprisService(state);
        if (service->publish(bus, &error))
            return service;
        delete service;
    }
    std::fprintf(stderr, "velmor: media keys and the desktop's player controls are off: %s\n",
                 qPrintable(error));
    return nullptr;
}

MprisService::MprisService(PlayerState *state)
    : QObject(state), m_state(state), m_bus(QStringLiteral("unconnected"))
{
    new MprisRootAdaptor(this);
    m_player = new MprisPlayerAdaptor(this);

    m_refresh = new QTimer(this);
    m_refresh->setSingleShot(true);
    m_refresh->setInterval(0);
    connect(m_refresh, &QTimer::timeout, this, &MprisService::refresh);

    const auto changed = [this] { scheduleRefresh(); };
    connect(state, &PlayerState::playbackChanged, this, changed);
    connect(state, &PlayerState::lengthChanged, this, changed);
    connect(state, &PlayerState::trackChanged, this, changed);
    connect(state, &PlayerState::volumeChanged, this, changed);
    connect(state, &PlayerState::playModeChanged, this, changed);
    connect(&state->playlist(), &PlaylistItems::itemsChanged, this, changed);
    connect(state, &PlayerState::seeked, this,
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
    QMetaObject::invokeMethod(m_state, std::move(handler), Qt::QueuedConnection);
}

// ---- properties ---------------------------------------------------------------

QString MprisService::playbackStatus() const
{
    return mpris::playbackStatusFor(m_state->playState());
}

QString MprisService::loopStatus() const
{
    return mpris::loopStatusFor(m_state->playMode());
}

void MprisService::setLoopStatus(const QString &value)
{
    if (const auto mode = mpris::modeForLoopStatus(m_state->playMode(), value))
        m_state->setPlayMode(*mode);
}

bool MprisService::shuffle() const
{
    return mpris::shuffleFor(m_state->playMode());
}

void MprisService::setShuffle(bool value)
{
    m_state->setPlayMode(mpris::modeForShuffle(m_state->playMode(), value));
}

double MprisService::volume() const
{
    return m_state->volume() / 100.0;
}

void MprisService::setVolume(double value)
{
    if (std::isfinite(value))
        m_state->setVolume(static_cast<int>(std::lround(std::clamp(value, 0.0, 1.0) * 100)));
}

qlonglong MprisService::position() const
{
    return m_state->loaded() ? mpris::toMicroseconds(m_state->position()) : 0;
}

mpris::Track MprisService::currentTrack() const
{
    const PlayerState::Track &now = m_state->track();
    return {now.songId, now.title, now.singer, now.album, m_state->length(), now.pictureUrl};
}

QVariantMap MprisService::metadata() const
{
    return onTheBus(mpris::metadataFor(currentTrack()));
}

bool MprisService::canGoNext() const
{
    return m_state->playlist().count() > 0;
}

bool MprisService::canGoPrevious() const
{
    return m_state->playlist().count() > 0;
}

bool MprisService::canPlay() const
{
    return m_state->loaded() || m_state->playlist().count() > 0;
}

bool MprisService::canPause() const
{
    return m_state->loaded();
}

bool MprisService::canSeek() const
{
    return m_state->loaded() && m_state->length() > 0;
}

void MprisService::setPosition(const QString &trackPath, qlonglong microseconds)
{
    // Stale requests (another track by now) and positions outside the
    // track are ignored, as the MPRIS interface prescribes.
    const mpris::Track track = currentTrack();
    if (track.songId.isEmpty() || trackPath != mpris::trackIdPath(track.songId) ||
        microseconds < 0 || microseconds > mpris::toMicroseconds(track.lengthSeconds))
        return;
    later([state = m_state, microseconds] { state->seekTo(mpris::toSeconds(microseconds)); });
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
