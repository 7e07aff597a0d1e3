#include "musicd/http/RequestLog.h"

#include <cerrno>
#include <thread>
#include <unistd.h>

namespace musicd {

RequestLog::RequestLog(int fd, size_t maxQueuedLines) : m_fd(fd), m_maxQueued(maxQueuedLines)
{
    std::thread([this] { run(); }).detach();
}

void RequestLog::add(std::string line)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_broken || m_queue.size() >= m_maxQueued)
            return;
        line += '\n';
        m_queue.push_back(std::move(line));
    }
    m_wake.notify_one();
}

void RequestLog::drain(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_idle.wait_for(lock, limit, [this] { return m_broken || (m_queue.empty() && !m_writing); });
}

void RequestLog::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return !m_queue.empty(); });
        std::string batch;
        while (!m_queue.empty()) {
            batch += m_queue.front();
            m_queue.pop_front();
        }
        m_writing = true;
        lock.unlock();
        const bool ok = writeAll(batch);
        lock.lock();
        m_writing = false;
        if (!ok) {
            m_broken = true;
            m_queue.clear();
        }
        m_idle.notify_all();
        if (m_broken)
            return;
    }
}

std::string RequestLog::redacted(const std::string &target)
{
    const size_t question = target.find('?');
    if (target.rfind("/rest/", 0) != 0 || question == std::string::npos)
        return target;
    std::string out = target.substr(0, question + 1);
    size_t from = question + 1;
    while (from <= target.size()) {
        size_t end = target.find('&', from);
        if (end == std::string::npos)
            end = target.size();
        const std::string pair = target.substr(from, end - from);
        const std::string name = pair.substr(0, pair.find('='));
        const bool secret = name == "p" || name == "t" || name == "s" || name == "apiKey";
        out += secret ? name + "=-" : pair;
        if (end < target.size())
            out += '&';
        from = end + 1;
    }
    return out;
}

bool RequestLog::writeAll(const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(m_fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace musicd
