#include "ownservice/OwnServiceController.h"

#include "net/HttpConnection.h"
#include "ownservice/OwnService.h"

#include <QCoreApplication>
#include <QDateTime>
#include <csignal>
#include <cstdio>
#include <sys/prctl.h>

namespace {

// How often a starting service is looked for.
constexpr int kStartPollMs = 50;
// How often the status is read during the first scan.
constexpr int kStatusPollMs = 1000;
constexpr int kStatusTimeoutMs = 3000;
// How long a stopped service may take to end before it is killed.
constexpr int kStopWaitMs = 3000;
// Lines of the starting service's error output kept for a failure's reason.
constexpr int kStderrLinesKept = 8;

const QString kStartingText = QStringLiteral("正在启动音乐服务…");
const QString kStartFailedText = QStringLiteral("未能启动音乐服务：%1");

// The reason a service gave on its way out: its last line, without the
// program's name in front.
QString reasonFrom(const QStringList &lines, int exitCode)
{
    for (qsizetype i = lines.size() - 1; i >= 0; --i) {
        QString line = lines.at(i).trimmed();
        line.remove(QStringLiteral("velmor-musicd: "));
        if (!line.isEmpty())
            return line;
    }
    return QStringLiteral("velmor-musicd 已退出（状态 %1）").arg(exitCode);
}

} // namespace

OwnServiceController::OwnServiceController(QObject *parent) : QObject(parent)
{
    m_startTimer.setInterval(kStartPollMs);
    connect(&m_startTimer, &QTimer::timeout, this, &OwnServiceController::watchStart);
    m_statusTimer.setInterval(kStatusPollMs);
    connect(&m_statusTimer, &QTimer::timeout, this, &OwnServiceController::pollStatus);
    // Nobody reads the service's request log; taking it keeps its pipe from
    // filling up.
    connect(&m_process, &QProcess::readyReadStandardOutput, this,
            [this] { m_process.readAllStandardOutput(); });
    // Its warnings (folders it cannot read, files it skips) are passed on,
    // so they reach the same terminal or journal as the player's own.
    connect(&m_process, &QProcess::readyReadStandardError, this, [this] {
        const QByteArray bytes = m_process.readAllStandardError();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
        for (const QString &line :
             QString::fromLocal8Bit(bytes).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            m_stderrTail.append(line);
        while (m_stderrTail.size() > kStderrLinesKept)
            m_stderrTail.removeFirst();
    });
}

OwnServiceController::~OwnServiceController()
{
    m_abort = true;
    joinFetch();
    stop();
}

void OwnServiceController::apply(const LibraryChoice &choice)
{
    ++m_generation;
    m_startTimer.stop();
    m_statusTimer.stop();
    m_status = {};
    m_lastLine.clear();
    if (!choice.usesOwnService()) {
        stop();
        m_url = choice.server;
        Q_EMIT serviceChanged(m_url);
        Q_EMIT statusChanged(QString());
        return;
    }
    const QStringList folders = LibrarySettingsFile::servedFolders(choice);
    if (startedService()) {
        if (folders == m_folders && !m_url.isEmpty()) {
            ready(m_url);
            return;
        }
        stop();
    }
    if (const QString running = ownservice::findRunning(); !running.isEmpty()) {
        ready(running);
        return;
    }
    startService(folders);
}

void OwnServiceController::startService(const QStringList &folders)
{
    m_url.clear();
    Q_EMIT serviceChanged(QString());
    const QString program = m_program.isEmpty()
                                ? ownservice::findProgram(QCoreApplication::applicationDirPath())
                                : m_program;
    if (program.isEmpty()) {
        fail(QStringLiteral("找不到 velmor-musicd（请安装它，或用 --service 指定音乐服务）"));
        return;
    }
    QStringList args{QStringLiteral("--announce"), QStringLiteral("--port"), QStringLiteral("0")};
    for (const QString &folder : folders)
        args << QStringLiteral("--library") << folder;
    m_folders = folders;
    m_stderrTail.clear();
    m_process.setProgram(program);
    m_process.setArguments(args);
    // The service goes with the player, also when the player dies.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process.start();
    if (!m_process.waitForStarted(kStopWaitMs)) {
        fail(QStringLiteral("%1：%2").arg(program, m_process.errorString()));
        return;
    }
    Q_EMIT statusChanged(kStartingText);
    m_startDeadline = QDateTime::currentMSecsSinceEpoch() + m_startTimeoutMs;
    m_startTimer.start();
}

void OwnServiceController::watchStart()
{
    const std::optional<ownservice::Announcement> announced = ownservice::findAnnounced();
    if (m_process.state() == QProcess::Running) {
        if (announced && announced->pid == m_process.processId())
            return ready(announced->url);
    } else if (m_process.exitStatus() == QProcess::NormalExit &&
               m_process.exitCode() == ownservice::kExitAlreadyServing) {
        // Another player started this user's service first: use that one.
        if (announced)
            return ready(announced->url);
    } else {
        m_process.waitForFinished(0);
        const QByteArray rest = m_process.readAllStandardError();
        m_stderrTail += QString::fromLocal8Bit(rest).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return fail(reasonFrom(m_stderrTail, m_process.exitCode()));
    }
    if (QDateTime::currentMSecsSinceEpoch() >= m_startDeadline) {
        stop();
        fail(QStringLiteral("velmor-musicd 在 %1 秒内没有应答").arg(m_startTimeoutMs / 1000));
    }
}

void OwnServiceController::ready(const QString &url)
{
    m_startTimer.stop();
    m_url = url;
    Q_EMIT serviceChanged(url);
    pollStatus();
    m_statusTimer.start();
}

void OwnServiceController::fail(const QString &reason)
{
    m_startTimer.stop();
    const QString text = kStartFailedText.arg(reason);
    Q_EMIT statusChanged(text);
    Q_EMIT failed(text);
}

void OwnServiceController::stop()
{
    m_startTimer.stop();
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(kStopWaitMs)) {
        m_process.kill();
        m_process.waitForFinished(kStopWaitMs);
    }
}

