// Searching from the main window against the bundled music service: the
// list fills page by page, a stop keeps the page in flight, the end
// leaves the summary and the button captions, empty input only warns.
#include "tests/window/MainWindowFixture.h"

#include "service/ServiceConfig.h"
#include "tests/common/MusicdServer.h"
#include "tests/common/TestHttpServer.h"
#include "window/SongInfoWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <httplib.h>
#include <mutex>
#include <thread>

namespace {

class MainWindowSearchTest : public MusicdSuite<MainWindowFixture>
{
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        ServiceConfig::setHost(service->url());
    }
    void TearDown() override
    {
        MainWindowFixture::TearDown();
        ServiceConfig::setHost(ServiceConfig::defaultHost());
    }

    void search(const QString &words)
    {
        // Typed into the box, which has the keyboard from the start.
        form->searchEdit->setFocus();
        form->searchEdit->setText(words);
        form->onSearchClicked();
    }

    static QString summary(int rows)
    {
        return QStringLiteral("搜索结束,共找到：%1条资源").arg(rows);
    }
};

} // namespace

TEST_F(MainWindowSearchTest, FillsTheListPageByPageAndEndsWithTheSummary)
{
    struct Row
    {
        const char *words;
        int rows;
    } rows[] = {{"load61", 61}, {"load30", 30}, {"zzqqxxnomatch", 0}};
    for (const Row &row : rows) {
        search(QString::fromLatin1(row.words));
        EXPECT_EQ(form->resultsView->rowCount(), row.rows) << row.words;
        EXPECT_EQ(form->statusEdit->text(), summary(row.rows)) << row.words;
        EXPECT_EQ(form->searchButton->text(), QStringLiteral("搜索"));
        EXPECT_EQ(form->stopButton->text(), QStringLiteral("已停止"));
        EXPECT_FALSE(form->stopButton->isEnabled());
        // Emptied by the search and left, the box shows its prompt again.
        EXPECT_EQ(form->searchEdit->text(), MainWindow::kSearchPrompt);
        EXPECT_FALSE(musicservice::searchState().searchInProgress);
    }
    // Rows keep the service's page order and carry a tick box each.
    search(QStringLiteral("load61"));
    const ResultList *results = form->resultsView;
    EXPECT_FALSE(results->text(0, ResultList::IdColumn).isEmpty());
    EXPECT_NE(results->text(0, ResultList::IdColumn), results->text(60, ResultList::IdColumn));
    EXPECT_FALSE(results->isTicked(0));
}

TEST_F(MainWindowSearchTest, AutoTickAndFitApplyWhileSearching)
{
    form->autoTickBox->setChecked(true);
    form->autoFitBox->setChecked(true);
    search(QStringLiteral("load35"));
    ASSERT_EQ(form->resultsView->rowCount(), 35);
    for (int i = 0; i < 35; ++i)
        EXPECT_TRUE(form->resultsView->isTicked(i)) << i;
    EXPECT_EQ(form->resultsView->currentRow(), 34);
}

TEST_F(MainWindowSearchTest, EmptyInputOnlyWarns)
{
    form->appendResult(
        {QStringLiteral("1"), QStringLiteral("旧"), QStringLiteral("行"), QString(), false});
    const QString inputs[] = {QString(), QStringLiteral("    "), MainWindow::kSearchPrompt,
                              QStringLiteral(" 请输入歌名、 歌手或专辑 ")};
    for (const QString &input : inputs) {
        warnings().clear();
        search(input);
        ASSERT_EQ(warnings().size(), 1);
        EXPECT_EQ(warnings().first(),
                  QStringLiteral("输入信息不完整|请输入要搜索的歌名、歌手或者专辑！"));
        EXPECT_EQ(form->searchEdit->text(), MainWindow::kSearchPrompt);
        EXPECT_EQ(form->searchTextColour(), MainWindow::kPromptColour);
        EXPECT_EQ(form->searchButton->text(), QStringLiteral("搜索"));
        EXPECT_FALSE(form->stopButton->isEnabled());
        EXPECT_EQ(form->resultsView->rowCount(), 1); // no search ran
    }
}

TEST_F(MainWindowSearchTest, EnterInTheSearchBoxSearches)
{
    form->searchEdit->setText(QStringLiteral("load3"));
    QTest::keyClick(form->searchEdit, Qt::Key_Return);
    EXPECT_EQ(form->resultsView->rowCount(), 3);
}

