// The plain-http client's reading of an answer, from whatever bytes a
// server sends before it closes: the head is taken or refused, the body
// (by length, chunked or to the close) comes out no longer than what was
// sent and never past an announced length, and every failure is one the
// client names.
#include "fuzz/FuzzCheck.h"
#include "net/HttpConnection.h"

#include <algorithm>
#include <cstdint>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // What fits a local socket's buffer at once: the answer is all there
    // before the client reads, and then the server is gone.
    size = std::min<size_t>(size, 96 * 1024);
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return 0;
    const int buffer = 256 * 1024;
    ::setsockopt(ends[1], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    ::setsockopt(ends[0], SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    ::fcntl(ends[0], F_SETFL, ::fcntl(ends[0], F_GETFL) | O_NONBLOCK);
    ::fcntl(ends[1], F_SETFL, ::fcntl(ends[1], F_GETFL) | O_NONBLOCK);
    size_t sent = 0;
    while (sent < size) {
        const ssize_t n = ::send(ends[1], data + sent, size - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += size_t(n);
    }
    ::close(ends[1]);

    const std::atomic<bool> abort{false};
    HttpConnection connection(abort, 1000);
    if (!connection.readAnswerFrom(ends[0])) {
        check(connection.failure() != HttpConnection::Failure::None);
        check(connection.status() == 0);
        return 0;
    }
    check(connection.status() >= 100 && connection.status() <= 999);
    char body[4096];
    qint64 total = 0;
    while (true) {
        const qint64 n = connection.readBody(body, sizeof body);
        check(n >= -1 && n <= qint64(sizeof body));
        if (n <= 0) {
            check(n == 0 || connection.failure() != HttpConnection::Failure::None);
            break;
        }
        total += n;
    }
    check(total <= qint64(sent));
    if (connection.bodyLength() >= 0)
        check(total <= connection.bodyLength());
    return 0;
}
