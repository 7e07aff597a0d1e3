// The page loop against a loopback search endpoint whose pages the tests
// choose, including a page that is held back until the test has pressed a
// button inside the loop's wait.
#include "net/HttpClient.h"
#include "service/SearchSongs.h"
#include "service/SearchState.h"
#include "service/ServiceConfig.h"
#include "tests/common/TestHttpServer.h"
#include "tests/service/FakeSearchPages.h"
#include "tests/service/RecordingViews.h"

#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <httplib.h>
#include <map>
#include <mutex>
#include <thread>

using namespace musicservice;

namespace {

class SearchSongsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Song totals per query word; "none" gets the nothing-found page.
        m_totals = {
            {"sixtyone", 61}, {"thirty", 30},          {"zero", 0}, {"held", 90}, {"new", 30},
            {"drip", 90},     {"hollow", 999999999999}};
        server.http().Get(
            "/app/search/searchList.php",
            [this](const httplib::Request &req, httplib::Response &res) { serve(req, res); });
        ASSERT_TRUE(server.start());
        ServiceConfig::setHost(server.url());
        searchState() = SearchState();
    }
    void TearDown() override
    {
        m_release = true;
        ServiceConfig::setHost(QString());
    }

    void serve(const httplib::Request &req, httplib::Response &res)
    {
        const std::string word = req.get_param_value("qword");
        const int page = req.has_param("page") ? std::stoi(req.get_param_value("page")) : 1;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(word + "#" + std::to_string(page));
        }
        // "hollow" ends after page 10 all the same, so that a loop that
        // does not stop at its empty pages fails here rather than runs on.
        if (word == "none" || (word == "hollow" && page > 10)) {
            res.set_content(FakeSearchPages::noMatchPage(QStringLiteral("none")).toStdString(),
                            "text/html; charset=utf-8");
            return;
        }
        if (word == "held" && page == 2) {
            m_heldPageRequested = true;
            for (int i = 0; i < 500 && !m_release && !server.stopping(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (word == "drip" && page == 2) {
            // A few bytes every 100 ms: never idle long enough for the
            // transfer time-out, done only after minutes.
            m_heldPageRequested = true;
            res.set_chunked_content_provider(
                "text/html; charset=utf-8", [this](size_t, httplib::DataSink &sink) {
                    if (server.stopping())
                        return false;
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                    return sink.write("<!-- -->\n", 9);
                });
            return;
        }
        const qint64 total = m_totals.count(word) ? m_totals.at(word) : 0;
        const int perPage = word == "endless" ? m_rowsPerPage : kSongsPerPage;
        // "hollow" claims far more songs than it lists: none after page 1.
        const int onPage =
            word == "hollow" && page > 1
                ? 0
                : int(std::clamp<qint64>(total - qint64(page - 1) * perPage, 0, perPage));
        // Song IDs tell query and page apart: page 2 of "held" lists 2001...
        const int firstId = (word == "new" ? 5000 : 0) + page * 1000 + 1;
        // The big pages go out as they are: compressing megabytes of text at
        // the library's top quality would cost seconds a page.
        res.set_content(
            FakeSearchPages::page(total, FakeSearchPages::numbered(firstId, onPage)).toStdString(),
            word == "endless" ? "application/octet-stream" : "text/html; charset=utf-8");
    }

    // Runs action on the UI thread as soon as the held page is requested,
    // i.e. while the loop waits for it, then lets the page go.
    void whenHeldPageRequested(std::function<void()> action)
    {
        auto *poll = new QTimer;
        QObject::connect(poll, &QTimer::timeout, poll, [this, poll, action] {
            if (!m_heldPageRequested)
                return;
            poll->stop();
            action();
            m_release = true;
            poll->deleteLater();
        });
        poll->start(5);
    }

    std::vector<std::string> requests()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }

    static constexpr int kSongsPerPage = 30;
    TestHttpServer server;
    RecordingSearchView view;
    std::map<std::string, qint64> m_totals;
    std::mutex m_mutex;
    std::vector<std::string> m_requests;
    std::atomic<bool> m_heldPageRequested{false};
    std::atomic<bool> m_release{false};
    int m_rowsPerPage = kSongsPerPage; // of the "endless" query
};

