#include "tests/common/PrivateBus.h"

#include <QDBusArgument>
#include <QElapsedTimer>
#include <QStandardPaths>

PrivateBus::~PrivateBus()
{
    stop();
}

bool PrivateBus::available()
{
    return !QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty();
}

bool PrivateBus::start()
{
    m_daemon.setProgram(QStringLiteral("dbus-daemon"));
    m_daemon.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"),
                           QStringLiteral("--nosyslog"), QStringLiteral("--print-address=1")});
    m_daemon.setProcessChannelMode(QProcess::SeparateChannels);
    m_daemon.start();
    if (!m_daemon.waitForStarted(10000))
        return false;
    QElapsedTimer t;
    t.start();
    while (!m_daemon.canReadLine() && t.elapsed() < 15000) {
        if (!m_daemon.waitForReadyRead(500) && m_daemon.state() != QProcess::Running)
            return false;
    }
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    return !m_address.isEmpty();
}

void PrivateBus::stop()
{
    if (m_daemon.state() == QProcess::NotRunning)
        return;
    m_daemon.terminate();
    if (!m_daemon.waitForFinished(5000)) {
        m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }
}

QDBusConnection PrivateBus::connect(const QString &name) const
{
    return QDBusConnection::connectToBus(m_address, name);
}

bool MprisSignalRecorder::listen(QDBusConnection bus, const QString &service)
{
    const QString path = QStringLiteral("/org/mpris/MediaPlayer2");
    return bus.connect(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                       QStringLiteral("PropertiesChanged"), this,
                       SLOT(onPropertiesChanged(QString, QVariantMap, QStringList))) &&
           bus.connect(service, path, QStringLiteral("org.mpris.MediaPlayer2.Player"),
                       QStringLiteral("Seeked"), this, SLOT(onSeeked(qlonglong)));
}

QVariant MprisSignalRecorder::lastValue(const QString &property) const
{
    for (auto it = changes.crbegin(); it != changes.crend(); ++it) {
        if (it->contains(property))
            return it->value(property);
    }
    return QVariant();
}

void MprisSignalRecorder::onPropertiesChanged(const QString &interface, const QVariantMap &changed,
                                              const QStringList &)
{
    if (interface != QLatin1String("org.mpris.MediaPlayer2.Player"))
        return;
    QVariantMap plain;
    for (auto it = changed.cbegin(); it != changed.cend(); ++it) {
        // Nested maps (Metadata) arrive as D-Bus arguments still to be read.
        if (it.value().canConvert<QDBusArgument>()) {
            QVariantMap nested;
            it.value().value<QDBusArgument>() >> nested;
            plain.insert(it.key(), nested);
        } else {
            plain.insert(it.key(), it.value());
        }
    }
    changes.append(plain);
}

void MprisSignalRecorder::onSeeked(qlonglong position)
{
    seeks.append(position);
}
