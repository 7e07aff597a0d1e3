#include "tests/hardening/FaultRelay.h"

#include <QRandomGenerator>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <httplib.h>
#include <thread>

FaultRelay::FaultRelay(const QString &upstream)
{
    const QUrl u(upstream);
    m_upstreamHost = u.host().toStdString();
    m_upstreamPort = u.port();
}

FaultRelay::~FaultRelay()
{
    stop();
}

bool FaultRelay::start()
{
    m_server.http().Get(".*", [this](const httplib::Request &req, httplib::Response &res) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests << QString::fromStdString(req.target);
        }
        if (m_spoiler && m_spoiler(req, res))
            return;
        const auto answer = askUpstream(req.target);
        if (!answer) {
            res.status = 502;
            return;
        }
        res.status = answer->status;
        res.set_content(answer->body, answer->get_header_value("Content-Type").c_str());
    });
    return m_server.start();
}

void FaultRelay::stop()
{
    m_released = true;
    m_server.stop();
}

httplib::Result FaultRelay::askUpstream(const std::string &target) const
{
    httplib::Client client(m_upstreamHost, m_upstreamPort);
    client.set_read_timeout(30, 0);
    // The service builds the links in its answers on the Host it is asked
    // for: with the relay's own, links and lyric and picture URLs lead back
    // through the relay, where a test can spoil them too.
    const httplib::Headers host{{"Host", "127.0.0.1:" + std::to_string(m_server.port())}};
    return client.Get(target.c_str(), host);
}

std::string FaultRelay::upstreamBody(const std::string &target) const
{
    const auto answer = askUpstream(target);
    return answer ? answer->body : std::string();
}

QStringList FaultRelay::requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

int FaultRelay::requestsContaining(const QString &part) const
{
    return int(requests().filter(part).size());
}

void FaultRelay::stallMidBody(httplib::Response &res, const std::string &body)
{
    const size_t half = body.size() / 2;
    res.set_content_provider(body.size(), "text/html; charset=utf-8",
                             [this, body, half](size_t offset, size_t, httplib::DataSink &sink) {
                                 if (offset < half)
                                     return sink.write(body.data() + offset, half - offset);
                                 m_stallStarted = true;
                                 while (!m_released && !m_server.stopping())
                                     std::this_thread::sleep_for(std::chrono::milliseconds(5));
                                 return false; // the rest never comes
                             });
}

void FaultRelay::resetMidBody(httplib::Response &res, const std::string &body)
{
    const size_t half = body.size() / 2;
    res.set_content_provider(body.size(), "text/html; charset=utf-8",
                             [body, half](size_t offset, size_t, httplib::DataSink &sink) {
                                 if (offset < half)
                                     return sink.write(body.data() + offset, half - offset);
                                 return false; // closes the connection
                             });
}

void FaultRelay::giganticBody(httplib::Response &res, qint64 bytes, const std::string &head,
                              const std::string &tail, Filler filler)
{
    // Only text types are compressed; the random page goes out as it is, so
    // its size on the wire is its size (compressing it would only cost time).
    const char *type =
        filler == Filler::Random ? "application/octet-stream" : "text/html; charset=utf-8";
    res.set_chunked_content_provider(
        type, [bytes, head, tail, filler, sent = qint64(0), random = QRandomGenerator(1),
               line = std::string()](size_t, httplib::DataSink &sink) mutable {
            if (sent == 0) {
                sent = qint64(head.size());
                return sink.write(head.data(), head.size());
            }
            if (sent + qint64(tail.size()) < bytes) {
                // Fresh random letters in every line: no compressor finds a
                // repeat. One letter repeated compresses a thousandfold.
                const qint64 size = std::min<qint64>(1 << 16, bytes - qint64(tail.size()) - sent);
                line.assign(size_t(size), 'x');
                if (filler == Filler::Random) {
                    for (char &c : line)
                        c = char('a' + random.bounded(26));
                }
                line.front() = '\n';
                sent += size;
                return sink.write(line.data(), line.size());
            }
            sink.write(tail.data(), tail.size());
            sink.done();
            return true;
        });
}
