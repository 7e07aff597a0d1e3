#include "musicd/http/HttpServer.h"

#include "musicd/http/GzipText.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <strings.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace musicd {
namespace {

// How often the sweep looks for requests that did not arrive in time.
constexpr auto kSweepInterval = std::chrono::milliseconds(100);
// Descriptors kept free of connections: listening, epoll, logs, the index.
constexpr size_t kReservedFiles = 64;
// Connections past the limit that may be open at once to be answered 503;
// past these the library closes a new connection at once, unanswered.
constexpr size_t kMaxRefusing = 64;
// The largest piece of a streamed body read at a time: the memory a stalled
// client holds (the library sends it from the connection's own memory,
// which may hold less).
constexpr size_t kStreamBlockBytes = 32 * 1024;

enum Phase : int {
    Idle,    // between requests
    Reading, // the request line is in, the headers are coming
    Taking,  // the headers are in; a body may be coming
    Working, // at a worker (the connection is suspended)
    Ready,   // the worker's answer waits to be queued
    Sending, // the answer is going out
    Expired, // answered 408 by the sweep: nothing more is done
};

unsigned int wholeSeconds(std::chrono::milliseconds ms)
{
    return static_cast<unsigned int>((ms.count() + 999) / 1000);
}

// Decodes %XX (a malformed escape stays as it is) and, in a query, '+'.
std::string percentDecoded(std::string_view text, bool plusIsSpace)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        if (ch == '%' && i + 2 < text.size() && isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else if (ch == '+' && plusIsSpace) {
            out += ' ';
        } else {
            out += ch;
        }
    }
    return out;
}

void parseQuery(std::string_view query, std::vector<std::pair<std::string, std::string>> &params)
{
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view item = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (item.empty())
            continue;
        const size_t eq = item.find('=');
        params.emplace_back(percentDecoded(item.substr(0, eq), true),
                            eq == std::string_view::npos
                                ? std::string()
                                : percentDecoded(item.substr(eq + 1), true));
    }
}

bool isDigits(const std::string &text)
{
    return !text.empty() && text.size() <= 18 &&
           text.find_first_not_of("0123456789") == std::string::npos;
}

bool takesBody(const std::string &method)
{
    return method == "POST" || method == "PUT" || method == "PATCH";
}

// Whether the client takes gzip: offered, and not with q=0.
bool acceptsGzip(const std::string &acceptEncoding)
{
    size_t from = 0;
    while (from < acceptEncoding.size()) {
        size_t comma = acceptEncoding.find(',', from);
        if (comma == std::string::npos)
            comma = acceptEncoding.size();
        std::string token = acceptEncoding.substr(from, comma - from);
        from = comma + 1;
        token.erase(0, token.find_first_not_of(" \t"));
        const size_t semicolon = token.find(';');
        std::string name = token.substr(0, semicolon);
        name.erase(name.find_last_not_of(" \t") + 1);
        if (strcasecmp(name.c_str(), "gzip") != 0)
            continue;
        if (semicolon == std::string::npos)
            return true;
        std::string q = token.substr(semicolon + 1);
        q.erase(std::remove(q.begin(), q.end(), ' '), q.end());
        return q.rfind("q=0", 0) != 0 || q.find_first_of("123456789", 3) != std::string::npos;
    }
    return false;
}

bool compressible(const std::string &type)
{
    return type.rfind("text/", 0) == 0 || type.rfind("application/json", 0) == 0;
}

} // namespace

struct HttpServer::Route
{
    std::string method;
    std::regex pattern;
    Handler handler;
    Scope scope;
};

struct HttpServer::Connection
{
    MHD_Connection *mhd = nullptr;
    int fd = -1;
    bool overLimit = false;
    size_t served = 0;
    std::string peer;
    std::atomic<int> phase{Idle};
    Clock::time_point begun;
    std::string target; // as sent, the base path in it
    size_t bodyExpected = 0;
    HttpRequest request;
    HttpAnswer answer;
};

struct HttpServer::Job
{
    HttpServer::Connection *connection;
};

// The library calls plain functions; these reach the server's members.
struct ServerCallbacks
{
    static MHD_Result access(void *cls, MHD_Connection *mhd, const char *, const char *method,
                             const char *, const char *upload, size_t *uploadSize,
                             void **requestContext)
    {
        auto *server = static_cast<HttpServer *>(cls);
        auto *c = static_cast<HttpServer::Connection *>(*requestContext);
        if (!c)
            return MHD_NO;
        return server->onAccess(mhd, method, upload, uploadSize, *c) == MHD_YES ? MHD_YES : MHD_NO;
    }

