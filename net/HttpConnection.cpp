#include "net/HttpConnection.h"

#include "net/HttpTypes.h"

#include <QString>
#include <algorithm>
#include <cerrno>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// How long one poll() waits before the abort flag is looked at again.
constexpr int kPollSliceMs = 50;
constexpr qsizetype kReceiveBytes = 64 * 1024;
// More interim answers than this before the real one is no server we read.
constexpr int kMaxInterimAnswers = 8;

} // namespace

bool HttpConnection::Target::parse(const QByteArray &url, Target &out)
{
    if (!url.startsWith("http://"))
        return false;
    const QByteArray rest = url.mid(7);
    qsizetype end = rest.size();
    for (const char c : {'/', '?', '#'}) {
        const qsizetype at = rest.indexOf(c);
        if (at >= 0)
            end = std::min(end, at);
    }
    QByteArray authority = rest.left(end);
    out.path = rest.mid(end);
    const qsizetype hash = out.path.indexOf('#');
    if (hash >= 0)
        out.path.truncate(hash);
    if (out.path.isEmpty() || out.path.startsWith('?'))
        out.path.prepend('/');
    const qsizetype at = authority.lastIndexOf('@');
    if (at >= 0)
        authority = authority.mid(at + 1);
    out.port = "80";
    if (authority.startsWith('[')) {
        const qsizetype close = authority.indexOf(']');
        if (close < 0)
            return false;
        out.host = authority.mid(1, close - 1);
        if (authority.size() > close + 1) {
            if (authority.at(close + 1) != ':')
                return false;
            out.port = authority.mid(close + 2);
        }
    } else {
        const qsizetype colon = authority.indexOf(':');
        out.host = colon < 0 ? authority : authority.left(colon);
        if (colon >= 0)
            out.port = authority.mid(colon + 1);
    }
    bool numeric = false;
    const int port = out.port.toInt(&numeric);
    // Control characters or spaces would end the request line early.
    const bool clean =
        std::none_of(url.begin(), url.end(), [](char c) { return uchar(c) <= ' ' || c == '\x7f'; });
    return clean && !out.host.isEmpty() && numeric && port > 0 && port < 65536;
}

QByteArray HttpConnection::Target::authority() const
{
    const QByteArray name = host.contains(':') ? '[' + host + ']' : host;
    return port == "80" ? name : name + ':' + port;
}

QByteArray HttpConnection::Target::resolve(const QByteArray &location) const
{
    if (location.startsWith("//"))
        return "http:" + location;
    if (location.startsWith('/'))
        return "http://" + authority() + location;
    const qsizetype colon = location.indexOf(':');
    const qsizetype slash = location.indexOf('/');
    if (colon > 0 && (slash < 0 || colon < slash))
        return location; // has a scheme of its own
    QByteArray base = path.left(path.indexOf('?') < 0 ? path.size() : path.indexOf('?'));
    base.truncate(base.lastIndexOf('/') + 1);
    return "http://" + authority() + base + location;
}

HttpConnection::HttpConnection(const std::atomic<bool> &abort, int timeoutMs)
    : m_abort(abort), m_timeoutMs(timeoutMs)
{
}

HttpConnection::~HttpConnection()
{
    close();
}

QByteArray HttpConnection::userAgent()
{
    return QStringLiteral("Velmor/%1.%2.%3")
        .arg(VELMOR_VERSION_MAJOR)
        .arg(VELMOR_VERSION_MINOR)
        .arg(VELMOR_VERSION_PATCH)
        .toLatin1();
}

void HttpConnection::close()
{
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
    m_in.clear();
}

bool HttpConnection::fail(Failure failure)
{
    m_failure = m_abort ? Failure::Aborted : failure;
    close();
    return false;
}

bool HttpConnection::connectTo(const QByteArray &host, const QByteArray &port)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (::getaddrinfo(host.constData(), port.constData(), &hints, &found) != 0)
        return fail(Failure::HostNotFound);
    Failure why = Failure::Refused;
    for (addrinfo *a = found; a && m_socket < 0 && !m_abort; a = a->ai_next) {
        const int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0)
            continue;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0 && errno != EINPROGRESS) {
            ::close(fd);
            continue;
        }
        bool connected = false;
        bool answered = false;
        for (int waited = 0; waited < m_timeoutMs && !m_abort; waited += kPollSliceMs) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, kPollSliceMs) > 0) {
                int error = 0;
                socklen_t length = sizeof error;
                connected =
                    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
                answered = true;
                break;
            }
        }
        if (!answered)
            why = Failure::TimedOut;
        if (connected)
            m_socket = fd;
        else
            ::close(fd);
    }
    ::freeaddrinfo(found);
    return m_socket >= 0 || fail(why);
}

