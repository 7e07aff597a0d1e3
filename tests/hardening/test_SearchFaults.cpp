// The search from the main window against a service that misbehaves: a page
// that stalls, a connection reset in the middle of a page, an error status,
// a gigantic page, pages in the wrong charset. Each search must end on its
// own with only real rows in the list and a window that still searches.
#include "tests/hardening/HardeningFixture.h"
#include "tests/hardening/StallProbe.h"

#include "net/UrlEncode.h"
#include "service/SearchPageParser.h"
#include "service/SearchState.h"

#include <QRegularExpression>
#include <QStringEncoder>
#include <QTest>
#include <httplib.h>

namespace {

using Request = httplib::Request;
using Response = httplib::Response;

// Whether the request asks for result page `page` of a search for `words`;
// the searches a test makes afterwards to see the window recover pass.
bool isPage(const Request &req, const char *words, const char *page)
{
    if (req.path != "/app/search/searchList.php" || req.get_param_value("qword") != words)
        return false;
    return req.has_param("page") ? req.get_param_value("page") == page
                                 : std::string_view(page) == "1";
}

class SearchFaults : public HardeningFixture
{
protected:
    // Every row holds a song ID of the synthetic catalogue, once, and a
    // title and singer without replacement or control characters.
    void expectOnlyRealRows(int rows)
    {
        ASSERT_EQ(form->resultsView->rowCount(), rows);
        const QStringList ids = column(0);
        EXPECT_EQ(QSet<QString>(ids.begin(), ids.end()).size(), rows);
        static const QRegularExpression kSyntheticId(QStringLiteral("^50\\d{5}$"));
        static const QRegularExpression kJunk(QStringLiteral("[\\x{0}-\\x{1f}\\x{fffd}]"));
        for (int i = 0; i < rows; ++i) {
            EXPECT_TRUE(kSyntheticId.match(ids.at(i)).hasMatch()) << ids.at(i).toStdString();
            EXPECT_FALSE(column(1).at(i).contains(kJunk)) << i;
            EXPECT_FALSE(column(2).at(i).contains(kJunk)) << i;
        }
    }

    // After a fault the window searches as before.
    void expectASearchStillWorks()
    {
        search(QStringLiteral("load3"));
        EXPECT_EQ(form->resultsView->rowCount(), 3);
        EXPECT_EQ(form->statusEdit->text(), summary(3));
        EXPECT_EQ(form->searchButton->text(), QStringLiteral("搜索"));
    }
};

} // namespace

TEST_F(SearchFaults, StalledPageKeepsTheWindowServingAndTheStopButtonWorks)
{
    HttpClient::setTransferTimeoutMs(1500);
    startRelay([this](const Request &req, Response &res) {
        if (!isPage(req, "load90", "2"))
            return false;
        relay->stallMidBody(res, relay->upstreamBody(req.target));
        return true;
    });

    StallProbe probe;
    int ticksInStall = 0;
    bool stopClicked = false;
    QString captionAfterStop;
    QTimer driver;
    driver.setInterval(10);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        if (!relay->stallStarted())
            return;
        ++ticksInStall;
        if (!stopClicked && ticksInStall == 5) {
            stopClicked = true;
            QTest::mouseClick(form->stopButton, Qt::LeftButton);
            captionAfterStop = form->searchButton->text();
        }
    });
    probe.start();
    driver.start();
    search(QStringLiteral("load90"));
    driver.stop();
    probe.stop();

    EXPECT_TRUE(stopClicked);
    EXPECT_GT(ticksInStall, 5); // the window's timers ran inside the wait
    EXPECT_EQ(captionAfterStop, QStringLiteral("搜索"));
    expectOnlyRealRows(30);
    EXPECT_TRUE(form->statusEdit->text().startsWith(summary(30)));
    EXPECT_FALSE(musicservice::searchState().searchInProgress);
    EXPECT_EQ(relay->requestsContaining(QStringLiteral("page=3")), 0);
    std::printf("[ stall    ] longest event-loop gap during a stalled page: %lld ms\n",
                static_cast<long long>(probe.longestGapMs()));
    relay->release();
    expectASearchStillWorks();
}

TEST_F(SearchFaults, ResetInTheMiddleOfAPageKeepsTheEarlierPagesAndSaysWhy)
{
    startRelay([this](const Request &req, Response &res) {
        if (!isPage(req, "load61", "2"))
            return false;
        FaultRelay::resetMidBody(res, relay->upstreamBody(req.target));
        return true;
    });
    search(QStringLiteral("load61"));
    expectOnlyRealRows(30); // page 1 whole, nothing of the broken page 2
    EXPECT_EQ(form->statusEdit->text(), summary(30) + QStringLiteral("（网络错误：连接被中断）"));
    EXPECT_EQ(relay->requestsContaining(QStringLiteral("page=3")), 0);
    expectASearchStillWorks();
}

