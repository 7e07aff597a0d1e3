#include "service/HttpClient.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

namespace {

int g_transferTimeoutMs = 15000;
int g_totalTimeoutMs = 120000;
qint64 g_maxBodyBytes = 64 * 1024 * 1024;
QString g_lastError;
QString g_lastUrl;
int g_lastStatus = 0;

// The deadlines of the requests waiting now, by group: get() is re-entered
// from inside its own wait, so several can be waiting at once.
struct WaitingRequest
{
    QString group;
    QTimer *deadline;
    bool *shortened;
};
QList<WaitingRequest> g_waiting;

// One manager per process, owned by the application object so that it is
// gone before Qt shuts down; connections to the service are reused.
QNetworkAccessManager *manager()
{
    static QPointer<QNetworkAccessManager> m;
    if (!m) {
        m = new QNetworkAccessManager(QCoreApplication::instance());
        m->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    }
    return m;
}

QString describe(QNetworkReply::NetworkError e, bool timedOut, bool tooLarge)
{
    if (tooLarge)
        return QStringLiteral("网络错误：页面过大");
    if (timedOut)
        return QStringLiteral("网络错误：连接超时");
    switch (e) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("网络错误：连接被拒绝");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("网络错误：连接被中断");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("网络错误：找不到服务器");
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return QStringLiteral("网络错误：连接超时");
    case QNetworkReply::ProtocolUnknownError:
        return QStringLiteral("网络错误：不支持的地址");
    default:
        return QStringLiteral("网络错误：无法读取页面");
    }
}

} // namespace

HttpResult HttpClient::get(const QString &url, const HttpLimits &limits)
{
    HttpResult result;
    g_lastUrl = url;
    g_lastStatus = 0;
    const QUrl qurl(url, QUrl::TolerantMode);
    if (!qurl.isValid() || (qurl.scheme() != QLatin1String("http") &&
                            qurl.scheme() != QLatin1String("https"))) {
        result.error = QStringLiteral("网络错误：不支持的地址");
        g_lastError = result.error;
        return result;
    }

    QNetworkRequest request(qurl);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Velmor/%1.%2.%3")
                          .arg(VELMOR_VERSION_MAJOR)
                          .arg(VELMOR_VERSION_MINOR)
                          .arg(VELMOR_VERSION_PATCH));
    request.setTransferTimeout(g_transferTimeoutMs);

    QNetworkReply *reply = manager()->get(request);
    const qint64 maxBody = limits.maxBodyBytes > 0 ? limits.maxBodyBytes : g_maxBodyBytes;
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
    deadline.start(g_totalTimeoutMs);
    if (!limits.group.isEmpty())
        g_waiting.append({limits.group, &deadline, &shortened});
    if (!reply->isFinished())
        loop.exec();
    deadline.stop();
    if (!limits.group.isEmpty()) {
        g_waiting.removeIf(
            [&deadline](const WaitingRequest &w) { return w.deadline == &deadline; });
    }
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
        result.error = describe(err, timedOut || err == QNetworkReply::OperationCanceledError,
                                tooLarge);
    } else {
        result.body = reply->readAll();
        // The progress counts the bytes on the wire; a compressed body is
        // measured again once inflated.
        if (result.body.size() > maxBody) {
            result.body = QByteArray();
            result.error = describe(err, false, true);
        } else {
            result.status = status.toInt();
            result.ok = true;
        }
    }
    reply->deleteLater();
    g_lastError = result.error;
    g_lastStatus = result.status;
    return result;
}

void HttpClient::limitGroup(const QString &group, int graceMs)
{
    for (const WaitingRequest &w : std::as_const(g_waiting)) {
        if (w.group != group || w.deadline->remainingTime() <= graceMs)
            continue;
        *w.shortened = true;
        w.deadline->start(graceMs);
    }
}

int HttpClient::transferTimeoutMs() { return g_transferTimeoutMs; }
void HttpClient::setTransferTimeoutMs(int ms) { g_transferTimeoutMs = ms; }
int HttpClient::totalTimeoutMs() { return g_totalTimeoutMs; }
void HttpClient::setTotalTimeoutMs(int ms) { g_totalTimeoutMs = ms; }
qint64 HttpClient::maxBodyBytes() { return g_maxBodyBytes; }
void HttpClient::setMaxBodyBytes(qint64 bytes) { g_maxBodyBytes = bytes; }
QString HttpClient::lastError() { return g_lastError; }
QString HttpClient::lastUrl() { return g_lastUrl; }
int HttpClient::lastStatus() { return g_lastStatus; }
