// A loopback server in front of the bundled service that passes every
// request on unchanged, except those a test spoils: a spoiler sees each
// request first and may answer it itself (a stall, a reset, an error page,
// a gigantic body, a wrong charset, junk where audio or a picture belongs).
// The relay records every request target, so a test can count what the
// player asked for.
#pragma once

#include "tests/common/TestHttpServer.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>

namespace httplib {
struct Request;
struct Response;
class Result;
} // namespace httplib

class FaultRelay
{
public:
    // Returns true when it answered the request itself.
    using Spoiler = std::function<bool(const httplib::Request &, httplib::Response &)>;

    explicit FaultRelay(const QString &upstream);
    ~FaultRelay();

    // Set before start(); runs on the relay's worker threads.
    void setSpoiler(Spoiler spoiler) { m_spoiler = std::move(spoiler); }
    bool start();
    void stop();
    QString url() const { return m_server.url(); }

    // The body the bundled service gives for a target ("/path?query"), its
    // links built on the relay's address (once it has one).
    std::string upstreamBody(const std::string &target) const;

    // Every target asked for so far, in order of arrival.
    QStringList requests() const;
    int requestsContaining(const QString &part) const;

    // Answers that stall: they send a part of their body, then hold until
    // release() (or the relay stops) and close the connection without the
    // rest.
    void stallMidBody(httplib::Response &res, const std::string &body);
    bool stallStarted() const { return m_stallStarted.load(); }
    void release() { m_released = true; }

    // An answer whose connection closes after half its announced body.
    static void resetMidBody(httplib::Response &res, const std::string &body);
    // A chunked answer of exactly `bytes` bytes: `head`, filler lines that
    // carry no marker of any page, then `tail`. Generated on the fly, never
    // held whole. Random filler goes out uncompressed; Repeated filler is
    // sent as text, which is compressed for clients that accept it, as
    // servers do: a decompression bomb of a few KB.
    enum class Filler { Random, Repeated };
    static void giganticBody(httplib::Response &res, qint64 bytes, const std::string &head,
                             const std::string &tail, Filler filler = Filler::Random);

private:
    httplib::Result askUpstream(const std::string &target) const;

    TestHttpServer m_server;
    std::string m_upstreamHost;
    int m_upstreamPort = 0;
    Spoiler m_spoiler;
    mutable std::mutex m_mutex;
    QStringList m_requests;
    std::atomic<bool> m_stallStarted{false};
    std::atomic<bool> m_released{false};
};
