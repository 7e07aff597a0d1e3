// The Subsonic client's https requests. Plain http stays on our own client,
// which needs no event loop; https goes through Qt's network library (the
// velmor-network module), which does. velmor-musicd's request threads run
// no event loop, so this keeps one thread of its own that runs one and owns
// every network object; a caller posts its request there and waits for the
// outcome with the bounds the http path has. The thread and the module are
// started by the first https request only: an http bridge loads neither.
#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <chrono>
#include <memory>
#include <mutex>

class QObject;
class QThread;

namespace subsonic {

// One request's outcome, whichever way it went.
struct Fetched
{
    bool ok = false; // an answer came whole
    int status = 0;
    QByteArray body;
    QString error;
    bool untrusted = false; // TLS refused the server's certificate
};

class HttpsTransport
{
public:
    using Clock = std::chrono::steady_clock;

    // trustedCertificates: PEM text trusted beside the system's store.
    explicit HttpsTransport(QByteArray trustedCertificates);
    ~HttpsTransport();
    HttpsTransport(const HttpsTransport &) = delete;
    HttpsTransport &operator=(const HttpsTransport &) = delete;

    // GETs url (https); no byte for waitMs, the deadline passing or more
    // than maxBytes of answer ends it with the reason in error. Safe to
    // call from any number of threads at once.
    Fetched get(const QUrl &url, qint64 maxBytes, int waitMs, Clock::time_point deadline);

private:
    struct Exchange;
    QObject *loop();
    static void begin(QObject *loop, const std::shared_ptr<Exchange> &exchange);
    static void take(Exchange *exchange);
    static void complete(QObject *loop, const std::shared_ptr<Exchange> &exchange);

    const QByteArray m_trusted;
    std::mutex m_mutex;
    std::unique_ptr<QThread> m_thread;
    QObject *m_loop = nullptr; // lives in m_thread
};

} // namespace subsonic
