// velmor-musicd's HTTP server over real sockets, under the attacks that
// starve a server with a thread per connection: bodies far too large,
// clients that send a byte now and then, clients that stop reading a long
// answer, a thousand connections at once, requests sent back to back, more
// connections than allowed; and the secret base path.
// The server runs in this process with a few workers and short time-outs,
// so each attack needs little time and few connections.
#include "musicd/http/HttpServer.h"
#include "tests/common/RawHttp.h"
#include "tests/hardening/ProcessMemory.h"

#include <QElapsedTimer>
#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

class HttpServerTest : public ::testing::Test
{
protected:
    void start(size_t workers = 4, std::chrono::seconds writeTimeout = 2s,
               size_t maxConnections = 1024, size_t maxRequestsPerConnection = 100,
               const std::string &basePath = std::string())
    {
        musicd::HttpServer::Limits limits;
        limits.workers = workers;
        limits.idleTimeout = 1s;
        limits.requestTimeout = 1500ms;
        limits.writeTimeout = writeTimeout;
        limits.maxConnections = maxConnections;
        limits.maxRequestsPerConnection = maxRequestsPerConnection;
        server = std::make_unique<musicd::HttpServer>(limits);
        using musicd::HttpAnswer;
        using musicd::HttpRequest;
        // n bytes of a pattern, produced as they are sent, as an audio file
        // is read; `finished` counts bodies sent whole and cut off.
        server->get("/big", [this](const HttpRequest &req, HttpAnswer &res) {
            const size_t n = std::stoul(req.param("n"));
            res.setStream(
                n, "application/octet-stream",
                [](uint64_t offset, char *buffer, size_t max) -> ssize_t {
                    const std::string bytes = patternBytes(offset, std::min<size_t>(max, 50000));
                    std::memcpy(buffer, bytes.data(), bytes.size());
                    return ssize_t(bytes.size());
                },
                [this](bool complete) { ++(complete ? bodiesSent : bodiesCut); });
        });
        server->get("/ok", [](const HttpRequest &, HttpAnswer &res) {
            res.setContent("ok", "text/plain");
        });
        server->get("/echo", [](const HttpRequest &req, HttpAnswer &res) {
            res.setContent(req.param("n"), "text/plain");
        });
        server->post("/post", [](const HttpRequest &req, HttpAnswer &res) {
            res.setContent(req.body, "text/plain");
        });
        server->get(
            "/rest/(.*)",
            [](const HttpRequest &req, HttpAnswer &res) {
                res.setContent("rest " + req.matches.at(1), "text/plain");
            },
            musicd::HttpServer::Scope::Anywhere);
        server->setLogger([this](const HttpRequest &req, const HttpAnswer &res) {
            std::lock_guard<std::mutex> lock(logMutex);
            logged.push_back(req.method + " " + req.target + " " + std::to_string(res.status) +
                             " " + req.basePath);
        });
        if (!basePath.empty())
            server->setBasePath(basePath, true);
        port = server->bindAndListen("127.0.0.1", 0);
        ASSERT_GT(port, 0);
        loop = std::thread([this] { server->serve(); });
    }
    void TearDown() override
    {
        if (server) {
            server->stopServing();
            loop.join();
        }
    }

    // Waits (a generous guard, not a timing) until the server holds
    // `count` connections or fewer.
    bool waitForOpenConnections(size_t count, std::chrono::seconds guard = 15s)
    {
        const auto deadline = std::chrono::steady_clock::now() + guard;
        while (server->openConnections() > count) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }

    static std::string patternBytes(size_t first, size_t count)
    {
        std::string s(count, '\0');
        for (size_t i = 0; i < count; ++i)
            s[i] = static_cast<char>(((first + i) * 7 + (first + i) / 251) & 0xff);
        return s;
    }

    std::unique_ptr<musicd::HttpServer> server;
    std::thread loop;
    int port = 0;
    std::atomic<int> bodiesSent{0};
    std::atomic<int> bodiesCut{0};
    std::mutex logMutex;
    std::vector<std::string> logged;
};

struct RefusalCase
{
    const char *what;
    std::string request;
    int status;
};

