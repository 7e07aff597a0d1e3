// velmor-musicd: the bundled music service. It serves the search pages, link
// answers, LRC lyrics, singer pages, pictures and synthesised audio of its
// built-in catalogue on 127.0.0.1, so the player and the tests have a real
// peer without any internet. The first stdout line is the URL it serves;
// after it, one line per request. SIGINT and SIGTERM end it.
#include "musicd/MusicService.h"
#include "musicd/RequestLog.h"

#include <QCoreApplication>
#include <QString>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <httplib.h>
#include <malloc.h>
#include <pthread.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// A worker stuck on an idle keep-alive connection must not hold up a stop
// for long: after this grace the process leaves without waiting for it.
constexpr auto kStopGrace = std::chrono::milliseconds(700);
constexpr time_t kKeepAliveSeconds = 2;
// Requests per connection: a 1,000-page search should not reconnect every
// few pages.
constexpr size_t kKeepAliveRequests = 100;
// Each open connection holds a worker while it idles, and the player alone
// keeps several (its fetcher's pool and the media player's): with too few
// workers a new connection waits out another's keep-alive time.
constexpr size_t kWorkerThreads = 32;
constexpr int kLargeBlockBytes = 256 * 1024;

// Log lines waiting for a reader beyond this many are dropped.
constexpr size_t kMaxQueuedLogLines = 20000;
// How long the last log lines may take to leave at the end.
constexpr auto kLogDrainTime = std::chrono::milliseconds(300);

void usage()
{
    std::fprintf(stderr,
                 "usage: velmor-musicd [--port N]   (N = 0 picks a free port; default %d)\n",
                 VELMOR_DEFAULT_PORT);
}

// -1 when the text is not a port number.
int parsePort(const char *text)
{
    if (!text || !*text || std::strlen(text) > 5)
        return -1;
    int port = 0;
    for (const char *p = text; *p; ++p) {
        if (*p < '0' || *p > '9')
            return -1;
        port = port * 10 + (*p - '0');
    }
    return port <= 65535 ? port : -1;
}

} // namespace

int main(int argc, char **argv)
{
    int port = VELMOR_DEFAULT_PORT;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--port" && i + 1 < argc) {
            port = parsePort(argv[++i]);
        } else if (a.rfind("--port=", 0) == 0) {
            port = parsePort(argv[i] + 7);
        } else if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else {
            usage();
            return 2;
        }
        if (port < 0) {
            usage();
            return 2;
        }
    }

    // Signals are taken by one thread with sigwait, so every other thread
    // (the server's workers included, which inherit this mask) runs on
    // undisturbed and the stop runs in ordinary code, not in a handler.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    // Rendered songs are megabytes each and come and go with the cache; a
    // fixed threshold keeps them in their own mappings, which go back to the
    // system when freed instead of fragmenting the workers' heaps.
    mallopt(M_MMAP_THRESHOLD, kLargeBlockBytes);

    // Needed for the JPEG writer plugin; no event loop runs.
    QCoreApplication app(argc, argv);

    musicd::MusicService service;
    httplib::Server server;
    server.set_keep_alive_timeout(kKeepAliveSeconds);
    server.set_keep_alive_max_count(kKeepAliveRequests);
    server.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    // Headers and body leave in separate writes; with Nagle on, the body
    // waits for the client's delayed ACK on a reused connection (40+ ms a page).
    server.set_tcp_nodelay(true);
    // The library's default is SO_REUSEPORT, which lets a second service bind
    // the same port and silently share its connections. SO_REUSEADDR alone
    // still allows a quick restart while old connections sit in TIME_WAIT,
    // but a busy port fails to bind, as it should.
    server.set_socket_options([](int sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    });
    service.install(server);

    int bound = port;
    if (port == 0) {
        bound = server.bind_to_any_port("127.0.0.1");
    } else if (!server.bind_to_port("127.0.0.1", port)) {
        bound = -1;
    }
    if (bound <= 0) {
        std::fprintf(stderr, "velmor-musicd: cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    service.setPort(bound);
    // The URL line goes out before any log line can: nothing is served yet.
    std::printf("http://127.0.0.1:%d\n", bound);
    std::fflush(stdout);
    auto *log = new musicd::RequestLog(STDOUT_FILENO, kMaxQueuedLogLines); // lives until exit
    server.set_logger([log](const httplib::Request &req, const httplib::Response &res) {
        log->add(req.method + " " + req.target + " " + std::to_string(res.status));
    });

    std::atomic<bool> finished{false};
    std::thread stopper([&server, &finished, stopSignals, log] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.stop();
        const auto deadline = std::chrono::steady_clock::now() + kStopGrace;
        while (!finished.load() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!finished.load()) {
            log->drain(kLogDrainTime);
            _exit(0);
        }
    });
    stopper.detach();

    const bool ok = server.listen_after_bind();
    finished = true;
    log->drain(kLogDrainTime);
    return ok ? 0 : 1;
}
