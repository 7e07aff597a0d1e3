#include "net/PlainHttpRequest.h"

#include "net/HttpConnection.h"
#include "net/StreamInflater.h"
#include "net/WaitingRequests.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <fcntl.h>
#include <memory>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

// What the waiter and its worker share. The worker may outlive the wait (a
// name lookup cannot be cut short), so it holds its own reference and the
// waiter reads the outcome only once `done` says it is whole.
struct Exchange
{
    std::atomic<bool> abort{false};
    std::atomic<bool> done{false};
    int wake[2] = {-1, -1}; // the worker writes a byte when it is done
    HttpResult result;
    NetworkFailure failure = NetworkFailure::None;
    bool tooLarge = false;
    QByteArray handOver;

    ~Exchange()
    {
        for (const int fd : wake) {
            if (fd >= 0)
                ::close(fd);
        }
    }
};

NetworkFailure failureOf(HttpConnection::Failure failure)
{
    switch (failure) {
    case HttpConnection::Failure::None:
        return NetworkFailure::None;
    case HttpConnection::Failure::HostNotFound:
        return NetworkFailure::HostNotFound;
    case HttpConnection::Failure::Refused:
        return NetworkFailure::Refused;
    case HttpConnection::Failure::TimedOut:
    case HttpConnection::Failure::Aborted:
        return NetworkFailure::TimedOut;
    case HttpConnection::Failure::Closed:
        return NetworkFailure::Closed;
    case HttpConnection::Failure::Malformed:
        break;
    }
    return NetworkFailure::Other;
}

constexpr qint64 kReadStep = 64 * 1024;
constexpr qint64 kInflateStep = 2 * 1024;

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

void exchange(Exchange &ex, QByteArray url, qint64 maxBody, int transferMs)
{
    HttpConnection connection(ex.abort, transferMs);
    for (int redirects = 0;; ++redirects) {
        HttpConnection::Target target;
        if (!HttpConnection::Target::parse(url, target)) {
            if (redirects > 0)
                ex.handOver = url;
            else
                ex.failure = NetworkFailure::UnknownScheme;
            return;
        }
        if (!connection.get(target, "Accept-Encoding: gzip, deflate\r\n")) {
            ex.failure = failureOf(connection.failure());
            return;
        }
        const QByteArray location = connection.header("Location");
        if (isRedirect(connection.status()) && !location.isEmpty()) {
            if (redirects >= PlainHttpRequest::kMaxRedirects) {
                ex.failure = NetworkFailure::Other;
                return;
            }
            url = target.resolve(location);
            continue;
        }
        if (connection.bodyLength() > maxBody) {
            ex.tooLarge = true;
            return;
        }
        // Pages are asked for compressed, as browsers ask; the inflated
        // size is what the cap bounds.
        const QByteArray coding = connection.header("Content-Encoding");
        StreamInflater::Format format;
        std::unique_ptr<StreamInflater> inflater;
        if (StreamInflater::formatOf(coding, format)) {
            inflater = std::make_unique<StreamInflater>(format);
        } else if (!coding.isEmpty() && coding.compare("identity", Qt::CaseInsensitive) != 0) {
            ex.failure = NetworkFailure::Other; // a coding nobody asked for
            return;
        }
        QByteArray body;
        if (connection.bodyLength() > 0 && !inflater)
            body.reserve(connection.bodyLength());
        QByteArray chunk(kReadStep, Qt::Uninitialized);
        while (true) {
            const qint64 n = connection.readBody(chunk.data(), kReadStep);
            if (n == 0)
                break;
            if (n < 0) {
                ex.failure = failureOf(connection.failure());
                return;
            }
            if (!inflater)
                body.append(chunk.constData(), n);
            // In small slices: one can inflate a thousandfold, and the cap
            // should stop it before it is all in memory.
            for (qint64 at = 0; inflater && at < n && body.size() <= maxBody; at += kInflateStep) {
                const auto slice =
                    QByteArray::fromRawData(chunk.constData() + at, std::min(kInflateStep, n - at));
                if (!inflater->feed(slice, body)) {
                    ex.failure = NetworkFailure::Other;
                    return;
                }
            }
            if (body.size() > maxBody) {
                ex.tooLarge = true;
                return;
            }
        }
        if (inflater && !inflater->finished()) {
            ex.failure = NetworkFailure::Other; // cut short
            return;
        }
        ex.result.body = std::move(body);
        ex.result.status = connection.status();
        ex.result.ok = true;
        return;
    }
}

WaitingRequests g_waiting;

} // namespace

HttpResult PlainHttpRequest::get(const QUrl &url, const HttpLimits &limits,
                                 const NetworkBackend::Timeouts &timeouts, QUrl *handOver)
{
    HttpResult result;
    auto ex = std::make_shared<Exchange>();
    if (::pipe2(ex->wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        result.error = networkErrorText(NetworkFailure::Other);
        return result;
    }
    const qint64 maxBody = limits.maxBodyBytes > 0 ? limits.maxBodyBytes : timeouts.maxBodyBytes;
    const QByteArray target = url.toEncoded(QUrl::RemoveFragment | QUrl::RemoveUserInfo);
    bool timedOut = false;
    bool shortened = false; // by limitGroup
    bool started = false;
    bool noThread = false;
    QEventLoop loop;
    QSocketNotifier woken(ex->wake[0], QSocketNotifier::Read);
    QObject::connect(&woken, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    // The request goes out from inside the wait: once the application has
    // been told to exit, no event loop runs any more, and then no request
    // may reach the server either.
    QTimer::singleShot(0, &loop, [&] {
        try {
            std::thread([ex, target, maxBody, transferMs = timeouts.transferMs] {
                exchange(*ex, target, maxBody, transferMs);
                ex->done = true;
                const char byte = 1;
                [[maybe_unused]] const ssize_t written = ::write(ex->wake[1], &byte, 1);
            }).detach();
            started = true;
        } catch (const std::system_error &) {
            // No thread to be had (the process is at its limit): a failed
            // request, not a crash.
            noThread = true;
            loop.quit();
        }
    });
    deadline.start(timeouts.totalMs);
    g_waiting.add(limits.group, &deadline, &shortened);
    loop.exec();
    deadline.stop();
    g_waiting.remove(&deadline);

    if (noThread) {
        result.error = networkErrorText(NetworkFailure::Other);
        return result;
    }
    // The wait can also end before the answer does because the application
    // is told to exit: every event loop returns at once then (the request
    // may not even have gone out). What has arrived by then is no answer.
    if (!started || !ex->done) {
        ex->abort = true; // the worker ends on its own, soon
        result.error = timedOut && !shortened ? networkErrorText(NetworkFailure::TimedOut, true)
                                              : QStringLiteral("网络错误：请求已取消");
        return result;
    }
    if (!ex->handOver.isEmpty()) {
        *handOver = QUrl::fromEncoded(ex->handOver);
        return result;
    }
    if (ex->result.ok)
        return std::move(ex->result);
    result.error = networkErrorText(ex->failure, false, ex->tooLarge);
    return result;
}

void PlainHttpRequest::limitGroup(const QString &group, int graceMs)
{
    g_waiting.limit(group, graceMs);
}
