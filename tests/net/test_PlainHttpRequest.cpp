// HttpClient's own plain-http path: answers of every shape, broken ones,
// redirects, the hand-over to the network module for https, and the waits'
// time-out and cancellation, against a server that sends exactly the bytes
// a case needs.
#include "net/HttpClient.h"
#include "net/NetworkBackend.h"
#include "tests/common/ScriptedServer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

using Answer = ScriptedServer::Answer;

Answer answer(const std::string &head, const std::string &body)
{
    Answer a;
    a.head = head;
    a.body = body;
    return a;
}

std::string lengthHead(const std::string &body, const std::string &status = "200 OK")
{
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size());
}

// "deflate" in HTTP is the zlib format: qCompress's output after its own
// four-byte length.
std::string deflated(const std::string &text)
{
    return qCompress(QByteArray::fromStdString(text)).mid(4).toStdString();
}

// A port nothing listens on.
int closedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

class PlainHttpTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        HttpClient::setTransferTimeoutMs(15000);
        HttpClient::setTotalTimeoutMs(120000);
    }
    static HttpResult get(const QByteArray &url)
    {
        return HttpClient::get(QString::fromLatin1(url));
    }
};

TEST_F(PlainHttpTest, AnswersOfEveryShapeArriveWhole)
{
    const std::string page = "<html>页面 " + std::string(100000, 'x') + "</html>";
    struct Case
    {
        const char *name;
        Answer answer;
        int status;
        std::string body;
    } cases[] = {
        {"length", answer(lengthHead(page), page), 200, page},
        {"chunked, with an extension and a trailer",
         answer("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked",
                "5;name=x\r\n<html\r\n1\r\n>\r\n0\r\nTrailer: yes\r\n\r\n"),
         200, "<html>"},
        {"ended by the close", answer("HTTP/1.1 200 OK", page), 200, page},
        {"error status with its page", answer(lengthHead("gone", "404 Not Found"), "gone"), 404,
         "gone"},
        {"no content", answer("HTTP/1.1 204 No Content", ""), 204, ""},
        {"after an interim answer",
         answer("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2", "ok"), 200,
         "ok"},
        {"deflated",
         answer("HTTP/1.1 200 OK\r\nContent-Encoding: deflate\r\nContent-Length: " +
                    std::to_string(deflated(page).size()),
                deflated(page)),
         200, page},
        {"a redirect without a Location is the answer",
         answer(lengthHead("moved", "302 Found"), "moved"), 302, "moved"},
        {"one length said twice",
         answer("HTTP/1.1 200 OK\r\nContent-Length: 2\r\ncontent-length: 2, 2", "ok"), 200, "ok"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server([&](const std::string &, int) { return c.answer; });
        const HttpResult r = get(server.url("/page?q=1"));
        EXPECT_TRUE(r.ok) << r.error.toStdString();
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.body.toStdString(), c.body);
        EXPECT_TRUE(HttpClient::lastError().isEmpty());
        const std::vector<std::string> requests = server.requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].rfind("GET /page?q=1 HTTP/1.1\r\n", 0), 0u) << requests[0];
        EXPECT_NE(requests[0].find("\r\nUser-Agent: Velmor/"), std::string::npos);
        EXPECT_NE(requests[0].find("\r\nAccept-Encoding: gzip, deflate\r\n"), std::string::npos);
    }
    // Plain http needs no network module.
    EXPECT_EQ(NetworkBackend::ifLoaded(), nullptr);
}

