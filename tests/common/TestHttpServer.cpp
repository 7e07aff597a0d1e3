#include "tests/common/TestHttpServer.h"

#include <chrono>
#include <httplib.h>

TestHttpServer::TestHttpServer() : m_server(std::make_unique<httplib::Server>())
{
    // One request per connection: stop() then never waits for an idle
    // keep-alive connection to time out.
    m_server->set_keep_alive_max_count(1);
}

TestHttpServer::TestHttpServer(const QString &certificateFile, const QString &keyFile)
    : m_server(std::make_unique<httplib::SSLServer>(certificateFile.toLocal8Bit().constData(),
                                                    keyFile.toLocal8Bit().constData())),
      m_secure(true)
{
    m_server->set_keep_alive_max_count(1);
}

TestHttpServer::~TestHttpServer()
{
    stop();
}

bool TestHttpServer::start()
{
    if (!m_server->is_valid())
        return false;
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        return false;
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    for (int i = 0; i < 200 && !m_server->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return m_server->is_running();
}

void TestHttpServer::stop()
{
    m_stopping = true;
    if (m_thread.joinable()) {
        m_server->stop();
        m_thread.join();
    }
}

QString TestHttpServer::url() const
{
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(m_secure ? QStringLiteral("https") : QStringLiteral("http"))
        .arg(m_port);
}