TEST_F(HttpServerTest, RequestsAreMeasuredBeforeAnyWorkerSeesThem)
{
    start();
    const RefusalCase cases[] = {
        {"body on GET", "GET /ok HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello", 413},
        {"chunked GET", "GET /ok HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", 413},
        {"500 MB announced", "POST /post HTTP/1.1\r\nContent-Length: 524288000\r\n\r\n", 413},
        {"just over the cap", "POST /post HTTP/1.1\r\nContent-Length: 65537\r\n\r\n", 413},
        {"chunked POST", "POST /post HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", 411},
        {"two lengths", "POST /post HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd",
         400},
        {"length not a number", "POST /post HTTP/1.1\r\nContent-Length: 4x\r\n\r\nabcd", 400},
        {"head too large", "GET /ok HTTP/1.1\r\nX-Filler: " + std::string(48000, 'a') + "\r\n\r\n",
         431},
        {"request line too long", "GET /" + std::string(48000, 'a'), 414},
        {"small body taken", "POST /post HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello", 200},
        {"plain GET", "GET /ok HTTP/1.1\r\nHost: x\r\n\r\n", 200},
    };
    for (const RefusalCase &c : cases)
        EXPECT_EQ(rawhttp::ask(port, c.request, 5s).status, c.status) << c.what;
}

// Four clients announce 500 MB each and keep sending: each gets 413 as soon
// as its head is in, and the server reads no further, so what the kernel
// takes from each client is bounded by its socket buffers, and the server's
// memory stays flat.
TEST_F(HttpServerTest, HugeBodiesAreRefusedWithoutBeingRead)
{
    start();
    constexpr size_t kOffered = size_t(64) << 20;
    const qint64 before = ProcessMemory::residentBytes();
    std::vector<std::thread> clients;
    std::vector<size_t> sent(4, 0);
    std::vector<int> statuses(4, 0);
    for (size_t i = 0; i < 4; ++i) {
        clients.emplace_back([&, i] {
            const int fd = rawhttp::connectTo(port);
            ASSERT_GE(fd, 0);
            timeval limit{2, 0}; // a send the server no longer reads gives up
            setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
            rawhttp::sendAll(fd, "POST /post HTTP/1.1\r\nContent-Length: 524288000\r\n\r\n");
            const std::string chunk(1 << 20, 'x');
            while (sent[i] < kOffered) {
                const ssize_t n = ::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent[i] += size_t(n);
            }
            const auto answers = rawhttp::readAnswers(fd, 1, 3s);
            statuses[i] = answers.empty() ? 0 : answers.front().status;
            ::close(fd);
        });
    }
    for (auto &t : clients)
        t.join();
    const qint64 growth = ProcessMemory::residentBytes() - before;
    std::printf("[ attack   ] 4 bodies of 500 MB announced: %zu/%zu/%zu/%zu KB taken by the "
                "kernel, server memory %+lld KB\n",
                sent[0] >> 10, sent[1] >> 10, sent[2] >> 10, sent[3] >> 10,
                static_cast<long long>(growth >> 10));
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(statuses[i], 413) << i;
        EXPECT_LT(sent[i], kOffered) << "the server read the whole body of client " << i;
    }
    // Reading the bodies would have cost 256 MB.
    EXPECT_LT(growth, qint64(64) << 20);
}

// Slow clients, many times the worker count, each send their headers a
// byte at a time. A normal request is still answered, and the slow ones are
// answered 408 once their time is up; a connection that never sent a byte,
// or stopped inside its request line, is closed without an answer (the
// server library reads no request until its line is whole).
TEST_F(HttpServerTest, SlowClientsCannotStarveTheWorkers)
{
    start(2);
    const std::string headers = "Host: slow\r\n\r\n";
    std::vector<int> slow;
    for (int i = 0; i < 40; ++i) {
        slow.push_back(rawhttp::connectTo(port));
        rawhttp::sendAll(slow.back(), "GET /ok HTTP/1.1\r\n");
    }
    const int silent = rawhttp::connectTo(port);
    const int halfLine = rawhttp::connectTo(port);
    rawhttp::sendAll(halfLine, "GET /o");
    for (size_t step = 0; step < 4; ++step) {
        for (int fd : slow)
            rawhttp::sendAll(fd, headers.substr(step, 1));
        std::this_thread::sleep_for(200ms);
    }
    QElapsedTimer clock;
    clock.start();
    const rawhttp::Answer normal = rawhttp::ask(port, "GET /ok HTTP/1.1\r\n\r\n", 5s);
    std::printf("[ attack   ] 40 slow clients on 2 workers: normal answer in %lld ms\n",
                static_cast<long long>(clock.elapsed()));
    EXPECT_EQ(normal.status, 200);
    EXPECT_EQ(normal.body, "ok");

    int timedOut = 0;
    for (int fd : slow) {
        const auto answers = rawhttp::readAnswers(fd, 1, 3s);
        timedOut += !answers.empty() && answers.front().status == 408;
        ::close(fd);
    }
    EXPECT_EQ(timedOut, 40);
    for (int fd : {silent, halfLine}) {
        bool closed = false;
        EXPECT_TRUE(rawhttp::readAnswers(fd, 1, 3s, &closed).empty());
        EXPECT_TRUE(closed);
        ::close(fd);
    }
}

