#include "tests/common/RawHttp.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace rawhttp {

int connectTo(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sendAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

namespace {

// Splits one whole answer off the front of `bytes`; false while incomplete.
bool takeAnswer(std::string &bytes, Answer &answer)
{
    const size_t headEnd = bytes.find("\r\n\r\n");
    if (headEnd == std::string::npos)
        return false;
    const std::string head = bytes.substr(0, headEnd + 2);
    size_t length = 0;
    for (const char *name : {"Content-Length:", "content-length:"}) {
        const size_t at = head.find(name);
        if (at != std::string::npos)
            length = std::strtoull(head.c_str() + at + 15, nullptr, 10);
    }
    if (bytes.size() < headEnd + 4 + length)
        return false;
    answer.status = head.size() > 12 ? std::atoi(head.c_str() + 9) : 0;
    answer.headers = head;
    answer.body = bytes.substr(headEnd + 4, length);
    bytes.erase(0, headEnd + 4 + length);
    return true;
}

} // namespace

std::vector<Answer> readAnswers(int fd, size_t count, std::chrono::milliseconds timeout,
                                bool *closed)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    std::vector<Answer> answers;
    std::string bytes;
    bool peerClosed = false;
    while (answers.size() < count) {
        Answer a;
        if (takeAnswer(bytes, a)) {
            answers.push_back(std::move(a));
            continue;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (peerClosed || left.count() <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char chunk[65536];
        const ssize_t n = ::recv(fd, chunk, sizeof(chunk), 0);
        if (n <= 0)
            peerClosed = true;
        else
            bytes.append(chunk, static_cast<size_t>(n));
    }
    if (closed) {
        // Whether the peer closes right after the answers it sent.
        if (!peerClosed) {
            pollfd p{fd, POLLIN, 0};
            char c;
            peerClosed = ::poll(&p, 1, 200) > 0 && ::recv(fd, &c, 1, MSG_PEEK) <= 0;
        }
        *closed = peerClosed;
    }
    return answers;
}

Answer ask(int port, std::string_view request, std::chrono::milliseconds timeout)
{
    const int fd = connectTo(port);
    if (fd < 0)
        return {};
    Answer answer;
    if (sendAll(fd, request)) {
        auto answers = readAnswers(fd, 1, timeout);
        if (!answers.empty())
            answer = std::move(answers.front());
    }
    ::close(fd);
    return answer;
}

bool allowOpenFiles(size_t wanted)
{
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0)
        return false;
    if (files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    return files.rlim_cur >= wanted;
}

} // namespace rawhttp
