#include "desktop/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// The running player's answer once it has taken a command line.
const QByteArray kTaken = QByteArrayLiteral("ok\n");
// How often a start waiting for another start's lock looks again.
constexpr unsigned long kLockRetryMs = 10;
// A client that has not sent its whole line by then is dropped, so a stuck
// or hostile client cannot hold a connection open.
constexpr int kClientTimeoutMs = 5000;

QByteArray encodeArguments(const QStringList &args)
{
    return QJsonDocument(QJsonArray::fromStringList(args)).toJson(QJsonDocument::Compact) + '\n';
}

// The arguments of one message line, or false when it is not a JSON array
// of strings.
bool decodeArguments(const QByteArray &line, QStringList *args)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return false;
    QStringList out;
    for (const QJsonValue &v : doc.array()) {
        if (!v.isString())
            return false;
        out.append(v.toString());
    }
    *args = out;
    return true;
}

// One exchange with the running player over a plain socket, so that a start
// which hands over never sets up an application object. First: nobody
// listens (no socket, or one a crashed player left behind).
SingleInstance::Claim askRunningPlayer(const QString &path, const QByteArray &message,
                                       int timeoutMs, QString *problem)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray native = QFile::encodeName(path);
    if (size_t(native.size()) >= sizeof(address.sun_path))
        return SingleInstance::Claim::First;
    std::memcpy(address.sun_path, native.constData(), size_t(native.size()));

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return SingleInstance::Claim::First;
    const auto done = [fd](SingleInstance::Claim claim) {
        ::close(fd);
        return claim;
    };
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0) {
        // A listener whose queue is full is there but not answering.
        return done(errno == EAGAIN ? SingleInstance::Claim::Unanswered
                                    : SingleInstance::Claim::First);
    }
    // Whoever listens there gets the command line, secret service paths and
    // all: it must be this user, checked before the first byte goes out.
    ucred peer{};
    socklen_t peerLength = sizeof(peer);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &peerLength) != 0 ||
        peer.uid != ::getuid()) {
        *problem = QStringLiteral("the socket %1 is held by another user (uid %2)")
                       .arg(path)
                       .arg(peer.uid);
        return done(SingleInstance::Claim::NoChannel);
    }

    const QDeadlineTimer deadline(timeoutMs);
    const auto waitFor = [&](short events) {
        pollfd p{fd, events, 0};
        int ready;
        do {
            ready = ::poll(&p, 1, int(deadline.remainingTime()));
        } while (ready < 0 && errno == EINTR);
        return ready > 0;
    };
    qsizetype sent = 0;
    while (sent < message.size()) {
        if (!waitFor(POLLOUT))
            return done(SingleInstance::Claim::Unanswered);
        const ssize_t n =
            ::send(fd, message.constData() + sent, size_t(message.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return done(SingleInstance::Claim::Unanswered);
        sent += n > 0 ? n : 0;
    }
    QByteArray answer;
    char buffer[64];
    while (!answer.contains('\n') && answer.size() < kTaken.size() && waitFor(POLLIN)) {
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            break;
        if (n > 0)
            answer.append(buffer, n);
    }
    return done(answer == kTaken ? SingleInstance::Claim::HandedOff
                                 : SingleInstance::Claim::Unanswered);
}

} // namespace

SingleInstance::SingleInstance(const QString &socketPath, QObject *parent)
    : QObject(parent), m_path(socketPath)
{
}

SingleInstance::~SingleInstance()
{
    unlock();
    if (m_serverFd >= 0) {
        delete m_incoming;
        ::close(m_serverFd);
        // Nobody answers there any more: the next start is the player.
        ::unlink(QFile::encodeName(m_path).constData());
    }
}

// flock() rather than QLockFile: the kernel drops the lock of a process that
// dies, so no lock is ever stale, and nothing is written or synced to disk
// on the way to the window.
bool SingleInstance::lock(int timeoutMs)
{
    unlock();
    const QByteArray native = QFile::encodeName(m_path + QStringLiteral(".lock"));
    m_lockFd = ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lockFd < 0)
        return false;
    const QDeadlineTimer deadline(timeoutMs);
    while (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || deadline.hasExpired()) {
            unlock();
            return false;
        }
        QThread::msleep(kLockRetryMs);
    }
    return true;
}

void SingleInstance::unlock()
{
    if (m_lockFd >= 0)
        ::close(m_lockFd); // releases the lock
    m_lockFd = -1;
}

