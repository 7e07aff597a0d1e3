// Searching from the main window against the bundled music service: the
// list fills page by page, a stop keeps the page in flight, the end
// leaves the summary and the button captions, empty input only warns.
#include "tests/app/Form1Fixture.h"

#include "app/Form2.h"
#include "service/ServiceConfig.h"
#include "tests/common/MusicdServer.h"
#include "tests/common/TestHttpServer.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <atomic>
#include <httplib.h>
#include <mutex>
#include <thread>

namespace {

class Form1SearchTest : public MusicdSuite<Form1Fixture>
{
protected:
    void SetUp() override
    {
        Form1Fixture::SetUp();
        ServiceConfig::setHost(service->url());
    }
    void TearDown() override
    {
        Form1Fixture::TearDown();
        ServiceConfig::setHost(ServiceConfig::defaultHost());
    }

    void search(const QString &words)
    {
        form->Text1->setText(words);
        form->Command1_Click();
    }

    static QString summary(int rows)
    {
        return QStringLiteral("搜索结束,共找到：%1条资源").arg(rows);
    }

};


} // namespace

TEST_F(Form1SearchTest, FillsTheListPageByPageAndEndsWithTheSummary)
{
    struct Row
    {
        const char *words;
        int rows;
    } rows[] = {{"load61", 61}, {"load30", 30}, {"zzqqxxnomatch", 0}};
    for (const Row &row : rows) {
        search(QString::fromLatin1(row.words));
        EXPECT_EQ(form->ListView1->topLevelItemCount(), row.rows) << row.words;
        EXPECT_EQ(form->Textx2->text(), summary(row.rows)) << row.words;
        EXPECT_EQ(form->Command1->text(), QStringLiteral("搜索"));
        EXPECT_EQ(form->Command4->text(), QStringLiteral("已停止"));
        EXPECT_FALSE(form->Command4->isEnabled());
        EXPECT_TRUE(form->Text1->text().isEmpty());
        EXPECT_FALSE(GetMusicList::State().SearchInProgress);
    }
    // Rows keep the service's page order and carry a tick box each.
    search(QStringLiteral("load61"));
    const QTreeWidgetItem *first = form->ListView1->topLevelItem(0);
    const QTreeWidgetItem *last = form->ListView1->topLevelItem(60);
    EXPECT_FALSE(first->text(0).isEmpty());
    EXPECT_NE(first->text(0), last->text(0));
    EXPECT_TRUE(first->flags() & Qt::ItemIsUserCheckable);
    EXPECT_EQ(first->checkState(0), Qt::Unchecked);
}

TEST_F(Form1SearchTest, AutoTickAndFitApplyWhileSearching)
{
    form->Check8->setChecked(true);
    form->Check4->setChecked(true);
    search(QStringLiteral("load35"));
    ASSERT_EQ(form->ListView1->topLevelItemCount(), 35);
    for (int i = 0; i < 35; ++i)
        EXPECT_EQ(form->ListView1->topLevelItem(i)->checkState(0), Qt::Checked) << i;
    EXPECT_EQ(form->ListView1->currentItem(), form->ListView1->topLevelItem(34));
}

TEST_F(Form1SearchTest, EmptyInputOnlyWarns)
{
    form->appendResult(
        {QStringLiteral("1"), QStringLiteral("旧"), QStringLiteral("行"), QString(), false});
    const QString inputs[] = {QString(), QStringLiteral("    "), Form1::kSearchPrompt,
                              QStringLiteral(" 请输入歌名、 歌手或专辑 ")};
    for (const QString &input : inputs) {
        warnings().clear();
        search(input);
        ASSERT_EQ(warnings().size(), 1);
        EXPECT_EQ(warnings().first(),
                  QStringLiteral("输入信息不完整|请输入要搜索的歌名、歌手或者专辑！"));
        EXPECT_EQ(form->Text1->text(), Form1::kSearchPrompt);
        EXPECT_EQ(form->text1ForeColour(), Form1::kPromptColour);
        EXPECT_EQ(form->Command1->text(), QStringLiteral("搜索"));
        EXPECT_FALSE(form->Command4->isEnabled());
        EXPECT_EQ(form->ListView1->topLevelItemCount(), 1); // no search ran
    }
}

TEST_F(Form1SearchTest, EnterInTheSearchBoxSearches)
{
    form->Text1->setText(QStringLiteral("load3"));
    QTest::keyClick(form->Text1, Qt::Key_Return);
    EXPECT_EQ(form->ListView1->topLevelItemCount(), 3);
}

TEST_F(Form1SearchTest, StopDuringAPageKeepsThatPagesRows)
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
        EXPECT_EQ(form->Command1->text(), QStringLiteral("停止"));
        EXPECT_TRUE(form->Command4->isEnabled());
        form->Command1_Click(); // the caption says stop: this is the stop path
        EXPECT_EQ(form->Command1->text(), QStringLiteral("搜索"));
        release = true;
    });
    watcher.start();
    search(QStringLiteral("load90"));
    watcher.stop();

    EXPECT_TRUE(release.load());
    EXPECT_EQ(form->ListView1->topLevelItemCount(), 60);
    EXPECT_EQ(form->Textx2->text(), summary(60));
    EXPECT_EQ(form->Command4->text(), QStringLiteral("已停止"));
    EXPECT_FALSE(form->Command4->isEnabled());
    std::lock_guard<std::mutex> lock(pagesMutex);
    EXPECT_EQ(pagesAsked, (QStringList{QStringLiteral("1"), QStringLiteral("2")}));
}

TEST_F(Form1SearchTest, AnUnreachableServiceEndsTheSearchAndSaysWhy)
{
    TestHttpServer dead;
    ASSERT_TRUE(dead.start());
    const QString url = dead.url();
    dead.stop(); // nothing listens there any more
    ServiceConfig::setHost(url);
    search(QStringLiteral("晴天"));
    EXPECT_EQ(form->ListView1->topLevelItemCount(), 0);
    EXPECT_TRUE(form->Textx2->text().startsWith(summary(0)));
    EXPECT_GT(form->Textx2->text().size(), summary(0).size());
    EXPECT_EQ(form->Command1->text(), QStringLiteral("搜索"));
}

TEST_F(Form1SearchTest, SongInformationIsFilledFromTheSelectedRow)
{
    search(QStringLiteral("load3"));
    ASSERT_EQ(form->ListView1->topLevelItemCount(), 3);
    QTreeWidgetItem *row = form->ListView1->topLevelItem(1);
    form->ListView1->setCurrentItem(row);

    // Close the modal window as soon as it shows.
    QTimer closer;
    closer.setInterval(10);
    int shown = 0;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (QApplication::activeModalWidget() == form->form2) {
            ++shown;
            form->form2->accept();
        }
    });
    closer.start();
    form->MusicTT_Click();
    closer.stop();

    EXPECT_EQ(shown, 1);
    EXPECT_EQ(form->form2->Text1->text(), row->text(1));
    EXPECT_EQ(form->form2->Text2->text(), row->text(2));
    EXPECT_EQ(form->form2->Text3->text(), row->text(3));
    EXPECT_EQ(form->form2->Text6->text(), row->text(0));
    EXPECT_TRUE(form->form2->Text4->text().startsWith(QStringLiteral("http")));
}
