#include "app/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
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
                                       int timeoutMs)
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
    return QDir::tempPath() + QStringLiteral("/velmor-%1-instance").arg(::getuid());
}

SingleInstance::Claim SingleInstance::claim(const QStringList &args, int timeoutMs)
{
    // A lock held by another start (between its claim and its listen) is
    // waited for only this long; the socket is then tried all the same.
    lock(timeoutMs);

    const Claim claim = askRunningPlayer(m_path, encodeArguments(args.mid(1)), timeoutMs);
    if (claim != Claim::First)
        unlock();
    return claim;
}

bool SingleInstance::listen()
{
    if (m_server)
        return m_server->isListening();
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // Whatever is at the path now is stale: claim() found no one answering.
    QLocalServer::removeServer(m_path);
    const bool listening = m_server->listen(m_path);
    unlock();
    if (!listening)
        return false;
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
    return true;
}

bool SingleInstance::isListening() const
{
    return m_server && m_server->isListening();
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket *client = m_server->nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QLocalSocket::readyRead, this,
                [this, client] { onClientReadyRead(client); });
        QTimer::singleShot(kClientTimeoutMs, client, [client] { client->abort(); });
        // Bytes that came with the connection do not signal readyRead again.
        if (client->bytesAvailable() > 0)
            onClientReadyRead(client);
    }
}

void SingleInstance::onClientReadyRead(QLocalSocket *client)
{
    if (!client->canReadLine()) {
        if (client->bytesAvailable() > kMaxMessageBytes)
            client->abort();
        return;
    }
    const QByteArray line = client->readLine(kMaxMessageBytes + 1);
    QStringList args;
    if (line.size() > kMaxMessageBytes || !decodeArguments(line.trimmed(), &args)) {
        client->abort();
        return;
    }
    client->write(kTaken);
    client->disconnectFromServer();
    Q_EMIT argumentsReceived(args);
}