QString SingleInstance::defaultSocketPath()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists())
        return runtime + QStringLiteral("/velmor-instance");
    // Not the shared temporary folder itself, where any user may put a
    // socket of that name first, but a folder of the user's own in it.
    return QDir::tempPath() + QStringLiteral("/velmor-%1/instance").arg(::getuid());
}

QString SingleInstance::folderProblem(const QString &folder)
{
    const QByteArray native = QFile::encodeName(folder);
    // Made only if missing, and for this user alone; one already there is
    // checked like any other, whoever made it.
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return QStringLiteral("cannot create %1 (%2)")
            .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
    // O_NOFOLLOW: a symbolic link there may point anywhere; the checks are
    // made on the folder opened, not on its name.
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return QStringLiteral("%1 is not a folder (%2)")
            .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
    struct stat status
    {
    };
    const bool known = ::fstat(fd, &status) == 0;
    ::close(fd);
    if (!known || status.st_uid != ::getuid())
        return QStringLiteral("%1 belongs to another user").arg(folder);
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return QStringLiteral("other users can write in %1").arg(folder);
    return {};
}

SingleInstance::Claim SingleInstance::claim(const QStringList &args, int timeoutMs)
{
    // In a folder others can write in, anyone could put the socket (or the
    // lock) there first and take the command line.
    m_problem = folderProblem(QFileInfo(m_path).absolutePath());
    if (!m_problem.isEmpty())
        return Claim::NoChannel;
    // A lock held by another start (between its claim and its listen) is
    // waited for only this long; the socket is then tried all the same.
    lock(timeoutMs);

    const Claim claim =
        askRunningPlayer(m_path, encodeArguments(args.mid(1)), timeoutMs, &m_problem);
    if (claim != Claim::First)
        unlock();
    return claim;
}

// One later start's connection: its message line is read as it comes, and
// it is dropped when it sends too much, something else, or too slowly.
class SingleInstance::Client : public QObject
{
public:
    Client(int fd, SingleInstance *owner) : QObject(owner), m_fd(fd), m_owner(owner)
    {
        m_readable = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(m_readable, &QSocketNotifier::activated, this, [this] { onReadable(); });
        QTimer::singleShot(kClientTimeoutMs, this, [this] { close(); });
    }
    ~Client() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

private:
    void onReadable()
    {
        char buffer[4096];
        const ssize_t n = ::recv(m_fd, buffer, sizeof(buffer), 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n <= 0)
            return close();
        m_received.append(buffer, n);
        const qsizetype end = m_received.indexOf('\n');
        if (end < 0) {
            if (m_received.size() > kMaxMessageBytes)
                close();
            return;
        }
        QStringList args;
        if (end > kMaxMessageBytes || !decodeArguments(m_received.left(end).trimmed(), &args))
            return close();
        // Three bytes into an empty socket buffer: a non-blocking send takes
        // them whole or the start on the other side gets no answer, which it
        // survives.
        ::send(m_fd, kTaken.constData(), size_t(kTaken.size()), MSG_NOSIGNAL);
        SingleInstance *owner = m_owner;
        close();
        Q_EMIT owner->argumentsReceived(args);
    }
    void close()
    {
        m_readable->setEnabled(false);
        deleteLater();
    }

    int m_fd;
    SingleInstance *m_owner;
    QSocketNotifier *m_readable = nullptr;
    QByteArray m_received;
};

bool SingleInstance::listen()
{
    if (m_serverFd >= 0)
        return true;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray native = QFile::encodeName(m_path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    bool listening = fd >= 0 && size_t(native.size()) < sizeof(address.sun_path);
    if (listening) {
        std::memcpy(address.sun_path, native.constData(), size_t(native.size()));
        // Whatever is at the path now is stale: claim() found no one
        // answering.
        ::unlink(native.constData());
        // Only the user may connect; later starts of other users are also
        // turned away by their credentials (onNewConnection).
        listening =
            ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) == 0 &&
            ::chmod(native.constData(), 0600) == 0 && ::listen(fd, 16) == 0;
    }
    unlock();
    if (!listening) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    m_serverFd = fd;
    m_incoming = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_incoming, &QSocketNotifier::activated, this, &SingleInstance::onNewConnection);
    return true;
}

bool SingleInstance::isListening() const
{
    return m_serverFd >= 0;
}

void SingleInstance::onNewConnection()
{
    while (true) {
        const int fd = ::accept4(m_serverFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return; // EAGAIN: all taken; anything else: tried again on the next wake
        ucred peer{};
        socklen_t length = sizeof(peer);
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
            peer.uid != ::getuid()) {
            ::close(fd);
            continue;
        }
        new Client(fd, this);
    }
}