// A thousand connections opened at once, each with one request: every one
// is answered. With a small listen backlog the kernel would drop most of
// the connection attempts of such a burst.
TEST_F(HttpServerTest, BurstOfConnectionsIsAnsweredInFull)
{
    if (!rawhttp::allowOpenFiles(2200))
        GTEST_SKIP() << "too few file descriptors for the burst";
    start();
    constexpr int kBurst = 1000;
    std::vector<int> fds;
    for (int i = 0; i < kBurst; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(uint16_t(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr));
        fds.push_back(fd);
    }
    // Each request goes out once its connection is up; answers are counted
    // as they come.
    const std::string request = "GET /ok HTTP/1.1\r\nConnection: close\r\n\r\n";
    std::vector<int> state(kBurst, 0); // 0 connecting, 1 sent, 2 answered, 3 failed
    std::vector<std::string> got(kBurst);
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    int done = 0;
    while (done < kBurst && std::chrono::steady_clock::now() < deadline) {
        std::vector<pollfd> polls;
        std::vector<int> which;
        for (int i = 0; i < kBurst; ++i) {
            if (state[i] < 2) {
                polls.push_back({fds[i], short(state[i] == 0 ? POLLOUT : POLLIN), 0});
                which.push_back(i);
            }
        }
        if (::poll(polls.data(), polls.size(), 200) <= 0)
            continue;
        for (size_t k = 0; k < polls.size(); ++k) {
            const int i = which[k];
            if (!polls[k].revents)
                continue;
            if (state[i] == 0) {
                int error = 0;
                socklen_t len = sizeof(error);
                getsockopt(fds[i], SOL_SOCKET, SO_ERROR, &error, &len);
                const bool sent = error == 0 && ::send(fds[i], request.data(), request.size(),
                                                       MSG_NOSIGNAL) == ssize_t(request.size());
                state[i] = sent ? 1 : 3;
                done += !sent;
                continue;
            }
            char buffer[4096];
            const ssize_t n = ::recv(fds[i], buffer, sizeof(buffer), 0);
            if (n > 0)
                got[i].append(buffer, size_t(n));
            if (n == 0 || (n < 0 && errno != EAGAIN)) {
                state[i] = got[i].rfind("HTTP/1.1 200", 0) == 0 ? 2 : 3;
                ++done;
            }
        }
    }
    int answered = 0;
    for (int i = 0; i < kBurst; ++i) {
        answered += state[i] == 2;
        ::close(fds[i]);
    }
    std::printf("[ attack   ] burst of %d connections: %d answered\n", kBurst, answered);
    EXPECT_EQ(answered, kBurst);
}

TEST_F(HttpServerTest, RequestsSentBackToBackAreAnsweredInOrder)
{
    start();
    const int fd = rawhttp::connectTo(port);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(rawhttp::sendAll(fd, "GET /echo?n=1 HTTP/1.1\r\n\r\n"
                                     "GET /echo?n=2 HTTP/1.1\r\n\r\n"
                                     "POST /post HTTP/1.1\r\nContent-Length: 1\r\n\r\n3"
                                     "GET /echo?n=4 HTTP/1.1\r\n\r\n"));
    bool closed = true;
    auto answers = rawhttp::readAnswers(fd, 4, 5s, &closed);
    ASSERT_EQ(answers.size(), 4u);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(answers[i].body, std::to_string(i + 1));
    EXPECT_FALSE(closed) << "the connection stays open for more";

    // The last request asks to close; a client may also close its side as
    // soon as it has sent everything.
    ASSERT_TRUE(rawhttp::sendAll(fd, "GET /echo?n=5 HTTP/1.1\r\n\r\n"
                                     "GET /echo?n=6 HTTP/1.1\r\nConnection: close\r\n\r\n"));
    ::shutdown(fd, SHUT_WR);
    answers = rawhttp::readAnswers(fd, 3, 5s, &closed);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0].body, "5");
    EXPECT_EQ(answers[1].body, "6");
    EXPECT_TRUE(closed);
    ::close(fd);
}

