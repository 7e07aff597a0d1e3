// Starts the bundled music service on 127.0.0.1 with a free port for one
// test (or fixture) and stops it again.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

class MusicdServer
{
public:
    MusicdServer() = default;
    ~MusicdServer();
    MusicdServer(const MusicdServer &) = delete;
    MusicdServer &operator=(const MusicdServer &) = delete;

    // Starts velmor-musicd --port 0 and reads the URL from its first line.
    bool start(const QStringList &extraArgs = {});
    void stop();
    QString url() const { return m_url; }
    // Requests the service has logged so far (one line each).
    QStringList logLines();

private:
    QProcess m_process;
    QString m_url;
    QStringList m_log;
};