TEST_F(SearchFaults, ErrorStatusPagesListNothingOfTheirOwn)
{
    // 500 and 404 with a body: the status is not examined, the body is read
    // like any page and its markers decide. An error page holds no song row
    // (its stray play call has ID 0), so a first page that fails this way
    // ends the search with nothing listed, and a failing second page adds
    // nothing and ends it there, as any later page with no rows does.
    struct Case
    {
        int status;
        bool firstPage;
        int rows;
    } cases[] = {{500, true, 0}, {404, true, 0}, {500, false, 30}, {503, false, 30}};
    for (const Case &c : cases) {
        relay = std::make_unique<FaultRelay>(service->url());
        startRelay([c](const Request &req, Response &res) {
            if (!isPage(req, "load61", c.firstPage ? "1" : "2"))
                return false;
            res.status = c.status;
            res.set_content("<html><body><h1>Internal Server Error</h1>"
                            "<p>ddSong(\"0\",\"x\",\"y\") class=x>collect</a></p></body></html>",
                            "text/html; charset=utf-8");
            return true;
        });
        search(QStringLiteral("load61"));
        SCOPED_TRACE(c.status);
        expectOnlyRealRows(c.rows);
        EXPECT_EQ(form->searchButton->text(), QStringLiteral("搜索"));
    }
    expectASearchStillWorks();
}

TEST_F(SearchFaults, GiganticPagesAreReadWithinTheCapOrRefused)
{
    // Filler inside the result table of a real first page. 40 MB: its 30
    // rows are listed. 100 MB: over the client's 64 MiB cap, refused. A
    // compressed page that inflates far beyond what it weighs: the client
    // stops inflating at the cap, and the search says the page is too large
    // rather than reporting an empty result.
    const std::string page = relay->upstreamBody("/app/search/searchList.php?qword=load30");
    const size_t cut = page.find("<tbody>");
    ASSERT_NE(cut, std::string::npos);
    struct Case
    {
        qint64 bytes;
        FaultRelay::Filler filler;
        int rows;
        QString error;
    } cases[] = {
        {40ll << 20, FaultRelay::Filler::Random, 30, QString()},
        {100ll << 20, FaultRelay::Filler::Random, 0, QStringLiteral("（网络错误：页面过大）")},
        {80ll << 20, FaultRelay::Filler::Repeated, 0, QStringLiteral("（网络错误：页面过大）")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bytes);
        relay = std::make_unique<FaultRelay>(service->url());
        startRelay([&](const Request &req, Response &res) {
            if (!isPage(req, "load30", "1"))
                return false;
            FaultRelay::giganticBody(res, c.bytes, page.substr(0, cut), page.substr(cut), c.filler);
            return true;
        });
        StallProbe probe;
        probe.start();
        search(QStringLiteral("load30"));
        probe.stop();
        expectOnlyRealRows(c.rows);
        EXPECT_EQ(form->statusEdit->text(), summary(c.rows) + c.error);
        std::printf("[ gigantic ] %lld MB page: longest event-loop gap %lld ms\n", c.bytes >> 20,
                    static_cast<long long>(probe.longestGapMs()));
    }
    expectASearchStillWorks();
}

TEST_F(SearchFaults, PagesInTheWrongCharsetListNoGarbage)
{
    // The service's pages are UTF-8 and are read as UTF-8. A page sent as
    // UTF-16 matches no marker at all: nothing is listed. A GBK page still
    // has its ASCII markers: its rows are the real songs of the page (IDs
    // as on the real page, no control characters; a Chinese title shows
    // replacement characters), and as the count cannot be read no further
    // page is asked for.
    const QString words = QStringLiteral("精选");
    const std::string firstPage =
        "/app/search/searchList.php?qword=" + musicservice::urlEncode(words).toStdString();
    QStringList realIds;
    for (const SearchResult &row :
         musicservice::parseSearchPage(QString::fromStdString(relay->upstreamBody(firstPage))))
        realIds << row.songId;
    ASSERT_EQ(realIds.size(), 30);

    struct Case
    {
        const char *charset;
        QStringList ids;
    } cases[] = {{"UTF-16LE", {}}, {"GBK", realIds}};
    for (const Case &c : cases) {
        relay = std::make_unique<FaultRelay>(service->url());
        startRelay([this, c](const Request &req, Response &res) {
            if (!isPage(req, "精选", "1"))
                return false;
            QStringEncoder encoder(c.charset);
            const QByteArray bytes =
                encoder.encode(QString::fromStdString(relay->upstreamBody(req.target)));
            res.set_content(bytes.toStdString(),
                            (std::string("text/html; charset=") + c.charset).c_str());
            return true;
        });
        search(words);
        SCOPED_TRACE(c.charset);
        EXPECT_EQ(column(0), c.ids);
        static const QRegularExpression kControl(QStringLiteral("[\\x{0}-\\x{1f}]"));
        for (int col = 1; col < 4; ++col) {
            for (const QString &text : column(col))
                EXPECT_FALSE(text.contains(kControl)) << text.toStdString();
        }
        EXPECT_EQ(form->statusEdit->text(), summary(int(c.ids.size())));
        EXPECT_EQ(relay->requestsContaining(QStringLiteral("searchList.php")), 1);
        expectASearchStillWorks();
    }
}