TEST_F(SearchSongsTest, WalksEveryPageThenEnds)
{
    beginSearch(QStringLiteral("sixtyone"), view);

    EXPECT_EQ(requests(), (std::vector<std::string>{"sixtyone#1", "sixtyone#2", "sixtyone#3"}));
    ASSERT_EQ(view.rows.size(), 61);
    EXPECT_EQ(view.rows.front().songId, QStringLiteral("1001"));
    EXPECT_EQ(view.rows[30].songId, QStringLiteral("2001"));
    EXPECT_EQ(view.rows.back().songId, QStringLiteral("3001"));
    EXPECT_EQ(view.statusHistory, (QStringList{QStringLiteral("共找到3页,正在查找第2页资源信息。"),
                                               QStringLiteral("共找到3页,正在查找第3页资源信息。"),
                                               QStringLiteral("搜索结束,共找到：61条资源")}));

    // The end routine: empty box, captions, disabled stop button, state reset.
    EXPECT_TRUE(view.searchBox.isEmpty());
    EXPECT_EQ(view.searchCaption, QStringLiteral("搜索"));
    EXPECT_EQ(view.stopCaption, QStringLiteral("已停止"));
    EXPECT_FALSE(view.stopEnabled);
    EXPECT_EQ(view.fitCount, 0);
    const SearchState &s = searchState();
    EXPECT_FALSE(s.searchInProgress);
    EXPECT_EQ(s.searchPage, 1);
    EXPECT_EQ(s.firstPageMarker, SearchState::kFirstPage);
    EXPECT_EQ(s.searchPageCount, QStringLiteral("3"));
    EXPECT_EQ(s.encodedQuery, QStringLiteral("sixtyone"));
}

TEST_F(SearchSongsTest, PageCountsDecideHowManyPagesAreFetched)
{
    struct Case
    {
        const char *word;
        std::vector<std::string> fetched;
        int rows;
    };
    for (const Case &c : {Case{"thirty", {"thirty#1"}, 30}, Case{"zero", {"zero#1"}, 0},
                          Case{"none", {"none#1"}, 0}}) {
        m_requests.clear();
        view = RecordingSearchView();
        beginSearch(QString::fromLatin1(c.word), view);
        EXPECT_EQ(requests(), c.fetched) << c.word;
        EXPECT_EQ(view.rows.size(), c.rows) << c.word;
        EXPECT_EQ(view.statusHistory.last(),
                  QStringLiteral("搜索结束,共找到：%1条资源").arg(c.rows));
    }
}

TEST_F(SearchSongsTest, AutoTickAndFitOptions)
{
    view.autoTick = true;
    view.fit = true;
    beginSearch(QStringLiteral("thirty"), view);
    ASSERT_EQ(view.rows.size(), 30);
    EXPECT_TRUE(std::all_of(view.rows.begin(), view.rows.end(),
                            [](const SearchResult &r) { return r.ticked; }));
    EXPECT_TRUE(view.selectAllTicked);
    EXPECT_EQ(view.fitCount, 1);
}

TEST_F(SearchSongsTest, StopDuringAPageStillAddsThatPage)
{
    whenHeldPageRequested([this] { stopSearch(view); });
    beginSearch(QStringLiteral("held"), view);

    EXPECT_EQ(requests(), (std::vector<std::string>{"held#1", "held#2"}));
    ASSERT_EQ(view.rows.size(), 60);
    EXPECT_EQ(view.rows.back().songId, QStringLiteral("2030"));
    EXPECT_EQ(view.statusHistory.last(), QStringLiteral("搜索结束,共找到：60条资源"));
    EXPECT_FALSE(searchState().searchInProgress);
    EXPECT_EQ(searchState().searchPage, 1);
}