TEST_F(PlainHttpTest, BrokenAnswersFailQuietly)
{
    const QString unreadable = QStringLiteral("网络错误：无法读取页面");
    const QString cut = QStringLiteral("网络错误：连接被中断");
    const std::string body = "0123456789";
    Answer cutShort = answer(lengthHead(body), body);
    cutShort.sendBytes = 4;
    const std::string packed = deflated(std::string(5000, 'a'));
    Answer silent;
    silent.silent = true;
    struct Case
    {
        const char *name;
        Answer answer;
        QString error;
    } cases[] = {
        {"not HTTP", answer("HTTX/1.1 200 OK", body), unreadable},
        {"no status number", answer("HTTP/1.1 OK", body), unreadable},
        {"a head that never ends", answer("HTTP/1.1 200 OK\r\nX: " + std::string(70000, 'h'), body),
         unreadable},
        {"closed before any answer", silent, cut},
        {"an empty head", answer("", ""), unreadable},
        {"closed mid-body", cutShort, cut},
        {"a chunk size that is no number",
         answer("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked", "zz\r\nabc\r\n0\r\n\r\n"),
         unreadable},
        {"a coding nobody asked for",
         answer("HTTP/1.1 200 OK\r\nContent-Encoding: br\r\nContent-Length: 10", body), unreadable},
        {"a corrupt compressed body",
         answer("HTTP/1.1 200 OK\r\nContent-Encoding: deflate\r\nContent-Length: 10", body),
         unreadable},
        {"two lengths that differ",
         answer("HTTP/1.1 200 OK\r\nContent-Length: 4\r\nContent-Length: 10", body), unreadable},
        {"a list of lengths that differ", answer("HTTP/1.1 200 OK\r\nContent-Length: 10, 4", body),
         unreadable},
        {"a compressed body cut short",
         answer("HTTP/1.1 200 OK\r\nContent-Encoding: deflate",
                packed.substr(0, packed.size() - 6)),
         unreadable},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server([&](const std::string &, int) { return c.answer; });
        const HttpResult r = get(server.url("/"));
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.body.isEmpty());
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(HttpClient::lastError(), c.error);
    }
    const QByteArray refused = "http://127.0.0.1:" + QByteArray::number(closedPort()) + "/";
    EXPECT_EQ(get(refused).error, QStringLiteral("网络错误：连接被拒绝"));
    EXPECT_EQ(get("http://no-such-host.invalid/").error, QStringLiteral("网络错误：找不到服务器"));
}

TEST_F(PlainHttpTest, RedirectsAreFollowedWithinTheirLimit)
{
    // Relative, absolute-path and whole-URL locations, then the page.
    const ScriptedServer *self = nullptr; // set before any request comes
    ScriptedServer chain([&self](const std::string &request, int) {
        if (request.rfind("GET /a/b HTTP", 0) == 0)
            return answer("HTTP/1.1 301 Moved\r\nLocation: c?x=1\r\nContent-Length: 0", "");
        if (request.rfind("GET /a/c?x=1 HTTP", 0) == 0)
            return answer("HTTP/1.1 302 Found\r\nLocation: /d\r\nContent-Length: 0", "");
        if (request.rfind("GET /d HTTP", 0) == 0) {
            return answer("HTTP/1.1 307 Temporary\r\nLocation: " + self->url("/end").toStdString() +
                              "\r\nContent-Length: 0",
                          "");
        }
        return answer(lengthHead("arrived"), "arrived");
    });
    self = &chain;
    const HttpResult r = get(chain.url("/a/b"));
    EXPECT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.body, "arrived");
    ASSERT_EQ(chain.requests().size(), 4u);
    EXPECT_EQ(chain.requests()[3].rfind("GET /end HTTP/1.1", 0), 0u);

    // Five redirects are followed; a sixth is one too many.
    for (const int hops : {5, 6}) {
        SCOPED_TRACE(hops);
        ScriptedServer loop([hops](const std::string &, int connection) {
            if (connection < hops)
                return answer("HTTP/1.1 302 Found\r\nLocation: /again\r\nContent-Length: 0", "");
            return answer(lengthHead("end"), "end");
        });
        const HttpResult hopped = get(loop.url("/"));
        EXPECT_EQ(hopped.ok, hops == 5);
        EXPECT_EQ(hopped.error, hops == 5 ? QString() : QStringLiteral("网络错误：无法读取页面"));
    }
    EXPECT_EQ(NetworkBackend::ifLoaded(), nullptr);
}

TEST_F(PlainHttpTest, ARedirectToHttpsIsHandedToTheNetworkModule)
{
    const std::string target = "https://127.0.0.1:" + std::to_string(closedPort()) + "/secure";
    ScriptedServer server([&](const std::string &, int) {
        return answer("HTTP/1.1 301 Moved\r\nLocation: " + target + "\r\nContent-Length: 0", "");
    });
    EXPECT_EQ(NetworkBackend::ifLoaded(), nullptr);
    const HttpResult r = get(server.url("/"));
    // Nothing listens there: the module's own connection is refused.
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, QStringLiteral("网络错误：连接被拒绝"));
    EXPECT_NE(NetworkBackend::ifLoaded(), nullptr);
}

