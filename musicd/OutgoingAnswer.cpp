#include "musicd/OutgoingAnswer.h"

#include <cerrno>
#include <sys/socket.h>

namespace musicd {
namespace {

// Unsent bytes below this are topped up with the next piece of body before
// a send, so the headers and the start of the body leave together.
constexpr size_t kTopUpBelow = 4 * 1024;

} // namespace

OutgoingAnswer::~OutgoingAnswer()
{
    finishBody(false);
}

bool OutgoingAnswer::append(std::string_view bytes, size_t limit)
{
    if (m_bytes.size() - m_sent + bytes.size() > limit)
        return false;
    m_bytes.append(bytes);
    return true;
}

void OutgoingAnswer::setBody(httplib::ContentProvider provider, size_t length,
                             httplib::ContentProviderResourceReleaser releaser)
{
    finishBody(false);
    m_provider = std::move(provider);
    m_releaser = std::move(releaser);
    m_bodyOffset = 0;
    m_bodyEnd = m_provider ? length : 0;
    if (m_bodyEnd == 0)
        finishBody(true);
}

void OutgoingAnswer::clear()
{
    finishBody(false);
    std::string().swap(m_bytes);
    m_sent = 0;
}

void OutgoingAnswer::finishBody(bool complete)
{
    m_provider = nullptr;
    m_bodyOffset = m_bodyEnd = 0;
    // Moved out first: a releaser may own what the provider captured.
    const httplib::ContentProviderResourceReleaser releaser = std::move(m_releaser);
    m_releaser = nullptr;
    if (releaser)
        releaser(complete);
}

bool OutgoingAnswer::readBody()
{
    // Bytes already sent leave the buffer, so it never holds more than a
    // small tail plus one chunk.
    m_bytes.erase(0, m_sent);
    m_sent = 0;
    const size_t left = m_bodyEnd - m_bodyOffset;
    const size_t want = std::min(kBodyChunkBytes, left);
    size_t taken = 0;
    httplib::DataSink sink;
    // A provider that writes past what was asked is cut at the length
    // announced, so a keep-alive connection's framing stays right.
    sink.write = [&](const char *data, size_t length) {
        const size_t n = std::min(length, left - taken);
        m_bytes.append(data, n);
        taken += n;
        return true;
    };
    sink.is_writable = [] { return true; };
    sink.done = [] {};
    bool ok = false;
    try {
        ok = m_provider(m_bodyOffset, want, sink);
    } catch (...) {
        ok = false;
    }
    // A provider that gives nothing would be asked again for ever.
    if (!ok || taken == 0)
        return false;
    m_bodyOffset += taken;
    return true;
}

OutgoingAnswer::Progress OutgoingAnswer::writeTo(int fd, size_t budget, size_t *sentBytes)
{
    size_t sent = 0;
    size_t read = 0;
    Progress result = Progress::Done;
    for (;;) {
        const bool bodyLeft = m_bodyOffset < m_bodyEnd;
        if (bodyLeft && m_bytes.size() - m_sent < kTopUpBelow) {
            if (read >= budget) {
                result = Progress::Yielded;
                break;
            }
            const size_t before = m_bytes.size() - m_sent;
            if (!readBody()) {
                result = Progress::Failed;
                break;
            }
            read += m_bytes.size() - before;
        }
        if (m_sent == m_bytes.size()) {
            // Nothing buffered and no body left: done.
            finishBody(true);
            std::string().swap(m_bytes);
            m_sent = 0;
            result = Progress::Done;
            break;
        }
        const ssize_t n = ::send(fd, m_bytes.data() + m_sent, m_bytes.size() - m_sent,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            m_sent += static_cast<size_t>(n);
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        result = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? Progress::Blocked
                                                                    : Progress::Failed;
        break;
    }
    if (m_sent == m_bytes.size() && m_sent > 0) {
        // Everything buffered went out: the memory goes back until the next
        // chunk is read.
        std::string().swap(m_bytes);
        m_sent = 0;
    }
    if (sentBytes)
        *sentBytes = sent;
    return result;
}

} // namespace musicd
