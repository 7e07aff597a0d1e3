#include "tests/common/MusicdServer.h"

#include <QElapsedTimer>

MusicdServer::~MusicdServer()
{
    stop();
}

bool MusicdServer::start(const QStringList &extraArgs)
{
    QStringList args{QStringLiteral("--port"), QStringLiteral("0")};
    args += extraArgs;
    // A benchmark may compare another build of the service.
    m_process.setProgram(
        qEnvironmentVariable("VELMOR_BENCH_MUSICD", QStringLiteral(VELMOR_MUSICD_PATH)));
    m_process.setArguments(args);
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start();
    if (!m_process.waitForStarted(10000))
        return false;
    QElapsedTimer t;
    t.start();
    while (!m_process.canReadLine() && t.elapsed() < 15000) {
        if (!m_process.waitForReadyRead(500) && m_process.state() != QProcess::Running)
            return false;
    }
    if (!m_process.canReadLine())
        return false;
    m_url = QString::fromUtf8(m_process.readLine()).trimmed();
    return m_url.startsWith(QLatin1String("http://"));
}

QStringList MusicdServer::logLines()
{
    const QString more = QString::fromUtf8(m_process.readAllStandardOutput());
    m_log += more.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return m_log;
}

QStringList MusicdServer::waitForLogLine(const QString &text, int ms)
{
    QElapsedTimer t;
    t.start();
    for (;;) {
        const QStringList lines = logLines();
        if (!lines.filter(text).isEmpty() || t.elapsed() >= ms ||
            m_process.state() != QProcess::Running)
            return lines;
        m_process.waitForReadyRead(100);
    }
}

void MusicdServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool MusicdServer::waitForStderr(const QString &text, int ms)
{
    QElapsedTimer t;
    t.start();
    for (;;) {
        m_stderr += m_process.readAllStandardError();
        if (QString::fromLocal8Bit(m_stderr).contains(text))
            return true;
        if (t.elapsed() >= ms || m_process.state() != QProcess::Running)
            return false;
        m_process.waitForReadyRead(100);
    }
}