void OwnServiceController::joinFetch()
{
    if (m_fetch.joinable())
        m_fetch.join();
}

void OwnServiceController::pollStatus()
{
    if (m_url.isEmpty() || m_fetching)
        return;
    joinFetch();
    m_fetching = true;
    const quint64 generation = m_generation;
    const QByteArray url = m_url.toUtf8() + "/status";
    // Loopback, but a GET still waits on the other end: never in the
    // window's thread.
    m_fetch = std::thread([this, generation, url] {
        QByteArray body;
        bool ok = false;
        HttpConnection::Target target;
        if (HttpConnection::Target::parse(url, target)) {
            HttpConnection connection(m_abort, kStatusTimeoutMs);
            if (connection.get(target) && connection.status() == 200) {
                char buffer[4096];
                qint64 n = 0;
                while ((n = connection.readBody(buffer, sizeof buffer)) > 0 &&
                       body.size() <= ServiceStatus::kMaxBytes)
                    body.append(buffer, n);
                ok = n == 0;
            }
        }
        QMetaObject::invokeMethod(
            this, [this, generation, body, ok] { takeStatus(generation, body, ok); },
            Qt::QueuedConnection);
    });
}

void OwnServiceController::takeStatus(quint64 generation, const QByteArray &body, bool ok)
{
    m_fetching = false;
    if (generation != m_generation)
        return;
    const std::optional<ServiceStatus> status = ok ? ServiceStatus::fromJson(body) : std::nullopt;
    if (!status || !status->library) {
        // A service without a library (the built-in catalogue, an older
        // service) has nothing to show.
        m_statusTimer.stop();
        return;
    }
    const bool wasScanning = firstScanRunning();
    m_status = *status;
    if (firstScanRunning() != wasScanning)
        Q_EMIT firstScanChanged(firstScanRunning());
    if (!status->firstScan)
        m_statusTimer.stop();
    const QString line = status->statusLine();
    if (line != m_lastLine) {
        m_lastLine = line;
        Q_EMIT statusChanged(line);
    }
}