TEST_F(MainWindowSearchTest, StopDuringAPageKeepsThatPagesRows)
{
    // A relay in front of the service that holds the second page until the
    // test has pressed the stop button.
    TestHttpServer relay;
    std::atomic<bool> secondPageAsked{false};
    std::atomic<bool> release{false};
    std::mutex pagesMutex;
    QStringList pagesAsked;
    const QUrl upstream(service->url());
    relay.http().Get(
        "/app/search/searchList.php", [&](const httplib::Request &req, httplib::Response &res) {
            const std::string page = req.has_param("page") ? req.get_param_value("page") : "1";
            {
                std::lock_guard<std::mutex> lock(pagesMutex);
                pagesAsked << QString::fromStdString(page);
            }
            if (page == "2") {
                secondPageAsked = true;
                while (!release && !relay.stopping())
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            httplib::Client client(upstream.host().toStdString(), upstream.port());
            const auto answer = client.Get(req.target.c_str());
            if (answer) {
                res.status = answer->status;
                res.set_content(answer->body, "text/html; charset=utf-8");
            } else {
                res.status = 502;
            }
        });
    ASSERT_TRUE(relay.start());
    ServiceConfig::setHost(relay.url());

    QTimer watcher;
    watcher.setInterval(5);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (!secondPageAsked || release)
            return;
        EXPECT_EQ(form->searchButton->text(), QStringLiteral("停止"));
        EXPECT_TRUE(form->stopButton->isEnabled());
        form->onSearchClicked(); // the caption says stop: this is the stop path
        EXPECT_EQ(form->searchButton->text(), QStringLiteral("搜索"));
        release = true;
    });
    watcher.start();
    search(QStringLiteral("load90"));
    watcher.stop();

    EXPECT_TRUE(release.load());
    EXPECT_EQ(form->resultsView->rowCount(), 60);
    EXPECT_EQ(form->statusEdit->text(), summary(60));
    EXPECT_EQ(form->stopButton->text(), QStringLiteral("已停止"));
    EXPECT_FALSE(form->stopButton->isEnabled());
    std::lock_guard<std::mutex> lock(pagesMutex);
    EXPECT_EQ(pagesAsked, (QStringList{QStringLiteral("1"), QStringLiteral("2")}));
}

TEST_F(MainWindowSearchTest, AnUnreachableServiceEndsTheSearchAndSaysWhy)
{
    TestHttpServer dead;
    ASSERT_TRUE(dead.start());
    const QString url = dead.url();
    dead.stop(); // nothing listens there any more
    ServiceConfig::setHost(url);
    search(QStringLiteral("晴天"));
    EXPECT_EQ(form->resultsView->rowCount(), 0);
    EXPECT_TRUE(form->statusEdit->text().startsWith(summary(0)));
    EXPECT_GT(form->statusEdit->text().size(), summary(0).size());
    EXPECT_EQ(form->searchButton->text(), QStringLiteral("搜索"));
}

TEST_F(MainWindowSearchTest, SongInformationIsFilledFromTheSelectedRow)
{
    search(QStringLiteral("load3"));
    ASSERT_EQ(form->resultsView->rowCount(), 3);
    form->resultsView->setCurrentRow(1);

    // Close the modal window as soon as it shows.
    QTimer closer;
    closer.setInterval(10);
    int shown = 0;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (QApplication::activeModalWidget() == form->songInfoWindow()) {
            ++shown;
            form->songInfoWindow()->accept();
        }
    });
    closer.start();
    form->showSongInformation();
    closer.stop();

    EXPECT_EQ(shown, 1);
    EXPECT_EQ(form->songInfoWindow()->titleEdit->text(), form->resultsView->text(1, 1));
    EXPECT_EQ(form->songInfoWindow()->singerEdit->text(), form->resultsView->text(1, 2));
    EXPECT_EQ(form->songInfoWindow()->albumEdit->text(), form->resultsView->text(1, 3));
    EXPECT_EQ(form->songInfoWindow()->songIdEdit->text(), form->resultsView->text(1, 0));
    EXPECT_TRUE(form->songInfoWindow()->linkEdit->text().startsWith(QStringLiteral("http")));
}

TEST_F(MainWindowSearchTest, ServiceNewsWaitsForTheSearchSummaryAndTheNoteFollowsIt)
{
    // The service's news fills an empty box and replaces its own last news.
    form->showServiceStatus(QStringLiteral("正在扫描音乐库：1 / 9 首"));
    form->showServiceStatus(QStringLiteral("正在扫描音乐库：5 / 9 首"));
    EXPECT_EQ(form->statusEdit->text(), QStringLiteral("正在扫描音乐库：5 / 9 首"));
    // While the first scan runs, a search says its results are still growing.
    const QString note = QStringLiteral("（音乐库仍在扫描，结果还会增加）");
    form->setSearchNote(note);
    search(QStringLiteral("load30"));
    EXPECT_EQ(form->statusEdit->text(), summary(30) + note);
    // A search's summary stays over later news; a failure does not wait.
    form->setSearchNote(QString());
    form->showServiceStatus(QStringLiteral("音乐库共 9 首"));
    EXPECT_EQ(form->statusEdit->text(), summary(30) + note);
    form->showServiceStatus(QStringLiteral("未能启动音乐服务：找不到 velmor-musicd"), true);
    EXPECT_EQ(form->statusEdit->text(), QStringLiteral("未能启动音乐服务：找不到 velmor-musicd"));
    search(QStringLiteral("load30"));
    EXPECT_EQ(form->statusEdit->text(), summary(30));
}