    // The request line is in: the request has begun, and its own time-out
    // (ours, answered 408) runs instead of the idle one.
    static void *uri(void *cls, const char *uri, MHD_Connection *mhd)
    {
        auto *server = static_cast<HttpServer *>(cls);
        const MHD_ConnectionInfo *info =
            MHD_get_connection_info(mhd, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        if (!info || !info->socket_context)
            return nullptr;
        auto *c = static_cast<HttpServer::Connection *>(info->socket_context);
        c->target = uri ? uri : "";
        c->begun = HttpServer::Clock::now();
        c->phase.store(Reading, std::memory_order_release);
        MHD_set_connection_option(mhd, MHD_CONNECTION_OPTION_TIMEOUT,
                                  wholeSeconds(server->m_limits.requestTimeout) + 1);
        return c;
    }

    static void connection(void *cls, MHD_Connection *mhd, void **socketContext,
                           MHD_ConnectionNotificationCode event)
    {
        auto *server = static_cast<HttpServer *>(cls);
        if (event == MHD_CONNECTION_NOTIFY_STARTED) {
            auto *c = new HttpServer::Connection;
            c->mhd = mhd;
            const MHD_ConnectionInfo *fd =
                MHD_get_connection_info(mhd, MHD_CONNECTION_INFO_CONNECTION_FD);
            c->fd = fd ? fd->connect_fd : -1;
            const MHD_ConnectionInfo *addr =
                MHD_get_connection_info(mhd, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
            if (addr && addr->client_addr) {
                char host[NI_MAXHOST] = {};
                const socklen_t len = addr->client_addr->sa_family == AF_INET6
                                          ? sizeof(sockaddr_in6)
                                          : sizeof(sockaddr_in);
                if (getnameinfo(addr->client_addr, len, host, sizeof(host), nullptr, 0,
                                NI_NUMERICHOST) == 0)
                    c->peer = host;
            }
            // Headers and body leave in separate writes; with Nagle on, the
            // body waits for the client's delayed ACK on a reused connection.
            int yes = 1;
            setsockopt(c->fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof(yes));
            const size_t open = ++server->m_openCount;
            c->overLimit = open > server->m_maxConnections;
            std::lock_guard<std::mutex> lock(server->m_connectionsMutex);
            server->m_connections.insert(c);
            *socketContext = c;
        } else if (event == MHD_CONNECTION_NOTIFY_CLOSED) {
            auto *c = static_cast<HttpServer::Connection *>(*socketContext);
            if (!c)
                return;
            {
                std::lock_guard<std::mutex> lock(server->m_connectionsMutex);
                server->m_connections.erase(c);
            }
            --server->m_openCount;
            delete c;
            *socketContext = nullptr;
        }
    }

    static void completed(void *cls, MHD_Connection *mhd, void **requestContext,
                          MHD_RequestTerminationCode reason)
    {
        auto *server = static_cast<HttpServer *>(cls);
        auto *c = static_cast<HttpServer::Connection *>(*requestContext);
        if (!c)
            return;
        const bool whole = reason == MHD_REQUEST_TERMINATED_COMPLETED_OK;
        if (c->answer.stream && c->answer.stream->finished)
            c->answer.stream->finished(whole);
        c->answer = HttpAnswer();
        c->request = HttpRequest();
        c->phase.store(Idle, std::memory_order_release);
        // Waiting for the next request: the idle time-out again.
        if (whole)
            MHD_set_connection_option(
                mhd, MHD_CONNECTION_OPTION_TIMEOUT,
                static_cast<unsigned int>(server->m_limits.idleTimeout.count()));
    }

    static ssize_t read(void *cls, uint64_t position, char *buffer, size_t max)
    {
        auto &stream = *static_cast<std::shared_ptr<HttpAnswer::Stream> *>(cls);
        if (position >= stream->length)
            return MHD_CONTENT_READER_END_OF_STREAM;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(max, stream->length - position));
        const ssize_t n = stream->read(position, buffer, want);
        // A body that ends short (a file that shrank) closes the connection:
        // the client sees a short body, never another answer's bytes.
        return n > 0 ? n : MHD_CONTENT_READER_END_WITH_ERROR;
    }

    static void release(void *cls)
    {
        delete static_cast<std::shared_ptr<HttpAnswer::Stream> *>(cls);
    }

    static void releaseShared(void *cls)
    {
        delete static_cast<std::shared_ptr<HttpAnswer::Shared> *>(cls);
    }

    static MHD_Result header(void *cls, MHD_ValueKind, const char *key, const char *value)
    {
        static_cast<HttpRequest *>(cls)->headers.emplace_back(key ? key : "", value ? value : "");
        return MHD_YES;
    }
};

HttpServer::HttpServer(Limits limits) : m_limits(limits), m_maxConnections(limits.maxConnections) {}

HttpServer::~HttpServer()
{
    stopServing();
    if (m_daemon)
        MHD_stop_daemon(m_daemon);
    if (m_listenFd >= 0)
        ::close(m_listenFd);
}

void HttpServer::addRoute(const char *method, const std::string &pattern, Handler handler,
                          Scope scope)
{
    m_routes.push_back(std::make_unique<Route>(
        Route{method, std::regex(pattern, std::regex::ECMAScript), std::move(handler), scope}));
}

void HttpServer::get(const std::string &pattern, Handler handler, Scope scope)
{
    addRoute("GET", pattern, std::move(handler), scope);
}

void HttpServer::post(const std::string &pattern, Handler handler, Scope scope)
{
    addRoute("POST", pattern, std::move(handler), scope);
}

void HttpServer::setBasePath(std::string basePath, bool required)
{
    while (!basePath.empty() && basePath.back() == '/')
        basePath.pop_back();
    m_basePath = std::move(basePath);
    m_basePathRequired = required && !m_basePath.empty();
}

int HttpServer::bindAndListen(const std::string &host, int port)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
    addrinfo *found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found)
        return -1;
    const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    m_ipv6 = found->ai_family == AF_INET6;
    // SO_REUSEADDR alone allows a quick restart while old connections sit
    // in TIME_WAIT, and a busy port still fails to bind, as it should (no
    // SO_REUSEPORT, which would let a second service share the port).
    int yes = 1;
    const bool ok = fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes)) == 0 &&
                    ::bind(fd, found->ai_addr, found->ai_addrlen) == 0 &&
                    ::listen(fd, SOMAXCONN) == 0;
    freeaddrinfo(found);
    if (!ok) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    sockaddr_storage bound{};
    socklen_t len = sizeof(bound);
    getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &len);
    m_listenFd = fd;
    // Each connection may hold its socket and a file it streams; a few
    // descriptors stay for everything else.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
        const size_t allowed = static_cast<size_t>(files.rlim_cur);
        const size_t reserved = kReservedFiles + kMaxRefusing;
        m_maxConnections = std::min(m_limits.maxConnections,
                                    allowed > reserved ? (allowed - reserved) / 2 : size_t(1));
    }
    return ntohs(bound.ss_family == AF_INET6
                     ? reinterpret_cast<const sockaddr_in6 &>(bound).sin6_port
                     : reinterpret_cast<const sockaddr_in &>(bound).sin_port);
}

