// The per-request log lines on stdout. Request threads only queue a line;
// one writer thread of its own writes them. Whoever started the service may
// not read its stdout for a while (a test that only reads it at the end):
// once the pipe is full the writer waits, the queue fills and further lines
// are dropped, but no request ever waits for the log.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

namespace musicd {

class RequestLog
{
public:
    // Starts the writer thread on fd. The object must outlive every add():
    // main creates it once and never destroys it.
    RequestLog(int fd, size_t maxQueuedLines);
    RequestLog(const RequestLog &) = delete;
    RequestLog &operator=(const RequestLog &) = delete;

    // Queues one line (a newline is added); drops it when the queue is full.
    void add(std::string line);
    // Waits until the queue is written or the time is up.
    void drain(std::chrono::milliseconds limit);

    // The request target as logged: a Subsonic request's secrets (p, t, s
    // and apiKey values) replaced by "-", everything else as it came.
    static std::string redacted(const std::string &target);

private:
    void run();
    bool writeAll(const std::string &text);

    const int m_fd;
    const size_t m_maxQueued;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::string> m_queue;
    bool m_writing = false;
    bool m_broken = false; // the reader went away: nothing more is written
};

} // namespace musicd
