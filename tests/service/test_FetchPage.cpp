#include "net/HttpClient.h"
#include "service/FetchPage.h"
#include "tests/common/TestHttpServer.h"

#include <QElapsedTimer>
#include <QTimer>
#include <chrono>
#include <gtest/gtest.h>
#include <httplib.h>
#include <thread>

using musicservice::fetchPage;

namespace {

const char kGbkPage[] = "<html><head><meta content=\"text/html; CHARSET=GB2312\"></head>"
                        "<body>\xD6\xD0\xCE\xC4</body></html>";

class FetchPageTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto &h = server.http();
        h.Get("/error", [](const httplib::Request &, httplib::Response &res) {
            res.status = 500;
            res.set_content("服务器出错了", "text/html; charset=utf-8");
        });
        h.Get("/notfound", [](const httplib::Request &, httplib::Response &res) {
            res.status = 404;
            res.set_content("nothing here", "text/plain");
        });
        h.Get("/empty", [](const httplib::Request &, httplib::Response &res) {
            res.set_content("", "text/html");
        });
        h.Get("/gbk", [](const httplib::Request &, httplib::Response &res) {
            res.set_content(kGbkPage, "text/html");
        });
        h.Get("/late-marker", [](const httplib::Request &, httplib::Response &res) {
            std::string body(1200, ' ');
            body += "charset=gb2312 \xE4\xB8\xAD";
            res.set_content(body, "text/html");
        });
        h.Get("/echo", [](const httplib::Request &req, httplib::Response &res) {
            res.set_content(req.target, "text/plain");
        });
        h.Get("/stall", [this](const httplib::Request &, httplib::Response &res) {
            for (int i = 0; i < 100 && !server.stopping(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            res.set_content("too late", "text/plain");
        });
        h.Get("/reset", [](const httplib::Request &, httplib::Response &res) {
            res.set_content_provider(100000, "text/plain",
                                     [](size_t offset, size_t, httplib::DataSink &sink) {
                                         if (offset > 0)
                                             return false; // drop the connection mid-body
                                         sink.write("partial", 7);
                                         return true;
                                     });
        });
        ASSERT_TRUE(server.start());
        HttpClient::setTransferTimeoutMs(15000);
    }
    void TearDown() override { HttpClient::setTransferTimeoutMs(15000); }

    QString at(const char *path) const { return server.url() + QLatin1String(path); }

    TestHttpServer server;
};

} // namespace

TEST_F(FetchPageTest, ErrorStatusStillReturnsTheBody)
{
    EXPECT_EQ(fetchPage(at("/error"), QStringLiteral("utf-8")), QStringLiteral("服务器出错了"));
    EXPECT_TRUE(HttpClient::lastError().isEmpty());
    EXPECT_EQ(fetchPage(at("/notfound"), QStringLiteral("utf-8")), QStringLiteral("nothing here"));
}

TEST_F(FetchPageTest, EmptyBodyIsEmptyTextForEveryCharset)
{
    for (const char *cs : {"utf-8", "auto", "gbk", "Utf-8", "bogus"})
        EXPECT_TRUE(fetchPage(at("/empty"), QString::fromLatin1(cs)).isEmpty()) << cs;
}

TEST_F(FetchPageTest, AutoCharsetLooksOnlyAtTheFirstThousandBytes)
{
    const QString gbk = fetchPage(at("/gbk"), QStringLiteral("auto"));
    EXPECT_TRUE(gbk.contains(QStringLiteral("中文"))) << gbk.toStdString();
    // Beyond byte 1000 the marker does not count: UTF-8 wins.
    const QString late = fetchPage(at("/late-marker"), QStringLiteral("auto"));
    EXPECT_TRUE(late.endsWith(QStringLiteral("中")));
    // A named charset is used as named, whatever the page says.
    EXPECT_FALSE(fetchPage(at("/gbk"), QStringLiteral("utf-8")).contains(QStringLiteral("中文")));
}

TEST_F(FetchPageTest, RequestsTheExactUrl)
{
    EXPECT_EQ(fetchPage(at("/echo?qword=%E4%B8%AD&page=2"), QStringLiteral("utf-8")),
              QStringLiteral("/echo?qword=%E4%B8%AD&page=2"));
}

TEST_F(FetchPageTest, StallTimesOutWhileTheEventLoopKeepsRunning)
{
    HttpClient::setTransferTimeoutMs(300);
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    QElapsedTimer t;
    t.start();
    EXPECT_TRUE(fetchPage(at("/stall"), QStringLiteral("utf-8")).isEmpty());
    EXPECT_LT(t.elapsed(), 1900); // ended by the time-out, not by the server
    EXPECT_GT(ticks, 3);          // other events ran inside the wait
    EXPECT_EQ(HttpClient::lastError(), QStringLiteral("网络错误：连接超时"));
}

TEST_F(FetchPageTest, TransportFailuresAreQuiet)
{
    EXPECT_TRUE(fetchPage(at("/reset"), QStringLiteral("utf-8")).isEmpty());
    EXPECT_FALSE(HttpClient::lastError().isEmpty());

    const QString refusedUrl = at("/empty");
    server.stop();
    EXPECT_TRUE(fetchPage(refusedUrl, QStringLiteral("utf-8")).isEmpty());
    EXPECT_EQ(HttpClient::lastError(), QStringLiteral("网络错误：连接被拒绝"));

    EXPECT_TRUE(fetchPage(QStringLiteral("ftp://127.0.0.1/x"), QStringLiteral("utf-8")).isEmpty());
    EXPECT_TRUE(fetchPage(QStringLiteral("not a url"), QStringLiteral("utf-8")).isEmpty());
    EXPECT_FALSE(HttpClient::lastError().isEmpty());
}

TEST_F(FetchPageTest, OversizedBodyIsRefused)
{
    server.http().Get("/big", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(std::string(300000, 'x'), "text/plain");
    });
    HttpClient::setMaxBodyBytes(100000);
    EXPECT_TRUE(fetchPage(at("/big"), QStringLiteral("utf-8")).isEmpty());
    EXPECT_EQ(HttpClient::lastError(), QStringLiteral("网络错误：页面过大"));
    HttpClient::setMaxBodyBytes(64 * 1024 * 1024);
    EXPECT_EQ(fetchPage(at("/big"), QStringLiteral("utf-8")).size(), 300000);
}
