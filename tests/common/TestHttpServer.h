// A loopback HTTP server inside the test process, for answers the bundled
// service never gives: error statuses, empty bodies, stalls, resets, odd
// charsets. Register routes on http(), then start(); it listens on
// 127.0.0.1 with a free port in a thread of its own and stops in the
// destructor. Given a certificate and its key, it speaks https.
#pragma once

#include <QString>
#include <atomic>
#include <memory>
#include <thread>

namespace httplib {
class Server;
}

class TestHttpServer
{
public:
    TestHttpServer();
    // An https server with this certificate and key (PEM files).
    TestHttpServer(const QString &certificateFile, const QString &keyFile);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer &) = delete;
    TestHttpServer &operator=(const TestHttpServer &) = delete;

    httplib::Server &http() { return *m_server; }
    bool start();
    void stop();
    // "http://127.0.0.1:PORT" (https for an https server)
    QString url() const;
    int port() const { return m_port; }
    // Set by stop(): handlers that stall poll it to end early.
    bool stopping() const { return m_stopping.load(); }

private:
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    bool m_secure = false;
    std::atomic<bool> m_stopping{false};
};
