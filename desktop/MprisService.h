// The player on the desktop's session bus as an MPRIS2 media player
// (org.mpris.MediaPlayer2.velmor), so media keys, the shell's media
// controls and tools such as playerctl can see and drive it.
//
// It observes the player's state (PlayerState) and calls its commands,
// which the window carries out as its own buttons, menus and knobs do.
// Every method is queued onto the event loop: a play waits for the music
// service with events running, which must not happen inside the bus's
// message delivery, and the caller gets its answer at once. Property changes are collected over
// one turn of the event loop and sent as one PropertiesChanged; a seek is
// announced with Seeked. The mapping rules live in MprisMapping.
#pragma once

#include "desktop/MprisMapping.h"

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>
#include <functional>

class MprisPlayerAdaptor;
class PlayerState;
class QTimer;

class MprisService : public QObject
{
    Q_OBJECT
public:
    static const QString kServiceName;
    static const QString kObjectPath;
    static const QString kPlayerInterface;

    // Publishes on the session bus. Without one (or when registration
    // fails) it writes one line to stderr and returns nullptr: the player
    // runs on without it.
    static MprisService *startOnSessionBus(PlayerState *state);

    // Lives as long as the state (its child).
    explicit MprisService(PlayerState *state);
    // Registers the object and the bus name (or, when another player holds
    // the name, the name with ".instance<pid>", the MPRIS naming for a second copy).
    bool publish(const QDBusConnection &bus, QString *error = nullptr);

    PlayerState *state() const { return m_state; }

    // Property values in their D-Bus form.
    QString playbackStatus() const;
    QString loopStatus() const;
    void setLoopStatus(const QString &value);
    bool shuffle() const;
    void setShuffle(bool value);
    double volume() const;
    void setVolume(double value);
    qlonglong position() const;
    QVariantMap metadata() const;
    bool canGoNext() const;
    bool canGoPrevious() const;
    bool canPlay() const;
    bool canPause() const;
    bool canSeek() const;

    // Runs `handler` on the next turn of the event loop.
    void later(std::function<void()> handler);

    void setPosition(const QString &trackPath, qlonglong microseconds);

private:
    mpris::Track currentTrack() const;
    // Every published property of the Player interface, keyed by name,
    // with Metadata's trackid still a plain text.
    QVariantMap snapshot() const;
    void scheduleRefresh();
    void refresh();

    PlayerState *m_state;
    MprisPlayerAdaptor *m_player = nullptr;
    QDBusConnection m_bus;
    QTimer *m_refresh = nullptr;
    QVariantMap m_last;
};
