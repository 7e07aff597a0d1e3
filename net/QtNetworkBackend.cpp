// The network module: NetworkBackend on Qt's network library. Built as a
// library of its own that the programs open on their first request.
#include "net/NetworkBackend.h"
#include "net/WaitingRequests.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslError>
#include <QTimer>
#include <mutex>

namespace {

QString userAgent()
{
    return QStringLiteral("Velmor/%1.%2.%3")
        .arg(VELMOR_VERSION_MAJOR)
        .arg(VELMOR_VERSION_MINOR)
        .arg(VELMOR_VERSION_PATCH);
}

// The reply keeps every Content-Length header, joined with ", ".
bool lengthsAgree(const QNetworkReply *reply)
{
    return contentLengthsAgree({reply->rawHeader("Content-Length")});
}

NetworkFailure failureOf(QNetworkReply::NetworkError e)
{
    switch (e) {
    case QNetworkReply::NoError:
        return NetworkFailure::None;
    case QNetworkReply::ConnectionRefusedError:
        return NetworkFailure::Refused;
    case QNetworkReply::RemoteHostClosedError:
        return NetworkFailure::Closed;
    case QNetworkReply::HostNotFoundError:
        return NetworkFailure::HostNotFound;
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return NetworkFailure::TimedOut;
    case QNetworkReply::ProtocolUnknownError:
        return NetworkFailure::UnknownScheme;
    default:
        return NetworkFailure::Other;
    }
}

// The system's certificates and the given ones: set as one list, since a
// configuration given its own list no longer looks up the system's on
// demand. Made once per text; reading the system's store takes a while.
QSslConfiguration trusting(const QByteArray &pem)
{
    static std::mutex mutex;
    static QHash<QByteArray, QSslConfiguration> made;
    std::lock_guard<std::mutex> lock(mutex);
    auto found = made.find(pem);
    if (found == made.end()) {
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setCaCertificates(QSslConfiguration::systemCaCertificates() +
                                 QSslCertificate::fromData(pem, QSsl::Pem));
        found = made.insert(pem, config);
    }
    return *found;
}

class QtHttpStream : public HttpStream
{
public:
    QtHttpStream(const Request &request, Handlers handlers)
        : m_manager(new QNetworkAccessManager), m_handlers(std::move(handlers))
    {
        m_manager->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
        QNetworkRequest get(request.url);
        get.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
        if (request.transferTimeoutMs > 0)
            get.setTransferTimeout(request.transferTimeoutMs);
        for (const auto &[name, value] : request.headers)
            get.setRawHeader(name, value);
        if (request.maxRedirects >= 0)
            get.setMaximumRedirectsAllowed(request.maxRedirects);
        if (!request.trustedCertificates.isEmpty())
            get.setSslConfiguration(trusting(request.trustedCertificates));
        m_reply = m_manager->get(get);
        // Kept for the caller's message; the errors are not ignored, so the
        // transfer fails.
        QObject::connect(m_reply, &QNetworkReply::sslErrors, m_reply,
                         [this](const QList<QSslError> &errors) {
                             for (const QSslError &e : errors)
                                 m_certificateProblems.append(e.errorString());
                         });
        // Qt reads the body by the first of two lengths that differ: such an
        // answer is refused before any of its body is taken.
        QObject::connect(m_reply, &QNetworkReply::metaDataChanged, m_reply, [this] {
            if (!lengthsAgree(m_reply)) {
                m_broken = true;
                m_reply->abort();
            }
        });
        QObject::connect(m_reply, &QNetworkReply::readyRead, m_reply, [this] {
            if (m_broken)
                return;
            if (m_handlers.readyRead)
                m_handlers.readyRead();
        });
        QObject::connect(m_reply, &QNetworkReply::finished, m_reply, [this] {
            if (m_handlers.finished)
                m_handlers.finished();
        });
        QObject::connect(m_reply, &QNetworkReply::downloadProgress, m_reply,
                         [this](qint64 received, qint64 total) {
                             if (m_handlers.progress)
                                 m_handlers.progress(received, total);
                         });
    }
    ~QtHttpStream() override
    {
        // A handler may be what destroys the stream: the reply is still in
        // its signal then, so it goes from the event loop.
        m_reply->disconnect();
        m_reply->abort();
        m_manager->deleteLater(); // and the reply with it
    }

