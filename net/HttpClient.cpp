#include "net/HttpClient.h"

#include "net/NetworkBackend.h"
#include "net/PlainHttpRequest.h"

namespace {

int g_transferTimeoutMs = 15000;
int g_totalTimeoutMs = 120000;
qint64 g_maxBodyBytes = 64 * 1024 * 1024;
QString g_lastError;
QString g_lastUrl;
int g_lastStatus = 0;

HttpResult fetch(QUrl target, const HttpLimits &limits)
{
    const NetworkBackend::Timeouts timeouts{g_transferTimeoutMs, g_totalTimeoutMs, g_maxBodyBytes};
    if (target.isValid() && target.scheme() == QLatin1String("http") && !target.host().isEmpty()) {
        QUrl handOver;
        const HttpResult result = PlainHttpRequest::get(target, limits, timeouts, &handOver);
        if (handOver.isEmpty())
            return result;
        target = handOver; // the page moved to https
    }
    HttpResult result;
    if (!target.isValid() || target.scheme() != QLatin1String("https"))
        result.error = networkErrorText(NetworkFailure::UnknownScheme);
    else if (NetworkBackend *network = NetworkBackend::instance())
        result = network->get(target, limits, timeouts);
    else
        result.error = networkErrorText(NetworkFailure::Other);
    return result;
}

} // namespace

HttpResult HttpClient::get(const QString &url, const HttpLimits &limits)
{
    g_lastUrl = url;
    g_lastStatus = 0;
    const HttpResult result = fetch(QUrl(url, QUrl::TolerantMode), limits);
    g_lastError = result.error;
    g_lastStatus = result.status;
    return result;
}

void HttpClient::limitGroup(const QString &group, int graceMs)
{
    PlainHttpRequest::limitGroup(group, graceMs);
    // Nothing waits there before the first https request has loaded the
    // module.
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
