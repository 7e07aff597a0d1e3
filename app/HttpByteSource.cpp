#include "app/HttpByteSource.h"

#include <QList>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// How long one poll() waits before the abort flag is looked at again.
constexpr int kPollSliceMs = 50;
// A status line and headers longer than this are not an answer we read.
constexpr qsizetype kMaxHeaderBytes = 64 * 1024;
constexpr qsizetype kReceiveBytes = 64 * 1024;

struct ParsedUrl
{
    QByteArray host;
    QByteArray port = "80";
    QByteArray target = "/";
};

bool parseUrl(const QByteArray &url, ParsedUrl &out)
{
    if (!url.startsWith("http://"))
        return false;
    const QByteArray rest = url.mid(7);
    const qsizetype slash = rest.indexOf('/');
    QByteArray authority = slash < 0 ? rest : rest.left(slash);
    if (slash >= 0)
        out.target = rest.mid(slash);
    const qsizetype at = authority.lastIndexOf('@');
    if (at >= 0)
        authority = authority.mid(at + 1);
    if (authority.startsWith('[')) {
        const qsizetype close = authority.indexOf(']');
        if (close < 0)
            return false;
        out.host = authority.mid(1, close - 1);
        if (authority.size() > close + 1 && authority.at(close + 1) == ':')
            out.port = authority.mid(close + 2);
    } else {
        const qsizetype colon = authority.indexOf(':');
        out.host = colon < 0 ? authority : authority.left(colon);
        if (colon >= 0)
            out.port = authority.mid(colon + 1);
    }
    const qsizetype hash = out.target.indexOf('#');
    if (hash >= 0)
        out.target.truncate(hash);
    return !out.host.isEmpty() && !out.port.isEmpty();
}

QByteArray headerValue(const QList<QByteArray> &headers, const QByteArray &name)
{
    for (const QByteArray &line : headers) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

} // namespace

HttpByteSource::HttpByteSource(const QByteArray &url, const std::atomic<bool> &abort)
    : m_url(url), m_abort(abort)
{
}

HttpByteSource::~HttpByteSource()
{
    closeSocket();
}

QByteArray HttpByteSource::userAgent()
{
    return QStringLiteral("Velmor/%1.%2.%3")
        .arg(VELMOR_VERSION_MAJOR)
        .arg(VELMOR_VERSION_MINOR)
        .arg(VELMOR_VERSION_PATCH)
        .toLatin1();
}

void HttpByteSource::closeSocket()
{
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
    m_in.clear();
}

bool HttpByteSource::open(qint64 offset)
{
    if (offset < 0 || (m_size >= 0 && offset > m_size))
        return false;
    return connectTo(m_url, offset, 0);
}

bool HttpByteSource::connectSocket(const QByteArray &host, const QByteArray &port)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (::getaddrinfo(host.constData(), port.constData(), &hints, &found) != 0)
        return false;
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
        for (int waited = 0; waited < kReadTimeoutMs && !m_abort; waited += kPollSliceMs) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, kPollSliceMs) > 0) {
                int error = 0;
                socklen_t length = sizeof error;
                connected =
                    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
                break;
            }
        }
        if (connected)
            m_socket = fd;
        else
            ::close(fd);
    }
    ::freeaddrinfo(found);
    return m_socket >= 0;
}