// Clients many times the worker count ask for a long answer and read none
// of it. Each gets the start of its answer at once (no thread waits on any
// of them), a normal request is answered while they all still hold their
// connections, and after the write time-out they are dropped and their
// bodies released.
TEST_F(HttpServerTest, ClientsThatStopReadingHoldNoWorker)
{
    start(2, 3s);
    constexpr int kStalled = 20;
    const std::string request = "GET /big?n=" + std::to_string(32 << 20) + " HTTP/1.1\r\n\r\n";
    std::vector<int> stalled;
    for (int i = 0; i < kStalled; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int small = 4096; // before connecting, so the window stays small
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(uint16_t(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)), 0);
        ASSERT_TRUE(rawhttp::sendAll(fd, request));
        stalled.push_back(fd);
    }
    // Every stalled client's answer has begun: with two workers each
    // writing one answer to its end, eighteen would still be waiting.
    int begun = 0;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    for (int fd : stalled) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        begun += ::poll(&p, 1, std::max(0, int(left.count()))) == 1;
    }
    EXPECT_EQ(begun, kStalled);

    const int fd = rawhttp::connectTo(port);
    ASSERT_TRUE(rawhttp::sendAll(fd, "GET /echo?n=1 HTTP/1.1\r\n\r\nGET /ok HTTP/1.1\r\n\r\n"));
    const auto answers = rawhttp::readAnswers(fd, 2, 10s);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0].body, "1");
    EXPECT_EQ(answers[1].body, "ok");
    EXPECT_GE(server->openConnections(), size_t(kStalled) + 1)
        << "answered only once stalled clients were dropped";
    ::close(fd);

    EXPECT_TRUE(waitForOpenConnections(0)) << server->openConnections() << " still open";
    EXPECT_EQ(bodiesCut.load(), kStalled);
    EXPECT_EQ(bodiesSent.load(), 0);
    // The dropped clients find their answers cut off, not hanging.
    for (int fd : stalled) {
        bool closed = false;
        rawhttp::readAnswers(fd, 1, 10s, &closed);
        EXPECT_TRUE(closed);
        ::close(fd);
    }
}

// A streamed body leaves the connection as it found it: the request sent
// right behind it, and one sent later, are answered on the same connection.
TEST_F(HttpServerTest, ConnectionsCarryOnAfterAStreamedBody)
{
    start();
    const int fd = rawhttp::connectTo(port);
    ASSERT_GE(fd, 0);
    constexpr size_t kLength = 3 * 1000 * 1000 + 7;
    ASSERT_TRUE(rawhttp::sendAll(fd, "GET /big?n=" + std::to_string(kLength) +
                                         " HTTP/1.1\r\n\r\nGET /echo?n=2 HTTP/1.1\r\n\r\n"));
    bool closed = true;
    auto answers = rawhttp::readAnswers(fd, 2, 20s, &closed);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0].status, 200);
    EXPECT_TRUE(answers[0].body == patternBytes(0, kLength)) << answers[0].body.size() << " bytes";
    EXPECT_EQ(answers[1].body, "2");
    EXPECT_FALSE(closed);

    ASSERT_TRUE(rawhttp::sendAll(fd, "GET /big?n=10 HTTP/1.1\r\nConnection: close\r\n\r\n"));
    answers = rawhttp::readAnswers(fd, 2, 10s, &closed);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].body, patternBytes(0, 10));
    EXPECT_TRUE(closed);
    ::close(fd);
    EXPECT_TRUE(waitForOpenConnections(0));
    EXPECT_EQ(bodiesSent.load(), 2);
    EXPECT_EQ(bodiesCut.load(), 0);
}

