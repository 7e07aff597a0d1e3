// velmor-musicd's HTTP server: the HTTP library's request handling (routes,
// answers, compression, logging) behind an accept, dispatch and write loop
// of our own. The library's loop gives every connection a worker for as
// long as it stays open, reading the request and writing the answer there,
// so a few dozen clients sending a byte now and then, or reading a long
// file slowly, hold every worker; it listens with a backlog of 5, and it
// drops a second request already sent on a connection.
//
// Here one thread accepts (with the system's backlog), gathers each
// request, head and body, without blocking, and writes each answer without
// blocking as the client takes it. Only a request that has fully arrived
// goes to a worker, which builds the answer in memory and hands it back:
// headers and small bodies as bytes, a body from a content provider (audio,
// pictures) as the provider itself, read a chunk at a time by the loop as
// the socket drains. So no worker ever waits on a client, and a streaming
// client holds one chunk of memory at most.
//
// A request that does not arrive in time is answered 408, a body where none
// is taken or over the limit 413, without reading on; a client that takes
// nothing of its answer for a while is dropped; connections past the limit
// are answered 503 and closed. Idle keep-alive connections cost a socket,
// not a worker. Requests sent back to back on one connection are answered
// in order, each once the answer before it has gone out.
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
        // A client that takes nothing of its answer for this long is
        // dropped. Generous: a stalled reader costs a socket and one chunk,
        // and a player whose read-ahead is full (or that is paused) rightly
        // stops reading for a while.
        std::chrono::milliseconds writeTimeout{30000};
        size_t maxRequestsPerConnection = 100;
        // Connections beyond this are answered 503 and closed. Each may hold
        // a socket, an open file and one chunk of a body; the limit is also
        // kept under half the process's open-file limit.
        size_t maxConnections = 2048;
        // An answer a worker builds in memory (everything but a provider's
        // body) larger than this is not sent: the connection is closed.
        size_t maxBufferedAnswerBytes = 8 * 1024 * 1024;
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
    // Connections open now (reading, writing, at a worker, or refused and
    // about to close); for tests and figures.
    size_t openConnections() const { return m_openCount.load(); }

private:
    struct Connection;
    using Clock = std::chrono::steady_clock;

    void acceptAll();
    void readFrom(Connection &c);
    void writeTo(Connection &c);
    // After an answer has gone out: the next request, or waiting for one.
    void carryOn(Connection &c);
    void expire(Clock::time_point now);
    void dispatch(int fd);
    void refuse(int fd, int status);
    void closeConnection(int fd);
    void watch(std::unique_ptr<Connection> c);
    // Sets what the loop watches the connection for (0: nothing).
    bool listenForEvents(Connection &c, uint32_t events);
    void workerLoop();
    // Builds the answer to the first request in the buffer.
    void answer(Connection &c);
    void giveBack(std::unique_ptr<Connection> c);
    void wake();
    // Takes a content provider's body out of a finished response so the
    // loop streams it instead of the worker.
    void takeBody(const httplib::Request &req, httplib::Response &res);

    Limits m_limits;
    int m_listenFd = -1;
    int m_epollFd = -1;
    int m_wakeFd = -1;
    std::atomic<bool> m_stopping{false};
    // Owned by the loop thread: the connections it watches, by descriptor.
    std::vector<std::unique_ptr<Connection>> m_watched;
    size_t m_open = 0;    // watched, lingering and at the workers
    size_t m_refused = 0; // of those, refused for being over the limit
    size_t m_maxConnections = 0;
    std::atomic<size_t> m_openCount{0};
    bool m_acceptPaused = false;
    Clock::time_point m_acceptAgain; // after running out of descriptors

    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<std::unique_ptr<Connection>> m_work;     // whole requests for the workers
    std::deque<std::unique_ptr<Connection>> m_returned; // back from the workers
    std::vector<std::thread> m_workers;
};

} // namespace musicd