bool HttpServer::serve()
{
    if (m_listenFd < 0 || m_stopping.load())
        return false;
    const unsigned int flags =
        MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | (m_ipv6 ? MHD_USE_IPv6 : 0);
    const unsigned int ioThreads =
        static_cast<unsigned int>(std::max<size_t>(1, m_limits.ioThreads));
    m_daemon = MHD_start_daemon(
        flags, 0, nullptr, nullptr, &ServerCallbacks::access, this, MHD_OPTION_LISTEN_SOCKET,
        m_listenFd, MHD_OPTION_THREAD_POOL_SIZE, ioThreads, MHD_OPTION_CONNECTION_LIMIT,
        static_cast<unsigned int>(m_maxConnections + kMaxRefusing), MHD_OPTION_CONNECTION_TIMEOUT,
        static_cast<unsigned int>(m_limits.idleTimeout.count()), MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        m_limits.connectionMemoryBytes, MHD_OPTION_NOTIFY_CONNECTION, &ServerCallbacks::connection,
        this, MHD_OPTION_NOTIFY_COMPLETED, &ServerCallbacks::completed, this,
        MHD_OPTION_URI_LOG_CALLBACK, &ServerCallbacks::uri, this, MHD_OPTION_END);
    if (!m_daemon)
        return false;
    m_listenFd = -1; // the library's now: MHD_stop_daemon closes it
    for (size_t i = 0; i < m_limits.workers; ++i)
        m_workers.emplace_back([this] { workerLoop(); });
    m_sweeper = std::thread([this] { sweepLoop(); });

    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_stopped.wait(lock, [this] { return m_stopping.load(); });
    }
    // The workers finish what they hold (a job left waiting is answered
    // 503) and resume their connections before the library goes.
    m_ready.notify_all();
    for (auto &t : m_workers)
        t.join();
    m_workers.clear();
    m_sweeper.join();
    MHD_stop_daemon(m_daemon);
    m_daemon = nullptr;
    return true;
}

