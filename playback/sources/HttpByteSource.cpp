#include "playback/sources/HttpByteSource.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace {

// How long one pause before a reconnect sleeps before the abort flag is
// looked at again.
constexpr int kPauseSliceMs = 50;
constexpr qsizetype kSkipBytes = 64 * 1024;

} // namespace

HttpByteSource::HttpByteSource(const QByteArray &url, const std::atomic<bool> &abort)
    : m_url(url), m_abort(abort), m_connection(abort, kReadTimeoutMs)
{
}

bool HttpByteSource::open(qint64 offset)
{
    if (offset < 0 || (m_size >= 0 && offset > m_size))
        return false;
    return connectTo(m_url, offset, 0);
}

bool HttpByteSource::connectTo(const QByteArray &url, qint64 offset, int redirects)
{
    HttpConnection::Target target;
    if (!HttpConnection::Target::parse(url, target)) {
        m_redirectedAway = redirects > 0;
        return false;
    }
    // A range from the first byte too: the answer's Content-Range then says
    // whether the server can start anywhere else.
    const QByteArray headers =
        "Accept-Encoding: identity\r\nRange: bytes=" + QByteArray::number(offset) + "-\r\n";
    if (!m_connection.get(target, headers) || m_abort)
        return false;
    const int status = m_connection.status();
    if (status >= 300 && status < 400 && status != 304) {
        const QByteArray location = m_connection.header("Location");
        if (location.isEmpty() || redirects >= kMaxRedirects)
            return false;
        return connectTo(target.resolve(location), offset, redirects + 1);
    }
    m_position = offset;
    if (status == 416 && m_size >= 0 && offset >= m_size) {
        m_connection.endBody(); // asked from the end: nothing more, and that is right
        return true;
    }
    if (status == 206) {
        // "bytes FIRST-LAST/TOTAL"
        const QByteArray range = m_connection.header("Content-Range");
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
    if (m_connection.bodyLength() >= 0)
        m_size = m_connection.bodyLength();
    m_position = 0;
    std::vector<char> skipped(kSkipBytes);
    while (m_position < offset) {
        const qint64 n = m_connection.readBody(skipped.data(),
                                               std::min<qint64>(kSkipBytes, offset - m_position));
        if (n <= 0)
            return false;
        m_position += n;
    }
    return true;
}

qint64 HttpByteSource::read(char *data, qint64 max)
{
    int failures = 0;
    while (!m_abort) {
        const qint64 n = m_connection.readBody(data, max);
        if (n >= 0) {
            m_position += n;
            return n;
        }
        // The connection dropped (or went quiet) before the body's end: a
        // new one from the byte reached, a little later each time.
        if (++failures > kMaxReconnects)
            break;
        for (int waited = 0; waited < 200 * failures && !m_abort; waited += kPauseSliceMs)
            std::this_thread::sleep_for(std::chrono::milliseconds(kPauseSliceMs));
        const qint64 resume = m_position;
        if (!m_abort && connectTo(m_url, resume, 0))
            m_position = resume;
    }
    return -1;
}