// Past the connection limit a client is told so at once, and a place freed
// is taken again.
TEST_F(HttpServerTest, ConnectionsPastTheLimitAreAnswered503)
{
    start(4, 2s, 3);
    std::vector<int> held;
    for (int i = 0; i < 3; ++i) {
        held.push_back(rawhttp::connectTo(port));
        ASSERT_TRUE(rawhttp::sendAll(held.back(),
                                     "GET /echo?n=" + std::to_string(i) + " HTTP/1.1\r\n\r\n"));
        const auto answers = rawhttp::readAnswers(held.back(), 1, 5s);
        ASSERT_EQ(answers.size(), 1u);
        EXPECT_EQ(answers[0].body, std::to_string(i));
    }
    const rawhttp::Answer refused = rawhttp::ask(port, "GET /ok HTTP/1.1\r\n\r\n", 5s);
    EXPECT_EQ(refused.status, 503);
    EXPECT_NE(refused.headers.find("Retry-After"), std::string::npos) << refused.headers;

    ::close(held.back());
    held.pop_back();
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (status != 200 && std::chrono::steady_clock::now() < deadline) {
        status = rawhttp::ask(port, "GET /ok HTTP/1.1\r\n\r\n", 5s).status;
        if (status != 200)
            std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(status, 200);
    for (int fd : held)
        ::close(fd);
}

// The last request a connection may carry says so and the connection
// closes after it; requests sent behind it are not answered.
TEST_F(HttpServerTest, AConnectionCarriesAtMostItsRequestCount)
{
    start(4, 2s, 1024, 3);
    const int fd = rawhttp::connectTo(port);
    ASSERT_GE(fd, 0);
    std::string requests;
    for (int i = 1; i <= 4; ++i)
        requests += "GET /echo?n=" + std::to_string(i) + " HTTP/1.1\r\n\r\n";
    ASSERT_TRUE(rawhttp::sendAll(fd, requests));
    bool closed = false;
    const auto answers = rawhttp::readAnswers(fd, 4, 5s, &closed);
    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(answers[2].body, "3");
    EXPECT_EQ(answers[1].headers.find("close"), std::string::npos) << answers[1].headers;
    EXPECT_NE(answers[2].headers.find("close"), std::string::npos) << answers[2].headers;
    EXPECT_TRUE(closed);
    ::close(fd);
}

struct BasePathCase
{
    const char *target;
    int status;
    const char *body;
};

// With a required base path, routes are reached only under it, but for
// those open anywhere; the log never shows the key.
TEST_F(HttpServerTest, ABasePathGuardsTheRoutes)
{
    start(4, 2s, 1024, 100, "/k/s3cret_KEY-0123");
    const BasePathCase cases[] = {
        {"/k/s3cret_KEY-0123/echo?n=a%20b+c", 200, "a b c"},
        {"/echo?n=1", 404, ""},
        {"/k/s3cret_KEY-012/echo?n=1", 404, ""},
        {"/k/s3cret_KEY-01234/echo?n=1", 404, ""},
        {"/k/s3cret_KEY-0123", 404, ""},
        {"/k/s3cret_KEY-0123echo?n=1", 404, ""},
        {"/rest/ping.view", 200, "rest ping.view"},
        {"/k/s3cret_KEY-0123/rest/ping.view", 200, "rest ping.view"},
    };
    for (const BasePathCase &c : cases) {
        const rawhttp::Answer answer =
            rawhttp::ask(port, std::string("GET ") + c.target + " HTTP/1.1\r\n\r\n", 5s);
        EXPECT_EQ(answer.status, c.status) << c.target;
        if (c.status == 200) {
            EXPECT_EQ(answer.body, c.body) << c.target;
        }
    }
    std::lock_guard<std::mutex> lock(logMutex);
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged.front(), "GET /echo?n=a%20b+c 200 /k/s3cret_KEY-0123");
    // Every request that came under the key is logged without it.
    size_t underKey = 0;
    for (const std::string &line : logged) {
        if (line.size() < 18 || line.compare(line.size() - 18, 18, "/k/s3cret_KEY-0123") != 0)
            continue;
        ++underKey;
        EXPECT_EQ(line.find("s3cret"), line.size() - 15) << line;
    }
    EXPECT_EQ(underKey, 2u);
}

} // namespace