bool HttpByteSource::sendAll(const QByteArray &bytes)
{
    qsizetype sent = 0;
    int waited = 0;
    while (sent < bytes.size()) {
        if (m_abort || waited >= kReadTimeoutMs)
            return false;
        const ssize_t n =
            ::send(m_socket, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
            waited = 0;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return false;
        pollfd p{m_socket, POLLOUT, 0};
        ::poll(&p, 1, kPollSliceMs);
        waited += kPollSliceMs;
    }
    return true;
}

bool HttpByteSource::fill()
{
    char buffer[kReceiveBytes];
    for (int waited = 0; waited < kReadTimeoutMs && !m_abort;) {
        const ssize_t n = ::recv(m_socket, buffer, sizeof buffer, 0);
        if (n > 0) {
            m_in.append(buffer, n);
            return true;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            return false;
        pollfd p{m_socket, POLLIN, 0};
        if (::poll(&p, 1, kPollSliceMs) == 0)
            waited += kPollSliceMs;
    }
    return false;
}

bool HttpByteSource::readLine(QByteArray &line)
{
    while (true) {
        const qsizetype end = m_in.indexOf("\r\n");
        if (end >= 0) {
            line = m_in.left(end);
            m_in.remove(0, end + 2);
            return true;
        }
        if (m_in.size() > kMaxHeaderBytes || !fill())
            return false;
    }
}

bool HttpByteSource::connectTo(const QByteArray &url, qint64 offset, int redirects)
{
    closeSocket();
    ParsedUrl parsed;
    if (!parseUrl(url, parsed)) {
        m_redirectedAway = redirects > 0;
        return false;
    }
    if (!connectSocket(parsed.host, parsed.port))
        return false;
    const bool defaultPort = parsed.port == "80";
    const QByteArray hostHeader =
        (parsed.host.contains(':') ? '[' + parsed.host + ']' : parsed.host) +
        (defaultPort ? QByteArray() : ':' + parsed.port);
    // A range from the first byte too: the answer's Content-Range then says
    // whether the server can start anywhere else.
    const QByteArray request = "GET " + parsed.target + " HTTP/1.1\r\nHost: " + hostHeader +
                               "\r\nUser-Agent: " + userAgent() +
                               "\r\nAccept: */*\r\nAccept-Encoding: identity\r\nRange: bytes=" +
                               QByteArray::number(offset) + "-\r\nConnection: close\r\n\r\n";
    if (!sendAll(request))
        return false;
    QByteArray statusLine;
    if (!readLine(statusLine))
        return false;
    const QList<QByteArray> statusParts = statusLine.split(' ');
    if (statusParts.size() < 2 || !statusParts.at(0).startsWith("HTTP/1."))
        return false;
    const int status = statusParts.at(1).toInt();
    QList<QByteArray> headers;
    qsizetype headerBytes = 0;
    for (QByteArray line; readLine(line) && !line.isEmpty();) {
        headerBytes += line.size();
        if (headerBytes > kMaxHeaderBytes)
            return false;
        headers.append(line);
    }
    if (m_socket < 0 || m_abort)
        return false;

    if (status >= 300 && status < 400 && status != 304) {
        QByteArray location = headerValue(headers, "Location");
        if (location.isEmpty() || redirects >= kMaxRedirects)
            return false;
        if (location.startsWith('/') && !location.startsWith("//"))
            location = "http://" + hostHeader + location;
        if (!location.contains("://")) {
            const qsizetype slash = parsed.target.lastIndexOf('/');
            location = "http://" + hostHeader + parsed.target.left(slash + 1) + location;
        }
        return connectTo(location, offset, redirects + 1);
    }
    const QByteArray encoding = headerValue(headers, "Transfer-Encoding");
    m_chunked = encoding.toLower().contains("chunked");
    m_chunkLeft = 0;
    m_bodyDone = false;
    const QByteArray lengthText = headerValue(headers, "Content-Length");
    bool lengthKnown = false;
    const qint64 length = lengthText.toLongLong(&lengthKnown);
    m_bodyLeft = !m_chunked && lengthKnown && length >= 0 ? length : -1;
    m_position = offset;
    if (status == 416 && m_size >= 0 && offset >= m_size) {
        m_bodyDone = true; // asked from the end: nothing more, and that is right
        return true;
    }
    if (status == 206) {
        // "bytes FIRST-LAST/TOTAL"
        const QByteArray range = headerValue(headers, "Content-Range");
        const qsizetype space = range.indexOf(' ');
        const qsizetype dash = range.indexOf('-');
        const qsizetype slash = range.indexOf('/');
        if (space < 0 || dash < space || slash < dash ||
            range.mid(space + 1, dash - space - 1).toLongLong() != offset)
            return false;
        bool totalKnown = false;
        const qint64 total = range.mid(slash + 1).toLongLong(&totalKnown);
        if (totalKnown)
            m_size = total;
        m_rangesHonoured = true;
        return true;
    }
    if (status != 200)
        return false;
    // The whole body from its first byte: no ranges here. Reading on to the
    // byte asked for is the only way there.
    m_rangesHonoured = false;
    if (m_bodyLeft >= 0)
        m_size = m_bodyLeft;
    m_position = 0;
    std::vector<char> skipped(kReceiveBytes);
    while (m_position < offset) {
        const qint64 n =
            readBody(skipped.data(), std::min<qint64>(kReceiveBytes, offset - m_position));
        if (n <= 0)
            return false;
        m_position += n;
    }
    return true;
}

qint64 HttpByteSource::readBody(char *data, qint64 max)
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
            if (!ok || m_chunkLeft < 0)
                return -1;
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
        if (!m_chunked && m_bodyLeft < 0 && !m_abort) {
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

qint64 HttpByteSource::read(char *data, qint64 max)
{
    int failures = 0;
    while (!m_abort) {
        const qint64 n = readBody(data, max);
        if (n >= 0) {
            m_position += n;
            return n;
        }
        // The connection dropped (or went quiet) before the body's end: a
        // new one from the byte reached, a little later each time.
        if (++failures > kMaxReconnects)
            break;
        for (int waited = 0; waited < 200 * failures && !m_abort; waited += kPollSliceMs)
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollSliceMs));
        const qint64 resume = m_position;
        if (!m_abort && connectTo(m_url, resume, 0))
            m_position = resume;
    }
    return -1;
}
