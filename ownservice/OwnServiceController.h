// Gets the player its music service when none was named on the command
// line: the server chosen in the music library settings, else this user's
// own velmor-musicd, found running (the user's unit, a terminal) or started
// here on the chosen folders. Nothing here blocks: the start is watched by a
// timer and the service's /status is read on a short-lived thread, so the
// window keeps running while a service comes up or scans.
//
// A service this controller started is stopped when it is destroyed (and
// dies with the player should the player die: it gets SIGTERM then); one it
// found running is left alone.
//
// apply() is the one entry point for a changed choice: the music library
// dialog writes the settings file and hands the new choice here, and the
// player switches to the server, or restarts its own service on the new
// folders, without a restart of the window.
#pragma once

#include "ownservice/LibrarySettings.h"
#include "ownservice/ServiceStatus.h"

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <thread>

class OwnServiceController : public QObject
{
    Q_OBJECT
public:
    explicit OwnServiceController(QObject *parent = nullptr);
    ~OwnServiceController() override;

    // The velmor-musicd to start; by default the one beside this program,
    // else the one on PATH.
    void setProgram(const QString &program) { m_program = program; }
    // How long a starting service may take to answer (default 20 s).
    void setStartTimeoutMs(int ms) { m_startTimeoutMs = ms; }

    // The service in use, "" while there is none.
    QString url() const { return m_url; }
    // Whether the service in use is one this controller started.
    bool startedService() const { return m_process.state() != QProcess::NotRunning; }
    qint64 serviceProcessId() const { return m_process.processId(); }
    // The service's last status, when it gave one.
    const ServiceStatus &status() const { return m_status; }
    bool firstScanRunning() const { return m_status.library && m_status.firstScan; }

public Q_SLOTS:
    // Uses choice from now on (see above).
    void apply(const LibraryChoice &choice);
    // Stops the service this controller started, if any.
    void stop();

Q_SIGNALS:
    // The host every request goes to from now on ("" while none is known).
    void serviceChanged(const QString &url);
    // A line for the window's status line: the start, the scan, the total,
    // folders that cannot be read, a failure with its reason.
    void statusChanged(const QString &text);
    // The service could not be started; reason says why, in the window's
    // words (also sent as a status line).
    void failed(const QString &reason);
    void firstScanChanged(bool running);

private:
    void startService(const QStringList &folders);
    void watchStart();
    void ready(const QString &url);
    void fail(const QString &reason);
    void pollStatus();
    void takeStatus(quint64 generation, const QByteArray &body, bool ok);
    void joinFetch();

    QString m_program;
    int m_startTimeoutMs = 20000;
    QProcess m_process;
    QStringList m_folders; // what the service started here serves
    QStringList m_stderrTail;
    QString m_url;
    QTimer m_startTimer;
    QTimer m_statusTimer;
    qint64 m_startDeadline = 0;
    // Bumped by every apply: what an older choice started is not taken.
    quint64 m_generation = 0;
    ServiceStatus m_status;
    QString m_lastLine;
    std::thread m_fetch;
    std::atomic<bool> m_fetching{false};
    std::atomic<bool> m_abort{false};
};