    QByteArray read(qint64 maxBytes) override { return m_reply->read(maxBytes); }
    QByteArray readAll() override { return m_reply->readAll(); }
    void abort() override { m_reply->abort(); }
    bool isFinished() const override { return m_reply->isFinished(); }
    int status() const override
    {
        return m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    }
    QByteArray rawHeader(const QByteArray &name) const override { return m_reply->rawHeader(name); }
    qint64 contentLength() const override
    {
        const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
        return length.isValid() ? length.toLongLong() : -1;
    }
    QString contentType() const override
    {
        return m_reply->header(QNetworkRequest::ContentTypeHeader).toString();
    }
    NetworkFailure failure() const override
    {
        // A handshake that failed for another reason (a plain http server
        // on the port) is no certificate's fault.
        if (!m_certificateProblems.isEmpty() &&
            m_reply->error() == QNetworkReply::SslHandshakeFailedError)
            return NetworkFailure::Certificate;
        return m_broken ? NetworkFailure::Other : failureOf(m_reply->error());
    }
    QString failureText() const override
    {
        if (!m_certificateProblems.isEmpty())
            return m_certificateProblems.join(QStringLiteral("; "));
        return m_reply->errorString();
    }

private:
    QNetworkAccessManager *m_manager;
    QNetworkReply *m_reply = nullptr;
    Handlers m_handlers;
    bool m_broken = false; // the answer contradicts itself
    QStringList m_certificateProblems;
};

class QtNetworkBackend : public NetworkBackend
{
public:
    HttpResult get(const QUrl &url, const HttpLimits &limits, const Timeouts &timeouts) override;
    void limitGroup(const QString &group, int graceMs) override;
    std::unique_ptr<HttpStream> open(const HttpStream::Request &request,
                                     HttpStream::Handlers handlers) override
    {
        return std::make_unique<QtHttpStream>(request, std::move(handlers));
    }

private:
    // One manager per process, owned by the application object so that it
    // is gone before Qt shuts down; connections to the service are reused.
    QNetworkAccessManager *manager()
    {
        if (!m_manager) {
            m_manager = new QNetworkAccessManager(QCoreApplication::instance());
            m_manager->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
        }
        return m_manager;
    }

    WaitingRequests m_waiting;
    QPointer<QNetworkAccessManager> m_manager;
};

HttpResult QtNetworkBackend::get(const QUrl &url, const HttpLimits &limits,
                                 const Timeouts &timeouts)
{
    HttpResult result;
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
    request.setTransferTimeout(timeouts.transferMs);

    QNetworkReply *reply = manager()->get(request);
    const qint64 maxBody = limits.maxBodyBytes > 0 ? limits.maxBodyBytes : timeouts.maxBodyBytes;
    bool timedOut = false;
    bool tooLarge = false;
    bool shortened = false; // by limitGroup

    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, reply, [&] {
        timedOut = true;
        reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [&](qint64 received, qint64) {
        if (received > maxBody && !tooLarge) {
            tooLarge = true;
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    deadline.start(timeouts.totalMs);
    m_waiting.add(limits.group, &deadline, &shortened);
    if (!reply->isFinished())
        loop.exec();
    deadline.stop();
    m_waiting.remove(&deadline);
    // The wait can end before the answer does: once the application is told
    // to exit, every event loop returns at once (and any new one does not
    // run). What has arrived by then is no answer; the caller must not take
    // it for a page and go on asking for more.
    const bool cancelled = !reply->isFinished();
    if (cancelled)
        reply->abort();

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError err = reply->error();
    // An error is an HTTP answer that carries a body only when the status
    // itself says error (4xx, 5xx). Anything else is a failure: refused,
    // reset, time-out, host not found, proxy, and also a success status
    // whose body could not be read (a compressed body that inflates past the
    // network stack's safety limit arrives cut short).
    const bool errorStatus = status.isValid() && status.toInt() >= 400;
    const bool transportFailure = err != QNetworkReply::NoError && !errorStatus;
    if (cancelled || (timedOut && shortened)) {
        result.error = QStringLiteral("网络错误：请求已取消");
    } else if (transportFailure || timedOut || tooLarge) {
        result.error = networkErrorText(
            failureOf(err), timedOut || err == QNetworkReply::OperationCanceledError, tooLarge);
    } else if (!lengthsAgree(reply)) {
        result.error = networkErrorText(NetworkFailure::Other);
    } else {
        result.body = reply->readAll();
        // The progress counts the bytes on the wire; a compressed body is
        // measured again once inflated.
        if (result.body.size() > maxBody) {
            result.body = QByteArray();
            result.error = networkErrorText(failureOf(err), false, true);
        } else {
            result.status = status.toInt();
            result.ok = true;
        }
    }
    reply->deleteLater();
    return result;
}

void QtNetworkBackend::limitGroup(const QString &group, int graceMs)
{
    m_waiting.limit(group, graceMs);
}

} // namespace

extern "C" Q_DECL_EXPORT NetworkBackend *velmorNetworkBackend()
{
    static QtNetworkBackend backend;
    return &backend;
}
