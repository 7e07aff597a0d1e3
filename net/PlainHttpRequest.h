// HttpClient::get for plain http:// pages without Qt's network library: the
// exchange runs on a short-lived worker thread of its own (name lookups
// block, and the window must not), while the caller waits in a nested
// event loop that costs no CPU. A redirect to another scheme (https) is
// handed back to the caller, which asks the network module instead.
#pragma once

#include "net/NetworkBackend.h"

class PlainHttpRequest
{
public:
    static constexpr int kMaxRedirects = 5;

    // `handOver` is set, and the result left empty, when the page moved to
    // a URL this client does not read.
    static HttpResult get(const QUrl &url, const HttpLimits &limits,
                          const NetworkBackend::Timeouts &timeouts, QUrl *handOver);
    // HttpClient::limitGroup for the requests waiting here.
    static void limitGroup(const QString &group, int graceMs);
};
