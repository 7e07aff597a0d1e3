#include "subsonic/HttpsTransport.h"

#include "net/NetworkBackend.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <condition_variable>

namespace subsonic {
namespace {

// Redirects followed before a server is taken as unreachable, as on the
// http path.
constexpr int kMaxRedirects = 3;
// How long past its deadline a caller waits for the loop to end its
// exchange. The loop's own timer ends it at the deadline; this only covers
// a loop held up elsewhere, so that no caller ever waits without bound.
constexpr auto kLoopGrace = std::chrono::milliseconds(500);

QString failureText(NetworkFailure failure, const HttpStream &stream, const QUrl &url)
{
    switch (failure) {
    case NetworkFailure::HostNotFound:
        return QStringLiteral("host not found");
    case NetworkFailure::Refused:
        return QStringLiteral("connection refused");
    case NetworkFailure::TimedOut:
        return QStringLiteral("no answer in time");
    case NetworkFailure::Closed:
        return QStringLiteral("connection closed");
    case NetworkFailure::UnknownScheme:
        return QStringLiteral("moved to an address the bridge does not read");
    case NetworkFailure::Certificate:
        return QStringLiteral("the certificate of %1 is not trusted: %2")
            .arg(url.host(), stream.failureText());
    case NetworkFailure::None:
    case NetworkFailure::Other:
        break;
    }
    return stream.failureText();
}

} // namespace

struct HttpsTransport::Exchange
{
    QUrl url;
    qint64 maxBytes = 0;
    int waitMs = 0;
    Clock::time_point deadline;
    QByteArray trusted;

    // Touched in the loop's thread only.
    std::unique_ptr<HttpStream> stream;
    QTimer *timer = nullptr;
    QByteArray body;
    bool tooLarge = false;
    bool late = false;
    bool completed = false;

    // Shared with the caller.
    std::mutex mutex;
    std::condition_variable doneChanged;
    bool done = false;
    bool abandoned = false; // the caller has stopped waiting
    Fetched result;
};

HttpsTransport::HttpsTransport(QByteArray trustedCertificates)
    : m_trusted(std::move(trustedCertificates))
{
}

HttpsTransport::~HttpsTransport()
{
    if (!m_thread)
        return;
    // Deleted in its thread as the loop ends, and with it every exchange
    // still running (its timer holds it).
    m_loop->deleteLater();
    m_thread->quit();
    m_thread->wait();
}

QObject *HttpsTransport::loop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_loop) {
        m_thread = std::make_unique<QThread>();
        m_thread->setObjectName(QStringLiteral("subsonic-https"));
        m_loop = new QObject;
        m_loop->moveToThread(m_thread.get());
        m_thread->start();
    }
    return m_loop;
}

Fetched HttpsTransport::get(const QUrl &url, qint64 maxBytes, int waitMs,
                            Clock::time_point deadline)
{
    // Loaded by the caller, not in the loop, so that a missing module is
    // told at once.
    if (!QCoreApplication::instance() || !NetworkBackend::instance()) {
        Fetched out;
        out.error = QStringLiteral("https needs the network module (libvelmor-network.so), which "
                                   "is missing or broken");
        return out;
    }
    auto exchange = std::make_shared<Exchange>();
    exchange->url = url;
    exchange->maxBytes = maxBytes;
    exchange->waitMs = waitMs;
    exchange->deadline = deadline;
    exchange->trusted = m_trusted;
    QObject *target = loop();
    QMetaObject::invokeMethod(
        target, [target, exchange] { begin(target, exchange); }, Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(exchange->mutex);
    if (!exchange->doneChanged.wait_until(lock, deadline + kLoopGrace,
                                          [&] { return exchange->done; })) {
        exchange->abandoned = true;
        Fetched out;
        out.error = QStringLiteral("no answer in time");
        return out;
    }
    return exchange->result;
}

void HttpsTransport::begin(QObject *loop, const std::shared_ptr<Exchange> &exchange)
{
    {
        std::lock_guard<std::mutex> lock(exchange->mutex);
        if (exchange->abandoned)
            return;
    }
    HttpStream::Request request;
    request.url = exchange->url;
    request.transferTimeoutMs = exchange->waitMs;
    request.maxRedirects = kMaxRedirects;
    request.trustedCertificates = exchange->trusted;
    // The stream belongs to the exchange, so its handlers see the exchange
    // without owning it; the deadline's timer owns it until the end.
    const std::weak_ptr<Exchange> weak = exchange;
    HttpStream::Handlers handlers;
    handlers.readyRead = [weak] {
        if (const std::shared_ptr<Exchange> held = weak.lock())
            take(held.get());
    };
    handlers.finished = [loop, weak] {
        if (const std::shared_ptr<Exchange> held = weak.lock())
            complete(loop, held);
    };
    exchange->timer = new QTimer(loop);
    exchange->timer->setSingleShot(true);
    QObject::connect(exchange->timer, &QTimer::timeout, exchange->timer, [loop, exchange] {
        exchange->late = true;
        complete(loop, exchange);
    });
    exchange->stream = NetworkBackend::instance()->open(request, std::move(handlers));
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(exchange->deadline - Clock::now());
    exchange->timer->start(int(std::max<qint64>(0, left.count())));
}

void HttpsTransport::take(Exchange *exchange)
{
    if (exchange->completed || exchange->tooLarge)
        return;
    HttpStream &stream = *exchange->stream;
    exchange->body += stream.readAll();
    if (exchange->body.size() > exchange->maxBytes || stream.contentLength() > exchange->maxBytes) {
        exchange->tooLarge = true;
        exchange->body.clear();
        stream.abort(); // finished comes at once, and completes the exchange
    }
}

void HttpsTransport::complete(QObject *loop, const std::shared_ptr<Exchange> &exchange)
{
    if (exchange->completed)
        return;
    HttpStream &stream = *exchange->stream;
    // An error status is an answer too, as on the http path. The rest of
    // an answer is read before it counts; a failed transfer has none.
    const int status = stream.status();
    const NetworkFailure failure = stream.failure();
    const bool answered = !exchange->late && (failure == NetworkFailure::None || status >= 400);
    if (answered) {
        take(exchange.get());
        if (exchange->completed)
            return; // the answer grew too large, which completed it
    }
    exchange->completed = true;
    if (!stream.isFinished())
        stream.abort();
    Fetched out;
    if (exchange->tooLarge) {
        out.error = QStringLiteral("answer too large");
    } else if (exchange->late) {
        out.error = QStringLiteral("no answer in time");
    } else if (answered) {
        out.ok = true;
        out.status = status;
        out.body = std::move(exchange->body);
    } else {
        out.error = failureText(failure, stream, exchange->url);
        out.untrusted = failure == NetworkFailure::Certificate;
    }
    exchange->timer->deleteLater();
    // Not deleted here: this may run inside one of the stream's handlers.
    QTimer::singleShot(0, loop,
                       [gone = std::shared_ptr<HttpStream>(std::move(exchange->stream))] {});
    std::lock_guard<std::mutex> lock(exchange->mutex);
    exchange->result = std::move(out);
    exchange->done = true;
    exchange->doneChanged.notify_all();
}

} // namespace subsonic
