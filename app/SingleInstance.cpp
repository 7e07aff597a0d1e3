#include "app/SingleInstance.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QTimer>
#include <unistd.h>

namespace {

// The running player's answer once it has taken a command line.
const QByteArray kTaken = QByteArrayLiteral("ok\n");
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

} // namespace

SingleInstance::SingleInstance(const QString &socketPath, QObject *parent)
    : QObject(parent), m_path(socketPath)
{
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultSocketPath()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists())
        return runtime + QStringLiteral("/velmor-instance");
    return QDir::tempPath() + QStringLiteral("/velmor-%1-instance").arg(::getuid());
}

SingleInstance::Claim SingleInstance::claim(const QStringList &args, int timeoutMs)
{
    m_lock = std::make_unique<QLockFile>(m_path + QStringLiteral(".lock"));
    // A lock whose owner died is taken over by QLockFile itself. One that
    // stays held (another start stuck between its claim and its listen) is
    // waited for only this long; the socket is then tried all the same.
    if (!m_lock->tryLock(timeoutMs))
        m_lock.reset();

    QLocalSocket socket;
    socket.connectToServer(m_path);
    if (!socket.waitForConnected(timeoutMs))
        return Claim::First; // no socket, or a stale one nobody listens on

    socket.write(encodeArguments(args.mid(1)));
    QByteArray answer;
    while (!answer.contains('\n') && socket.waitForReadyRead(timeoutMs))
        answer += socket.readAll();
    socket.disconnectFromServer();
    m_lock.reset();
    return answer == kTaken ? Claim::HandedOff : Claim::Unanswered;
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
    m_lock.reset();
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
