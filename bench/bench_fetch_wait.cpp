// What a fetch costs while it waits: the CPU time the whole process spends
// during a fetchPage that waits two seconds on a server that never answers
// (the wait must sleep in the event loop, not spin).
#include "net/HttpClient.h"
#include "service/FetchPage.h"

#include <QCoreApplication>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <ctime>
#include <httplib.h>
#include <thread>

namespace {

double processCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

void BM_FetchWaitsOnStalledServer(benchmark::State &state)
{
    std::atomic<bool> stop{false};
    httplib::Server server;
    server.Get("/stall", [&](const httplib::Request &, httplib::Response &res) {
        for (int i = 0; i < 300 && !stop; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        res.set_content("late", "text/plain");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread t([&] { server.listen_after_bind(); });
    while (!server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    HttpClient::setTransferTimeoutMs(2000);
    const QString url = QStringLiteral("http://127.0.0.1:%1/stall").arg(port);
    double cpuMs = 0;
    for (auto _ : state) {
        const double before = processCpuMs();
        benchmark::DoNotOptimize(musicservice::fetchPage(url, QStringLiteral("utf-8")));
        cpuMs += processCpuMs() - before;
    }
    state.counters["cpu_ms_per_wait"] = cpuMs / double(state.iterations());
    stop = true;
    server.stop();
    t.join();
}
BENCHMARK(BM_FetchWaitsOnStalledServer)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
