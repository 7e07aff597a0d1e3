#include "ownservice/OwnService.h"

#include "ownservice/RuntimeFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QUrl>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace ownservice {
namespace {

constexpr qint64 kMaxAnnouncementBytes = 4096;
// The kernel's socket tables are a line per socket; a machine with more
// than this many is not one the check needs to read to the end.
constexpr qint64 kMaxSocketTableBytes = 16 * 1024 * 1024;
// A socket in the LISTEN state, as /proc/net/tcp writes it.
const QByteArray kListenState = QByteArrayLiteral("0A");

const QString kProgramName = QStringLiteral("velmor-musicd");

bool isLoopbackHost(const QString &host)
{
    return host == QLatin1String("localhost") || host.startsWith(QLatin1String("127.")) ||
           host == QLatin1String("::1");
}

// The owner of a listener on port in one of the kernel's socket tables
// (/proc/net/tcp, tcp6): -1 when none is there.
qint64 listenerIn(const QString &table, int port)
{
    QFile file(table);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray wantedPort = QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    qint64 read = 0;
    file.readLine(); // the header
    while (!file.atEnd() && read < kMaxSocketTableBytes) {
        const QByteArray line = file.readLine();
        read += line.size();
        // "sl local rem st tx:rx tr:when retrnsmt uid ..."
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 8 || fields.at(3) != kListenState)
            continue;
        const QByteArray &local = fields.at(1);
        if (local.mid(local.lastIndexOf(':') + 1).toUpper() != wantedPort)
            continue;
        bool ok = false;
        const qint64 uid = fields.at(7).toLongLong(&ok);
        if (ok)
            return uid;
    }
    return -1;
}

bool processLives(qint64 pid)
{
    // Another user's process answers EPERM: it is not ours either.
    return pid > 0 && ::kill(pid_t(pid), 0) == 0;
}

} // namespace

QString announcementFile(const QString &runtimeFolder)
{
    return runtimeFolder + QStringLiteral("/service.json");
}

QString lockFile(const QString &runtimeFolder)
{
    return runtimeFolder + QStringLiteral("/musicd.lock");
}

QByteArray serialise(const Announcement &announcement)
{
    QJsonObject root;
    root.insert(QStringLiteral("url"), announcement.url);
    root.insert(QStringLiteral("pid"), announcement.pid);
    root.insert(QStringLiteral("port"), announcement.port);
    return QJsonDocument(root).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<Announcement> parseAnnouncement(const QByteArray &bytes)
{
    if (bytes.size() > kMaxAnnouncementBytes)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();
    Announcement a;
    a.url = root.value(QStringLiteral("url")).toString();
    a.pid = root.value(QStringLiteral("pid")).toInteger();
    a.port = root.value(QStringLiteral("port")).toInt();
    const QUrl url(a.url, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("http") || !isLoopbackHost(url.host()) ||
        url.port() != a.port || a.port <= 0 || a.port > 65535 || a.pid <= 0 ||
        !url.path().isEmpty() || url.hasQuery() || url.hasFragment())
        return std::nullopt;
    return a;
}

ServiceLock::~ServiceLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

ServiceLock::Result ServiceLock::acquire(const QString &runtimeFolder, QString *error)
{
    const QByteArray file = QFile::encodeName(lockFile(runtimeFolder));
    const int fd = ::open(file.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(lockFile(runtimeFolder),
                                                  QString::fromLocal8Bit(std::strerror(errno)));
        return Result::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool taken = errno == EWOULDBLOCK;
        if (error && !taken)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return taken ? Result::Taken : Result::Failed;
    }
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
    return Result::Acquired;
}

bool announce(const QString &runtimeFolder, const Announcement &announcement, QString *error)
{
    return runtimefolder::writePrivate(announcementFile(runtimeFolder), serialise(announcement),
                                       error);
}

void withdraw(const QString &runtimeFolder)
{
    const QString file = announcementFile(runtimeFolder);
    const std::optional<QByteArray> bytes = runtimefolder::readPrivate(file, kMaxAnnouncementBytes);
    const std::optional<Announcement> a = bytes ? parseAnnouncement(*bytes) : std::nullopt;
    if (a && a->pid == ::getpid())
        QFile::remove(file);
}

qint64 listenerOwner(int port)
{
    const qint64 v4 = listenerIn(QStringLiteral("/proc/net/tcp"), port);
    return v4 >= 0 ? v4 : listenerIn(QStringLiteral("/proc/net/tcp6"), port);
}

std::optional<Announcement> findAnnounced()
{
    const QString folder = runtimefolder::path();
    if (folder.isEmpty())
        return std::nullopt;
    const std::optional<QByteArray> bytes =
        runtimefolder::readPrivate(announcementFile(folder), kMaxAnnouncementBytes);
    const std::optional<Announcement> a = bytes ? parseAnnouncement(*bytes) : std::nullopt;
    if (a && processLives(a->pid) && listenerOwner(a->port) == qint64(::geteuid()))
        return a;
    return std::nullopt;
}

QString findRunning()
{
    if (const std::optional<Announcement> a = findAnnounced())
        return a->url;
    if (listenerOwner(VELMOR_DEFAULT_PORT) == qint64(::geteuid()))
        return QStringLiteral("http://127.0.0.1:%1").arg(VELMOR_DEFAULT_PORT);
    return QString();
}

QString findProgram(const QString &besideFolder)
{
    if (!besideFolder.isEmpty()) {
        const QFileInfo beside(QDir(besideFolder).filePath(kProgramName));
        if (beside.isFile() && beside.isExecutable())
            return beside.absoluteFilePath();
    }
    return QStandardPaths::findExecutable(kProgramName);
}

} // namespace ownservice
