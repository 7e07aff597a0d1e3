// The client's one request path against answers whose body cannot be read
// although the status says success.
#include "net/HttpClient.h"
#include "net/NetworkBackend.h"
#include "service/FetchPage.h"
#include "tests/common/TestHttpServer.h"
#include "tests/hardening/FaultRelay.h"

#include <QUrl>
#include <gtest/gtest.h>
#include <httplib.h>

TEST(ClientFaults, BodyThatCannotBeInflatedIsAFailureNotAShortPage)
{
    // Text is compressed for clients that accept it. A few KB that inflate
    // to 80 MB: the plain-http client stops inflating at the cap and says
    // the page is too large; Qt's network stack (https) gives up part way,
    // and with status 200 that used to pass as a whole answer of the few
    // bytes inflated so far.
    TestHttpServer server;
    server.http().Get("/bomb", [](const httplib::Request &, httplib::Response &res) {
        FaultRelay::giganticBody(res, 80ll << 20, "<html>", "</html>",
                                 FaultRelay::Filler::Repeated);
    });
    server.http().Get("/page", [](const httplib::Request &, httplib::Response &res) {
        FaultRelay::giganticBody(res, 2 << 20, "<html>", "</html>", FaultRelay::Filler::Repeated);
    });
    ASSERT_TRUE(server.start());

    const QString bomb = server.url() + QStringLiteral("/bomb");
    const HttpResult r = HttpClient::get(bomb);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.body.isEmpty());
    EXPECT_EQ(r.error, QStringLiteral("网络错误：页面过大"));
    EXPECT_TRUE(musicservice::fetchPage(bomb, QStringLiteral("utf-8")).isEmpty());
    EXPECT_EQ(HttpClient::lastError(), r.error);

    NetworkBackend *network = NetworkBackend::instance();
    ASSERT_NE(network, nullptr);
    const NetworkBackend::Timeouts timeouts{
        HttpClient::transferTimeoutMs(), HttpClient::totalTimeoutMs(), HttpClient::maxBodyBytes()};
    const HttpResult viaModule = network->get(QUrl(bomb), {}, timeouts);
    EXPECT_FALSE(viaModule.ok);
    EXPECT_TRUE(viaModule.body.isEmpty());
    EXPECT_EQ(viaModule.error, QStringLiteral("网络错误：无法读取页面"));

    // A compressed page of ordinary size still arrives whole, both ways.
    const QUrl pageUrl(server.url() + QStringLiteral("/page"));
    for (const HttpResult &page :
         {HttpClient::get(pageUrl.toString()), network->get(pageUrl, {}, timeouts)}) {
        EXPECT_TRUE(page.ok);
        EXPECT_EQ(page.body.size(), 2 << 20);
        EXPECT_TRUE(page.body.startsWith("<html>"));
        EXPECT_TRUE(page.body.endsWith("</html>"));
    }
}
