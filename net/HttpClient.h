// The one place every network read of the player goes through. It sets the
// User-Agent and redirect policy, owns each reply, applies the time-outs and
// turns a transport failure into a value the caller checks.
//
// get() waits in a nested event loop: the window keeps running its events
// (clicks, timers, a stop button) while a request is outstanding, and the
// wait costs no CPU. Handlers that run inside the wait may start requests of
// their own; each has its own reply and loop.
#pragma once

#include "net/HttpTypes.h"

#include <QString>

class HttpClient
{
public:
    // A GET of the exact URL. An answer with an error status still counts
    // as ok and carries its body; refused, reset, timed-out or unknown hosts
    // give ok == false and an empty body.
    static HttpResult get(const QString &url, const HttpLimits &limits = {});

    // Every request of `group` still waiting gets at most `graceMs` more
    // before it ends as cancelled ("网络错误：请求已取消").
    static void limitGroup(const QString &group, int graceMs);

    // No bytes for this long ends the request (default 15 s).
    static int transferTimeoutMs();
    static void setTransferTimeoutMs(int ms);
    // The whole request may take at most this long (default 120 s), so a
    // server that trickles bytes cannot hold a handler forever either.
    static int totalTimeoutMs();
    static void setTotalTimeoutMs(int ms);
    // Bodies larger than this are refused as a failure (default 64 MiB).
    static qint64 maxBodyBytes();
    static void setMaxBodyBytes(qint64 bytes);

    // The message of the last failed request, "" after a success.
    static QString lastError();
    // The URL and HTTP status (0: no answer) of the last request.
    static QString lastUrl();
    static int lastStatus();
};
