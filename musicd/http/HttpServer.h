// velmor-musicd's HTTP server on GNU libmicrohttpd. The library reads the
// requests and writes the answers on its own epoll threads, without ever
// blocking on a client: a client that sends a byte now and then, or reads
// a long file slowly, costs a socket and a little memory, never a thread.
// A request that has arrived whole is put aside (the library's suspend)
// and goes to one of our workers, which runs its route and hands the
// answer back; so a slow search never holds up the connections the library
// thread serves. A streamed body (audio, pictures) is read a piece at a
// time on the library's thread as the client's socket drains.
//
// What the library does not do itself is done here: a request begun but
// not whole in time is answered 408 (the library would close it without a
// word), a body where none is taken or over the limit 413, connections
// past the limit 503 (the library would close them unanswered), and a
// connection's last request says Connection: close. Requests may come
// under a secret base path (/k/KEY), which is taken off before routing.
#pragma once

#include "musicd/http/HttpAnswer.h"
#include "musicd/http/HttpRequest.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

struct MHD_Daemon;
struct MHD_Connection;

namespace musicd {

class HttpServer
{
public:
    struct Limits
    {
        // Threads that build answers.
        size_t workers = 32;
        // The library's epoll threads, which read requests and write
        // answers (its thread pool).
        size_t ioThreads = 2;
        // Each connection's memory in the library: the request line and
        // headers must fit in it (a head of 36,000 bytes passes, one of
        // 40,000 is refused), and a streamed body goes out through it, so it
        // is also what a stalled reader holds. Over 32 KB the library maps
        // it on its own instead of taking it from the heap, so it goes back
        // to the system when the connection closes: with 16 KB from the heap
        // the service kept about 5 MiB more after 240 streaming clients left.
        size_t connectionMemoryBytes = 33 * 1024;
        // Bodies of methods that take one; methods that take none refuse any.
        size_t maxBodyBytes = 64 * 1024;
        // A connection with nothing going on is closed after this long (the
        // library counts whole seconds).
        std::chrono::seconds idleTimeout{5};
        // A request must arrive whole this long after its request line.
        std::chrono::milliseconds requestTimeout{10000};
        // A client that takes nothing of its answer for this long is
        // dropped. Generous: a stalled reader costs a socket and one piece
        // of memory, and a player whose read-ahead is full (or that is
        // paused) rightly stops reading for a while.
        std::chrono::seconds writeTimeout{30};
        size_t maxRequestsPerConnection = 100;
        // Connections beyond this are answered 503 and closed. Each may hold
        // a socket and an open file; the limit is also kept under half the
        // process's open-file limit.
        size_t maxConnections = 2048;
    };

    using Handler = std::function<void(const HttpRequest &, HttpAnswer &)>;
    using Logger = std::function<void(const HttpRequest &, const HttpAnswer &)>;

    // Where a route is served when the server has a base path.
    enum class Scope {
        UnderBasePath, // only under the base path when it is required
        Anywhere,      // with or without it (a protocol with its own login)
    };

    explicit HttpServer(Limits limits);
    HttpServer() : HttpServer(Limits()) {}
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Routes, tried in the order added: the pattern (ECMAScript) must match
    // the whole decoded path; its groups are in HttpRequest::matches. A GET
    // route answers HEAD as well. Set before bindAndListen().
    void get(const std::string &pattern, Handler handler, Scope scope = Scope::UnderBasePath);
    void post(const std::string &pattern, Handler handler, Scope scope = Scope::UnderBasePath);
    // What a request no route takes gets (by default an empty 404).
    void setFallback(Handler handler) { m_fallback = std::move(handler); }
    // Told of every routed answer, on a worker thread.
    void setLogger(Logger logger) { m_logger = std::move(logger); }
    // Requests under basePath ("/k/KEY") have it taken off before routing;
    // when required, a request outside it reaches only Anywhere routes.
    void setBasePath(std::string basePath, bool required);

    // Binds host:port (0 picks a free port) and listens with the system's
    // backlog. The port bound, or -1.
    int bindAndListen(const std::string &host, int port);
    // Serves until stopServing(); false when not bound or the library
    // cannot start.
    bool serve();
    // From any thread: serve() returns and every connection is closed.
    void stopServing();
    // Connections open now; for tests and figures.
    size_t openConnections() const { return m_openCount.load(); }

    struct Connection;
    struct Route;

private:
    struct Job;
    using Clock = std::chrono::steady_clock;

    void addRoute(const char *method, const std::string &pattern, Handler handler, Scope scope);
    void workerLoop();
    void sweepLoop();
    void run(Job &job);
    HttpRequest readRequest(MHD_Connection *mhd, Connection &c, const char *method);
    void submit(MHD_Connection *mhd, Connection &c, HttpRequest request);

    int onAccess(MHD_Connection *mhd, const char *method, const char *upload, size_t *uploadSize,
                 Connection &c);
    int queueAnswer(MHD_Connection *mhd, Connection &c);
    int refuse(MHD_Connection *mhd, Connection &c, int status);
    // The library's callbacks, which reach the members above.
    friend struct ServerCallbacks;

    Limits m_limits;
    std::vector<std::unique_ptr<Route>> m_routes;
    Handler m_fallback;
    Logger m_logger;
    std::string m_basePath;
    bool m_basePathRequired = false;

    int m_listenFd = -1;
    bool m_ipv6 = false;
    size_t m_maxConnections = 0;
    MHD_Daemon *m_daemon = nullptr;
    std::atomic<bool> m_stopping{false};
    std::atomic<size_t> m_openCount{0};

    // The connections open, for the sweep that answers 408.
    std::mutex m_connectionsMutex;
    std::unordered_set<Connection *> m_connections;

    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::condition_variable m_stopped;
    std::deque<std::unique_ptr<Job>> m_jobs;
    std::vector<std::thread> m_workers;
    std::thread m_sweeper;
};

} // namespace musicd
