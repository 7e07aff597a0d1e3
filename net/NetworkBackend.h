// Qt's network library, opened on first use instead of linked. It maps a
// megabyte of code and Kerberos, GSSAPI and proxy libraries behind it into
// a player that may never need it: plain http:// pages are read by our own
// small client (PlainHttpRequest), so only https pages and downloads come
// here. The one implementation lives in the velmor-network
// module beside the program.
#pragma once

#include "net/HttpTypes.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

// Why a transfer failed, for the caller's own wording.
enum class NetworkFailure {
    None,
    Refused,
    Closed,
    HostNotFound,
    TimedOut,
    UnknownScheme,
    Certificate, // TLS refused the server's certificate
    Other
};

// HttpClient's message for a failed request, whichever client made it.
inline QString networkErrorText(NetworkFailure failure, bool timedOut = false,
                                bool tooLarge = false)
{
    if (tooLarge)
        return QStringLiteral("网络错误：页面过大");
    if (timedOut)
        return QStringLiteral("网络错误：连接超时");
    switch (failure) {
    case NetworkFailure::Refused:
        return QStringLiteral("网络错误：连接被拒绝");
    case NetworkFailure::Closed:
        return QStringLiteral("网络错误：连接被中断");
    case NetworkFailure::HostNotFound:
        return QStringLiteral("网络错误：找不到服务器");
    case NetworkFailure::TimedOut:
        return QStringLiteral("网络错误：连接超时");
    case NetworkFailure::UnknownScheme:
        return QStringLiteral("网络错误：不支持的地址");
    default:
        return QStringLiteral("网络错误：无法读取页面");
    }
}

// One GET whose body is taken as it arrives.
class HttpStream
{
public:
    struct Request
    {
        QUrl url;
        int transferTimeoutMs = 0; // no bytes for this long ends it; 0: none
        QList<QPair<QByteArray, QByteArray>> headers;
        int maxRedirects = -1; // -1: the network library's own limit
        // PEM certificates trusted beside the system's (a home server's
        // self-signed one); verification itself is never switched off.
        QByteArray trustedCertificates;
    };
    // Called from the event loop, never from inside a call to the stream,
    // except that abort() calls finished before it returns.
    struct Handlers
    {
        std::function<void()> readyRead;
        std::function<void()> finished;
        std::function<void(qint64 received, qint64 total)> progress;
    };

    // Ends an unfinished transfer; no handler is called any more.
    virtual ~HttpStream() = default;
    virtual QByteArray read(qint64 maxBytes) = 0;
    virtual QByteArray readAll() = 0;
    // Ends the transfer now; finished follows at once.
    virtual void abort() = 0;
    virtual bool isFinished() const = 0;
    // The HTTP status, 0 while no answer has come.
    virtual int status() const = 0;
    virtual QByteArray rawHeader(const QByteArray &name) const = 0;
    // The announced body length, -1 when none was announced.
    virtual qint64 contentLength() const = 0;
    virtual QString contentType() const = 0;
    virtual NetworkFailure failure() const = 0;
    // Why it failed, in the network library's words; for a refused
    // certificate, each of its problems.
    virtual QString failureText() const = 0;
};

class NetworkBackend
{
public:
    // The loaded module, or nullptr when it cannot be found or opened (the
    // caller then reports a network error). Loaded once, on first call.
    static NetworkBackend *instance();
    // The module if an earlier call loaded it, without loading it.
    static NetworkBackend *ifLoaded();
    // Where the module is looked for, first to last.
    static QStringList modulePaths();

    struct Timeouts
    {
        int transferMs;
        int totalMs;
        qint64 maxBodyBytes;
    };
    // HttpClient::get's transfer, waited for in a nested event loop.
    virtual HttpResult get(const QUrl &url, const HttpLimits &limits, const Timeouts &timeouts) = 0;
    virtual void limitGroup(const QString &group, int graceMs) = 0;
    virtual std::unique_ptr<HttpStream> open(const HttpStream::Request &request,
                                             HttpStream::Handlers handlers) = 0;

protected:
    ~NetworkBackend() = default;
};

// The module's one entry point.
extern "C" {
using VelmorNetworkBackendEntry = NetworkBackend *(*)();
}
inline constexpr char kNetworkBackendEntry[] = "velmorNetworkBackend";