// After Stop the page in flight may still arrive, but one dripping in
// gets only the stop grace, not the whole request time-out (minutes).
TEST_F(SearchSongsTest, StopGivesADrippingPageOnlyTheGrace)
{
    const int oldGrace = stopGraceMs();
    setStopGraceMs(1000);
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [this, poll] {
        if (!m_heldPageRequested)
            return;
        poll->stop();
        stopSearch(view);
        poll->deleteLater();
    });
    poll->start(5);
    QElapsedTimer clock;
    clock.start();
    beginSearch(QStringLiteral("drip"), view);
    const qint64 elapsed = clock.elapsed();
    setStopGraceMs(oldGrace);

    std::printf("[ attack   ] stop during a dripping page: search ended %lld ms later\n",
                static_cast<long long>(elapsed));
    EXPECT_LT(elapsed, 10000) << "the dripping page kept the search alive";
    EXPECT_EQ(requests(), (std::vector<std::string>{"drip#1", "drip#2"}));
    EXPECT_EQ(view.rows.size(), 30);
    EXPECT_TRUE(view.statusHistory.last().startsWith(QStringLiteral("搜索结束,共找到：30条资源")));
    EXPECT_FALSE(searchState().searchInProgress);
}

// A service that claims endless results fills the list to its bound, no
// further, and the status line says so.
TEST_F(SearchSongsTest, ResultListStopsAtItsBound)
{
    m_totals["endless"] = 1000000000;
    m_rowsPerPage = 5000;
    beginSearch(QStringLiteral("endless"), view);
    EXPECT_EQ(view.rows.size(), kMaxResultRows);
    EXPECT_EQ(requests().size(), size_t(kMaxResultRows / 5000));
    EXPECT_EQ(
        view.statusHistory.last(),
        QStringLiteral("搜索结束,共找到：%1条资源（结果过多，只列出前%1条）").arg(kMaxResultRows));
    EXPECT_FALSE(searchState().searchInProgress);
}

// The count is the first page's claim: the first later page with no rows
// ends the search, however many pages were claimed, and the status line
// says why it ended early.
TEST_F(SearchSongsTest, ALaterPageWithNoRowsEndsTheSearch)
{
    beginSearch(QStringLiteral("hollow"), view);
    EXPECT_EQ(requests(), (std::vector<std::string>{"hollow#1", "hollow#2"}));
    EXPECT_EQ(view.rows.size(), 30);
    EXPECT_EQ(view.statusHistory.last(),
              QStringLiteral("搜索结束,共找到：30条资源（第2页没有资源，搜索提前结束）"));
    EXPECT_FALSE(searchState().searchInProgress);
}

TEST_F(SearchSongsTest, NewerSearchInsideTheWaitOwnsTheList)
{
    whenHeldPageRequested([this] {
        stopSearch(view);
        beginSearch(QStringLiteral("new"), view);
    });
    beginSearch(QStringLiteral("held"), view);

    // The old loop's page 2 arrived after the new search; it was dropped and
    // page 3 never asked for.
    EXPECT_EQ(requests(), (std::vector<std::string>{"held#1", "held#2", "new#1"}));
    ASSERT_EQ(view.rows.size(), 30);
    for (const SearchResult &r : view.rows)
        EXPECT_GE(r.songId.toInt(), 6001);
    EXPECT_EQ(view.statusHistory.last(), QStringLiteral("搜索结束,共找到：30条资源"));
    EXPECT_EQ(view.statusHistory.count(QStringLiteral("搜索结束,共找到：30条资源")), 1);
    EXPECT_FALSE(searchState().searchInProgress);
}

TEST_F(SearchSongsTest, UnreachableServiceEndsQuietly)
{
    server.stop();
    beginSearch(QStringLiteral("sixtyone"), view);
    EXPECT_TRUE(view.rows.isEmpty());
    ASSERT_EQ(view.failures.size(), 1);
    EXPECT_EQ(view.failures[0], HttpClient::lastError());
    EXPECT_EQ(view.statusHistory.last(), QStringLiteral("搜索结束,共找到：0条资源"));
    EXPECT_FALSE(searchState().searchInProgress);
}

TEST_F(SearchSongsTest, StopBeforeTheFirstFetchEndsAtOnce)
{
    searchState().searchInProgress = false;
    QString url = ServiceConfig::resource(101) + QStringLiteral("sixtyone");
    searchSongs(url, view);
    EXPECT_TRUE(requests().empty());
    EXPECT_EQ(view.statusHistory, QStringList{QStringLiteral("搜索结束,共找到：0条资源")});
}

} // namespace
