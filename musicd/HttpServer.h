// velmor-musicd's HTTP server: the HTTP library's request handling (routes,
// answers, compression, logging) behind an accept and dispatch loop of our
// own. The library's loop gives every connection a worker for as long as it
// stays open and reads the request there, so a few dozen clients sending a
// byte now and then hold every worker; it listens with a backlog of 5, and
// it drops a second request already sent on a connection.
//
// Here one thread accepts (with the system's backlog) and gathers each
// request, head and body, without blocking; only a request that has fully
// arrived goes to a worker, which never waits on the client's sending. A
// request that does not arrive in time is answered 408, a body where none
// is taken or over the limit 413, without reading on; idle keep-alive
// connections cost a socket, not a worker. Requests sent back to back on one
// connection are answered in order.
#pragma once

#include "musicd/RequestHead.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <httplib.h>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace musicd {

class HttpServer : public httplib::Server
{
public:
    struct Limits
    {
        size_t workers = 32;
        RequestLimits request;
        // A connection with no request begun is closed after this long.
        std::chrono::milliseconds idleTimeout{5000};
        // A request must arrive whole this long after its first byte.
        std::chrono::milliseconds requestTimeout{10000};
        // A worker writing an answer gives up on a client that takes
        // nothing for this long.
        std::chrono::milliseconds writeTimeout{5000};
        size_t maxRequestsPerConnection = 100;
        // Open connections beyond this wait in the listen backlog.
        size_t maxConnections = 4096;
    };

    explicit HttpServer(Limits limits);
    HttpServer() : HttpServer(Limits()) {}
    ~HttpServer() override;

    // Binds host:port (0 picks a free port) and listens with the system's
    // backlog. The port bound, or -1.
    int bindAndListen(const std::string &host, int port);
    // Serves until stopServing(); false when not bound.
    bool serve();
    // From any thread: the loop ends and every connection is closed.
    void stopServing();

private:
    struct Connection;
    using Clock = std::chrono::steady_clock;

    void acceptAll();
    void readFrom(Connection &c);
    void expire(Clock::time_point now);
    void dispatch(int fd);
    void refuse(int fd, int status);
    void closeConnection(int fd);
    void watch(std::unique_ptr<Connection> c);
    void workerLoop();
    // Answers every whole request in the buffer; false when the connection
    // is done with and closed.
    bool answer(Connection &c);
    void giveBack(std::unique_ptr<Connection> c);
    void wake();

    Limits m_limits;
    int m_listenFd = -1;
    int m_epollFd = -1;
    int m_wakeFd = -1;
    std::atomic<bool> m_stopping{false};
    // Owned by the loop thread: the connections it watches, by descriptor.
    std::vector<std::unique_ptr<Connection>> m_watched;
    size_t m_open = 0; // watched, lingering and at the workers
    bool m_acceptPaused = false;

    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<std::unique_ptr<Connection>> m_work;     // whole requests for the workers
    std::deque<std::unique_ptr<Connection>> m_returned; // back from the workers
    size_t m_closedByWorkers = 0;
    std::vector<std::thread> m_workers;
};

} // namespace musicd
