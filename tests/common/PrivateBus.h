// A session bus of the test's own (dbus-daemon --session), so tests can
// publish and call D-Bus services without the machine's bus, and the
// recorder of the media-player signals seen on it.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class PrivateBus
{
public:
    PrivateBus() = default;
    ~PrivateBus();
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    // Whether dbus-daemon is installed at all (tests skip without it).
    static bool available();
    // Starts the daemon and reads its address; false when it did not start.
    bool start();
    void stop();
    QString address() const { return m_address; }
    // A connection of the test to this bus under `name`.
    QDBusConnection connect(const QString &name) const;

private:
    QProcess m_daemon;
    QString m_address;
};

// Records PropertiesChanged and Seeked of the media-player object.
class MprisSignalRecorder : public QObject
{
    Q_OBJECT
public:
    // Listens on `bus` for signals of `service`'s media-player object.
    bool listen(QDBusConnection bus, const QString &service);

    // Every changed-property map received, in order.
    QList<QVariantMap> changes;
    QList<qlonglong> seeks;
    // The last value a property was announced with (invalid if never).
    QVariant lastValue(const QString &property) const;

public Q_SLOTS:
    void onPropertiesChanged(const QString &interface, const QVariantMap &changed,
                             const QStringList &invalidated);
    void onSeeked(qlonglong position);
};