TEST_F(PlainHttpTest, WaitsEndByTimeOutOrCancelWhileTheEventLoopRuns)
{
    // The head, then nothing more on a connection held open.
    Answer stalled = answer("HTTP/1.1 200 OK\r\nContent-Length: 100", "abc");
    stalled.stallAfter = true;
    struct Case
    {
        const char *name;
        int transferMs;
        int totalMs;
        int limitAfterMs; // HttpClient::limitGroup then, -1: never
        QString error;
    } cases[] = {
        {"no bytes for the transfer time-out", 300, 120000, -1,
         QStringLiteral("网络错误：连接超时")},
        {"the whole request's time-out", 15000, 300, -1, QStringLiteral("网络错误：连接超时")},
        {"its group cut short", 15000, 120000, 200, QStringLiteral("网络错误：请求已取消")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server([&](const std::string &, int) { return stalled; });
        HttpClient::setTransferTimeoutMs(c.transferMs);
        HttpClient::setTotalTimeoutMs(c.totalMs);
        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
        ticker.start(20);
        if (c.limitAfterMs >= 0) {
            QTimer::singleShot(c.limitAfterMs,
                               [] { HttpClient::limitGroup(QStringLiteral("search"), 0); });
        }
        HttpLimits limits;
        limits.group = QStringLiteral("search");
        const HttpResult r = HttpClient::get(QString::fromLatin1(server.url("/")), limits);
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.body.isEmpty());
        EXPECT_EQ(r.error, c.error);
        // The window's events kept running during the wait.
        EXPECT_GE(ticks, 3);
    }
}

// The network module reads a body by the first of its lengths: two that
// differ are refused there too, in a page's request and in a stream.
TEST_F(PlainHttpTest, TheNetworkModuleRefusesLengthsThatDiffer)
{
    NetworkBackend *module = NetworkBackend::instance();
    ASSERT_NE(module, nullptr);
    const std::string body = "0123456789";
    struct Case
    {
        const char *name;
        std::string head;
        bool whole;
    } cases[] = {
        {"one length", lengthHead(body), true},
        {"two that differ", "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nContent-Length: 10", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server([&](const std::string &, int) { return answer(c.head, body); });
        const HttpResult page = module->get(QUrl(QString::fromLatin1(server.url("/page"))), {},
                                            {15000, 120000, 1 << 20});
        EXPECT_EQ(page.ok, c.whole);
        EXPECT_EQ(page.body, c.whole ? QByteArray::fromStdString(body) : QByteArray());
        EXPECT_EQ(page.error, c.whole ? QString() : QStringLiteral("网络错误：无法读取页面"));

        QEventLoop loop;
        QByteArray streamed;
        std::unique_ptr<HttpStream> stream;
        HttpStream::Handlers handlers;
        handlers.readyRead = [&] { streamed += stream->readAll(); };
        handlers.finished = [&] { loop.quit(); };
        HttpStream::Request request;
        request.url = QUrl(QString::fromLatin1(server.url("/song")));
        request.transferTimeoutMs = 15000;
        stream = module->open(request, std::move(handlers));
        if (!stream->isFinished())
            loop.exec();
        streamed += stream->readAll();
        EXPECT_EQ(stream->failure(), c.whole ? NetworkFailure::None : NetworkFailure::Other);
        EXPECT_EQ(streamed, c.whole ? QByteArray::fromStdString(body) : QByteArray());
    }
}

} // namespace

namespace {

TEST_F(PlainHttpTest, NoRequestGoesOutOnceTheApplicationIsToldToExit)
{
    // A search loop that asks for its next page after the exit command
    // must not reach the server: every event loop returns at once then.
    ScriptedServer server([](const std::string &, int) { return answer(lengthHead("x"), "x"); });
    QCoreApplication::exit(0);
    const HttpResult r = get(server.url("/next-page"));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, QStringLiteral("网络错误：请求已取消"));
    // The application's own loop starting again clears the exit.
    QTimer::singleShot(0, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    QTest::qWait(200);
    EXPECT_TRUE(server.requests().empty());
    EXPECT_TRUE(get(server.url("/page")).ok);
}

} // namespace