void HttpServer::stopServing()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_stopped.notify_all();
    m_ready.notify_all();
}

void HttpServer::sweepLoop()
{
    static const char kTimedOut[] = "HTTP/1.1 408 Request Timeout\r\nContent-Length: 0\r\n"
                                    "Connection: close\r\n\r\n";
    std::unique_lock<std::mutex> stop(m_mutex);
    while (!m_stopped.wait_for(stop, kSweepInterval, [this] { return m_stopping.load(); })) {
        const auto now = Clock::now();
        std::lock_guard<std::mutex> lock(m_connectionsMutex);
        for (Connection *c : m_connections) {
            if (c->phase.load(std::memory_order_acquire) != Reading ||
                now - c->begun < m_limits.requestTimeout)
                continue;
            int expected = Reading;
            if (!c->phase.compare_exchange_strong(expected, Expired))
                continue; // its headers came in just now
            // The library closes a late request without a word; the client
            // is told instead. Nothing of an answer has been written (the
            // headers are not all in), and the library, finding the socket
            // shut, closes the connection. A connection closes only after
            // it is taken out of this set, under this lock, so its socket
            // is still its own here.
            [[maybe_unused]] const ssize_t n =
                ::send(c->fd, kTimedOut, sizeof(kTimedOut) - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            ::shutdown(c->fd, SHUT_RDWR);
        }
    }
}

int HttpServer::refuse(MHD_Connection *mhd, Connection &c, int status)
{
    MHD_Response *response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    if (status == MHD_HTTP_SERVICE_UNAVAILABLE)
        MHD_add_response_header(response, MHD_HTTP_HEADER_RETRY_AFTER, "1");
    c.phase.store(Sending);
    const MHD_Result queued = MHD_queue_response(mhd, static_cast<unsigned int>(status), response);
    MHD_destroy_response(response);
    return queued;
}

int HttpServer::onAccess(MHD_Connection *mhd, const char *method, const char *upload,
                         size_t *uploadSize, Connection &c)
{
    const int phase = c.phase.load(std::memory_order_acquire);
    if (phase == Reading) {
        int expected = Reading;
        if (!c.phase.compare_exchange_strong(expected, Taking))
            return MHD_NO; // answered 408 by the sweep
        ++c.served;
        if (c.overLimit || m_stopping.load())
            return refuse(mhd, c, MHD_HTTP_SERVICE_UNAVAILABLE);
        c.request = readRequest(mhd, c, method);
        const HttpRequest &r = c.request;
        const size_t lengths = r.headerCount("Content-Length");
        const bool chunked = r.hasHeader("Transfer-Encoding");
        const std::string length = r.header("Content-Length");
        // The answer to each is decided before any of a body is read, so a
        // client announcing 500 MB has sent the kernel's buffers' worth at
        // most when the connection closes.
        if (lengths > 1 || (lengths == 1 && chunked) || (lengths == 1 && !isDigits(length)))
            return refuse(mhd, c, MHD_HTTP_BAD_REQUEST);
        if (!takesBody(r.method)) {
            if (chunked || (lengths == 1 && std::stoull(length) > 0))
                return refuse(mhd, c, MHD_HTTP_CONTENT_TOO_LARGE);
        } else if (chunked) {
            return refuse(mhd, c, MHD_HTTP_LENGTH_REQUIRED);
        } else if (lengths == 1 && std::stoull(length) > m_limits.maxBodyBytes) {
            return refuse(mhd, c, MHD_HTTP_CONTENT_TOO_LARGE);
        }
        c.bodyExpected = lengths == 1 ? std::stoull(length) : 0;
        return MHD_YES;
    }
    if (phase == Taking) {
        if (*uploadSize > 0) {
            const size_t room = c.bodyExpected - std::min(c.bodyExpected, c.request.body.size());
            c.request.body.append(upload, std::min(room, *uploadSize));
            *uploadSize = 0;
            return MHD_YES;
        }
        // A form's fields join the query's, as the form was sent instead
        // of a query string.
        if (c.request.header("Content-Type").rfind("application/x-www-form-urlencoded", 0) == 0)
            parseQuery(c.request.body, c.request.params);
        c.phase.store(Working);
        MHD_suspend_connection(mhd);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_jobs.push_back(std::make_unique<Job>(Job{&c}));
        }
        m_ready.notify_one();
        return MHD_YES;
    }
    if (phase == Ready)
        return queueAnswer(mhd, c);
    return MHD_YES;
}

