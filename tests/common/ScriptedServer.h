// A loopback server that answers each connection with whatever its script
// says, byte for byte: heads no library server would send, bodies cut
// short, connections held open. On 127.0.0.1 with a free port, in a thread
// of its own; every request is kept.
#pragma once

#include <QByteArray>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

// Connections are served one after another.
class ScriptedServer
{
public:
    struct Answer
    {
        std::string head; // status line and headers, without the blank line
        std::string body;
        size_t sendBytes = std::string::npos; // of the body, then close
        bool stallAfter = false;              // hold the connection instead
        bool silent = false;                  // close without a byte
    };
    using Script = std::function<Answer(const std::string &request, int connection)>;

    explicit ScriptedServer(Script script) : m_script(std::move(script))
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(m_listener, 8);
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~ScriptedServer()
    {
        m_stopping = true;
        m_thread.join();
        ::close(m_listener);
    }
    QByteArray url(const char *path) const
    {
        return "http://127.0.0.1:" + QByteArray::number(m_port) + path;
    }
    std::vector<std::string> requests() const
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

private:
    void serve()
    {
        for (int connection = 0; !m_stopping;) {
            pollfd p{m_listener, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                request.append(buffer, size_t(n));
            }
            {
                std::lock_guard lock(m_mutex);
                m_requests.push_back(request);
            }
            const Answer answer = m_script(request, connection++);
            const std::string out =
                answer.head + "\r\n\r\n" +
                answer.body.substr(0, std::min(answer.sendBytes, answer.body.size()));
            if (!answer.silent)
                ::send(fd, out.data(), out.size(), MSG_NOSIGNAL);
            while (answer.stallAfter && !m_stopping)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ::close(fd);
        }
    }

    Script m_script;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
    std::thread m_thread;
};
