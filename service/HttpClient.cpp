#include "service/HttpClient.h"

#include "service/NetworkBackend.h"

namespace {

int g_transferTimeoutMs = 15000;
int g_totalTimeoutMs = 120000;
qint64 g_maxBodyBytes = 64 * 1024 * 1024;
QString g_lastError;
QString g_lastUrl;
int g_lastStatus = 0;

} // namespace

HttpResult HttpClient::get(const QString &url, const HttpLimits &limits)
{
    HttpResult result;
    g_lastUrl = url;
    g_lastStatus = 0;
    const QUrl qurl(url, QUrl::TolerantMode);
    NetworkBackend *network = nullptr;
    if (!qurl.isValid() ||
        (qurl.scheme() != QLatin1String("http") && qurl.scheme() != QLatin1String("https"))) {
        result.error = QStringLiteral("网络错误：不支持的地址");
    } else if (!(network = NetworkBackend::instance())) {
        result.error = QStringLiteral("网络错误：无法读取页面");
    } else {
        result =
            network->get(qurl, limits, {g_transferTimeoutMs, g_totalTimeoutMs, g_maxBodyBytes});
    }
    g_lastError = result.error;
    g_lastStatus = result.status;
    return result;
}

void HttpClient::limitGroup(const QString &group, int graceMs)
{
    // Nothing waits before the first request has loaded the module.
    if (NetworkBackend *network = NetworkBackend::ifLoaded())
        network->limitGroup(group, graceMs);
}

int HttpClient::transferTimeoutMs()
{
    return g_transferTimeoutMs;
}
void HttpClient::setTransferTimeoutMs(int ms)
{
    g_transferTimeoutMs = ms;
}
int HttpClient::totalTimeoutMs()
{
    return g_totalTimeoutMs;
}
void HttpClient::setTotalTimeoutMs(int ms)
{
    g_totalTimeoutMs = ms;
}
qint64 HttpClient::maxBodyBytes()
{
    return g_maxBodyBytes;
}
void HttpClient::setMaxBodyBytes(qint64 bytes)
{
    g_maxBodyBytes = bytes;
}
QString HttpClient::lastError()
{
    return g_lastError;
}
QString HttpClient::lastUrl()
{
    return g_lastUrl;
}
int HttpClient::lastStatus()
{
    return g_lastStatus;
}
