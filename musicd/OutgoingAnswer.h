// One answer on its way to a client: the bytes a worker wrote (status line,
// headers, a small body), then, for a body from a content provider (an
// audio file, a cached tune), the provider's bytes read a chunk at a time
// as the socket takes them. The connection loop writes it without ever
// blocking, so a client that reads slowly, or not at all, costs a socket
// and at most one chunk of memory, never a worker. The provider runs on the
// loop's thread: a file read there is a read of the next 32 KB, which the
// kernel's read-ahead has normally brought into memory already.
#pragma once

#include <httplib.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace musicd {

class OutgoingAnswer
{
public:
    // Largest piece asked of a provider at a time: the memory a stalled
    // client can hold on to.
    static constexpr size_t kBodyChunkBytes = 32 * 1024;

    enum class Progress {
        Done,    // everything is sent
        Blocked, // the socket takes no more for now
        Yielded, // the budget is spent; more can go at once
        Failed,  // the client went away, or the body ended short
    };

    OutgoingAnswer() = default;
    OutgoingAnswer(const OutgoingAnswer &) = delete;
    OutgoingAnswer &operator=(const OutgoingAnswer &) = delete;
    // A body not sent to the end is released as failed.
    ~OutgoingAnswer();

    // Appends bytes to send; false (nothing kept) once the buffered bytes
    // would pass `limit`.
    bool append(std::string_view bytes, size_t limit);
    // The body to follow the appended bytes: `length` bytes from `provider`,
    // which is called on the writing thread; `releaser` (may be empty) is
    // told at the end whether all of it went out.
    void setBody(httplib::ContentProvider provider, size_t length,
                 httplib::ContentProviderResourceReleaser releaser);

    bool pending() const { return m_sent < m_bytes.size() || m_bodyOffset < m_bodyEnd; }
    // Writes to a non-blocking socket until it blocks, all is sent, or
    // about `budget` bytes of body have been read for this call (so one
    // fast client cannot keep the writer from the others). `sentBytes`
    // (optional) gets how many bytes went out.
    Progress writeTo(int fd, size_t budget, size_t *sentBytes = nullptr);
    // Heap memory held for the bytes now (0 when none is).
    size_t bufferedBytes() const
    {
        return m_bytes.capacity() > std::string().capacity() ? m_bytes.capacity() : 0;
    }
    // Drops whatever is left (the releaser hears "failed").
    void clear();

private:
    bool readBody();
    void finishBody(bool complete);

    std::string m_bytes;
    size_t m_sent = 0;
    httplib::ContentProvider m_provider;
    httplib::ContentProviderResourceReleaser m_releaser;
    size_t m_bodyOffset = 0;
    size_t m_bodyEnd = 0;
};

} // namespace musicd