bool HttpConnection::sendAll(const QByteArray &bytes)
{
    qsizetype sent = 0;
    int waited = 0;
    while (sent < bytes.size()) {
        if (m_abort || waited >= m_timeoutMs)
            return fail(Failure::TimedOut);
        const ssize_t n =
            ::send(m_socket, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
            waited = 0;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return fail(Failure::Closed);
        pollfd p{m_socket, POLLOUT, 0};
        ::poll(&p, 1, kPollSliceMs);
        waited += kPollSliceMs;
    }
    return true;
}

bool HttpConnection::fill()
{
    char buffer[kReceiveBytes];
    for (int waited = 0; waited < m_timeoutMs && !m_abort;) {
        const ssize_t n = ::recv(m_socket, buffer, sizeof buffer, 0);
        if (n > 0) {
            m_in.append(buffer, n);
            return true;
        }
        if (n == 0) {
            m_peerClosed = true;
            return fail(Failure::Closed);
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return fail(Failure::Closed);
        pollfd p{m_socket, POLLIN, 0};
        if (::poll(&p, 1, kPollSliceMs) == 0)
            waited += kPollSliceMs;
    }
    return fail(Failure::TimedOut);
}

bool HttpConnection::readLine(QByteArray &line)
{
    while (true) {
        const qsizetype end = m_in.indexOf("\r\n");
        if (end >= 0) {
            line = m_in.left(end);
            m_in.remove(0, end + 2);
            return true;
        }
        if (m_in.size() > kMaxHeadBytes)
            return fail(Failure::Malformed);
        if (!fill())
            return false;
    }
}

QByteArray HttpConnection::header(const QByteArray &name) const
{
    for (const QByteArray &line : m_headers) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

void HttpConnection::startOver()
{
    close();
    m_status = 0;
    m_headers.clear();
    m_failure = Failure::None;
    m_peerClosed = false;
}

bool HttpConnection::get(const Target &target, const QByteArray &extraHeaders)
{
    startOver();
    if (!connectTo(target.host, target.port))
        return false;
    const QByteArray request = "GET " + target.path + " HTTP/1.1\r\nHost: " + target.authority() +
                               "\r\nUser-Agent: " + userAgent() + "\r\nAccept: */*\r\n" +
                               extraHeaders + "Connection: close\r\n\r\n";
    return sendAll(request) && readHead();
}

bool HttpConnection::readAnswerFrom(int socket)
{
    startOver();
    m_socket = socket;
    return readHead();
}

bool HttpConnection::readHead()
{
    int status = 0;
    // Interim answers ("100 Continue" and the like) come before the real
    // one, each with a head of its own.
    for (int heads = 0; status < 200; ++heads) {
        QByteArray statusLine;
        if (!readLine(statusLine))
            return false;
        const QList<QByteArray> statusParts = statusLine.split(' ');
        bool numeric = false;
        status = statusParts.size() < 2 ? 0 : statusParts.at(1).toInt(&numeric);
        if (!statusLine.startsWith("HTTP/1.") || !numeric || status < 100 || status > 999 ||
            heads >= kMaxInterimAnswers || status == 101)
            return fail(Failure::Malformed);
        m_headers.clear();
        qsizetype headBytes = statusLine.size();
        for (QByteArray line; readLine(line) && !line.isEmpty();) {
            headBytes += line.size();
            if (headBytes > kMaxHeadBytes)
                return fail(Failure::Malformed);
            m_headers.append(line);
        }
        if (m_socket < 0)
            return false; // the head was cut short
    }
    QList<QByteArray> lengths;
    for (const QByteArray &line : std::as_const(m_headers)) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 &&
            line.left(colon).trimmed().compare("Content-Length", Qt::CaseInsensitive) == 0)
            lengths.append(line.mid(colon + 1));
    }
    if (!contentLengthsAgree(lengths))
        return fail(Failure::Malformed); // and no status: the answer is not taken
    m_status = status;
    m_chunked = header("Transfer-Encoding").toLower().contains("chunked");
    m_chunkLeft = 0;
    m_bodyDone = false;
    bool lengthKnown = false;
    const qint64 length = lengths.value(0).split(',').value(0).trimmed().toLongLong(&lengthKnown);
    m_bodyLength = !m_chunked && lengthKnown && length >= 0 ? length : -1;
    m_bodyLeft = m_bodyLength;
    // Answers that never carry a body.
    if (status == 204 || status == 304)
        m_bodyDone = true;
    return true;
}

qint64 HttpConnection::readBody(char *data, qint64 max)
{
    if (m_bodyDone)
        return 0;
    if (m_socket < 0)
        return -1;
    if (m_chunked) {
        while (m_chunkLeft == 0) {
            QByteArray line;
            if (!readLine(line))
                return -1;
            if (line.isEmpty())
                continue; // the line ending after a chunk's data
            const qsizetype semicolon = line.indexOf(';');
            bool ok = false;
            m_chunkLeft =
                (semicolon < 0 ? line : line.left(semicolon)).trimmed().toLongLong(&ok, 16);
            if (!ok || m_chunkLeft < 0) {
                fail(Failure::Malformed);
                return -1;
            }
            if (m_chunkLeft == 0) {
                m_bodyDone = true;
                return 0;
            }
        }
        max = std::min(max, m_chunkLeft);
    } else if (m_bodyLeft >= 0) {
        if (m_bodyLeft == 0) {
            m_bodyDone = true;
            return 0;
        }
        max = std::min(max, m_bodyLeft);
    }
    if (m_in.isEmpty() && !fill()) {
        if (!m_chunked && m_bodyLeft < 0 && m_peerClosed && !m_abort) {
            m_failure = Failure::None;
            m_bodyDone = true; // a body that ends with its connection
            return 0;
        }
        return -1;
    }
    const qint64 n = std::min<qint64>(max, m_in.size());
    std::copy_n(m_in.constData(), n, data);
    m_in.remove(0, n);
    if (m_chunked)
        m_chunkLeft -= n;
    else if (m_bodyLeft >= 0)
        m_bodyLeft -= n;
    return n;
}