HttpRequest HttpServer::readRequest(MHD_Connection *mhd, Connection &c, const char *method)
{
    HttpRequest r;
    r.method = method ? method : "";
    r.peer = c.peer;
    MHD_get_connection_values(mhd, MHD_HEADER_KIND, &ServerCallbacks::header, &r);
    r.host = r.header("Host");
    std::string_view target = c.target;
    // The base path, when there is one, is cut off first; what is logged
    // and routed is the rest.
    if (!m_basePath.empty() && target.substr(0, m_basePath.size()) == m_basePath &&
        target.size() > m_basePath.size() && target[m_basePath.size()] == '/') {
        r.basePath = m_basePath;
        target.remove_prefix(m_basePath.size());
    }
    r.target = std::string(target);
    const size_t question = target.find('?');
    r.path = percentDecoded(target.substr(0, question), false);
    if (question != std::string_view::npos)
        parseQuery(target.substr(question + 1), r.params);
    return r;
}

void HttpServer::workerLoop()
{
    for (;;) {
        std::unique_ptr<Job> job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_ready.wait(lock, [this] { return m_stopping.load() || !m_jobs.empty(); });
            if (m_jobs.empty())
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        Connection &c = *job->connection;
        if (m_stopping.load()) {
            c.answer = HttpAnswer();
            c.answer.status = MHD_HTTP_SERVICE_UNAVAILABLE;
        } else {
            run(*job);
        }
        c.phase.store(Ready, std::memory_order_release);
        MHD_resume_connection(c.mhd);
    }
}

void HttpServer::run(Job &job)
{
    Connection &c = *job.connection;
    HttpRequest &r = c.request;
    HttpAnswer &a = c.answer;
    const std::string method = r.method == "HEAD" ? std::string("GET") : r.method;
    const bool outside = m_basePathRequired && r.basePath.empty();
    const Route *route = nullptr;
    for (const auto &candidate : m_routes) {
        if (candidate->method != method || (outside && candidate->scope != Scope::Anywhere))
            continue;
        std::smatch m;
        if (std::regex_match(r.path, m, candidate->pattern)) {
            for (const auto &group : m)
                r.matches.push_back(group.str());
            route = candidate.get();
            break;
        }
    }
    if (route) {
        route->handler(r, a);
    } else if (m_fallback) {
        a.status = 404;
        m_fallback(r, a);
    } else {
        a.status = 404;
    }
    // Text is sent gzipped to a client that takes it (compressing here, on
    // a worker, not on the library's thread that serves the connections).
    if (!a.stream && !a.body.empty() && compressible(a.contentType) &&
        acceptsGzip(r.header("Accept-Encoding"))) {
        std::string packed;
        if (gzipText(a.body, packed) && packed.size() < a.body.size()) {
            a.body = std::move(packed);
            a.setHeader("Content-Encoding", "gzip");
        }
    }
    if (!a.stream && compressible(a.contentType))
        a.setHeader("Vary", "Accept-Encoding");
    if (m_logger)
        m_logger(r, a);
}

int HttpServer::queueAnswer(MHD_Connection *mhd, Connection &c)
{
    HttpAnswer &a = c.answer;
    MHD_Response *response = nullptr;
    if (a.stream) {
        response = MHD_create_response_from_callback(
            a.stream->length, kStreamBlockBytes, &ServerCallbacks::read,
            new std::shared_ptr<HttpAnswer::Stream>(a.stream), &ServerCallbacks::release);
    } else if (a.shared) {
        // The library only reads the bytes; the owner outlives the response.
        response = MHD_create_response_from_buffer_with_free_callback_cls(
            a.shared->size, const_cast<char *>(a.shared->data), &ServerCallbacks::releaseShared,
            new std::shared_ptr<HttpAnswer::Shared>(a.shared));
    } else {
        response =
            MHD_create_response_from_buffer(a.body.size(), a.body.data(), MHD_RESPMEM_MUST_COPY);
    }
    if (!response)
        return MHD_NO;
    for (const auto &[name, value] : a.headers)
        MHD_add_response_header(response, name.c_str(), value.c_str());
    if (!a.contentType.empty())
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, a.contentType.c_str());
    if (c.served >= m_limits.maxRequestsPerConnection || m_stopping.load())
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    c.phase.store(Sending);
    // A client that takes nothing of its answer for this long is dropped.
    MHD_set_connection_option(mhd, MHD_CONNECTION_OPTION_TIMEOUT,
                              static_cast<unsigned int>(m_limits.writeTimeout.count()));
    const MHD_Result queued =
        MHD_queue_response(mhd, static_cast<unsigned int>(a.status), response);
    MHD_destroy_response(response);
    return queued;
}

} // namespace musicd
