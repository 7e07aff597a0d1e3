// The main window as start-up leaves it, its close and tray behaviour, the
// search box's prompt and the result list's tick commands.
#include "tests/app/Form1Fixture.h"
#include "tests/common/TestHttpServer.h"

#include "app/AppInfo.h"
#include "app/Form2.h"
#include "app/ImageControl.h"
#include "app/MenuFrm.h"
#include "controls/listbox/NaluListBox.h"
#include "shell/TrayEvent.h"

#include <QAction>
#include <httplib.h>
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace {

void trayClick(Form1 &form, int notification)
{
    TrayEvent event(Trayico::kTrayCallbackMessage, 0, notification);
    QCoreApplication::sendEvent(&form, &event);
}

void addRows(Form1 &form, const QList<bool> &ticks)
{
    for (int i = 0; i < ticks.size(); ++i) {
        SearchResult row{QString::number(100 + i), QStringLiteral("歌%1").arg(i),
                         QStringLiteral("手%1").arg(i), QString(), ticks.at(i)};
        form.appendResult(row);
    }
}

// A point of the window's own background: the gap right of the result list.
QPoint background(const Form1 &form)
{
    const QRect list = form.ListView1->geometry();
    return QPoint(list.right() + 6, list.center().y());
}

QList<bool> ticksOf(const Form1 &form)
{
    QList<bool> ticks;
    for (int i = 0; i < form.ListView1->topLevelItemCount(); ++i)
        ticks << (form.ListView1->topLevelItem(i)->checkState(0) == Qt::Checked);
    return ticks;
}

} // namespace

using Form1Test = Form1Fixture;

TEST_F(Form1Test, StartsWithTitleColumnsCaptionsAndSharedState)
{
    const QString title = AppInfo::windowTitle();
    EXPECT_TRUE(title.startsWith(QStringLiteral("Velmor音乐播放器 Version")));
    EXPECT_EQ(form->windowTitle(), title);
    EXPECT_EQ(form->Label3->text(), title);
    EXPECT_TRUE(form->windowFlags() & Qt::FramelessWindowHint);

    ASSERT_EQ(form->ListView1->columnCount(), 4);
    const QStringList captions{QStringLiteral("歌曲ID："), QStringLiteral("歌曲名称："),
                               QStringLiteral("歌手："), QStringLiteral("专辑：")};
    const int twips[] = {2000, 4000, 2000, 5000};
    const int dpi = form->logicalDpiX();
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(form->ListView1->headerItem()->text(c), captions.at(c));
        EXPECT_NEAR(form->ListView1->columnWidth(c), twips[c] * dpi / 1440.0, 1.0) << c;
    }
    EXPECT_EQ(form->ListView1->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(form->ListView1->editTriggers(), QAbstractItemView::NoEditTriggers);

    EXPECT_EQ(PlaybackState::instance().CurrentPlayIndex, 1);
    EXPECT_EQ(PlaybackState::instance().TrayTipMode, 1);
    EXPECT_TRUE(PlaybackState::instance().NowPlayingText.isEmpty());
    EXPECT_TRUE(GetMusicList::State().SearchInProgress);
    EXPECT_EQ(form->PlaylistMouseIndex, 0);

    EXPECT_EQ(form->Text1->text(), Form1::kSearchPrompt);
    EXPECT_EQ(form->text1ForeColour(), Form1::kPromptColour);
    EXPECT_EQ(form->Command1->text(), QStringLiteral("搜索"));
    EXPECT_FALSE(form->Command4->isEnabled());
    EXPECT_EQ(form->Label4->text(), QStringLiteral("准备就绪"));
    EXPECT_EQ(form->txtText3->text(), QStringLiteral("暂无歌词"));
    EXPECT_TRUE(form->Check2->isChecked());
    EXPECT_FALSE(form->Check1->isChecked() || form->Check3->isChecked());
    EXPECT_TRUE(form->Picture1->isHidden());
    EXPECT_TRUE(form->Picture3->isHidden());
    EXPECT_TRUE(form->List1->isHidden());
    EXPECT_EQ(form->Slider2->minimum(), 0);
    EXPECT_EQ(form->Slider2->maximum(), 100);
    EXPECT_EQ(form->Slider2->toolTip(), QStringLiteral("音量调节"));
    EXPECT_FALSE(form->Timer1->isActive() || form->Timer2->isActive());

    // The playlist carries the properties this window stores for it.
    EXPECT_EQ(form->NaluListBox1->BackColor(), QColor(117, 153, 1));
    EXPECT_EQ(form->NaluListBox1->ItemSelBkColor(), QColor(255, 255, 0));
    EXPECT_EQ(form->NaluListBox1->ItemNorTextColor(), QColor(0, 255, 255));
    EXPECT_EQ(form->NaluListBox1->ItemPlyTextColor(), QColor(255, 128, 255));
    EXPECT_EQ(form->NaluListBox1->ItemHeight(), 18);

    // The tray icon comes up with the title as its tip and no balloon.
    EXPECT_TRUE(Trayico::IsHooked());
    EXPECT_EQ(Trayico::LastRecord().szTip, title);
    EXPECT_TRUE(Trayico::LastBalloon().isEmpty());
    // No skin file: the application carries no style sheet.
    EXPECT_TRUE(qApp->styleSheet().isEmpty());
    ASSERT_NE(form->form2, nullptr);
    EXPECT_EQ(form->form2->windowTitle(), QStringLiteral("歌曲信息"));
    EXPECT_TRUE(form->form2->isHidden());
}

TEST_F(Form1Test, MenusCarryEveryItemWithTheStartMarks)
{
    const MenuFrm *m = form->menuFrm;
    EXPECT_EQ(m->Tuopan->title(), QStringLiteral("托盘菜单"));
    EXPECT_EQ(m->SelectMenu->title(), QStringLiteral("选择"));
    EXPECT_EQ(m->XunHuan->title(), QStringLiteral("循环"));
    EXPECT_EQ(m->SE->title(), QStringLiteral("选择列表"));
    const struct
    {
        const QAction *action;
        const char16_t *caption;
    } items[] = {
        {m->ShowForm, u"显示"},
        {m->UMusic, u"上一首"},
        {m->NMusic, u"下一首"},
        {m->AboutMe, u"关于"},
        {m->CloseMe, u"退出程序"},
        {m->Player1, u"播放"},
        {m->AddPlayList, u"添加到播放列表"},
        {m->DownloadMusic, u"下载歌曲"},
        {m->MusicTT, u"歌曲属性"},
        {m->quanxuan, u"全选"},
        {m->fanxuan, u"反选"},
        {m->Player2, u"播放"},
        {m->DeletOne, u"删除选择"},
        {m->DeletAll, u"清空"},
        {m->Download2, u"下载"},
        {m->Onessw, u"单曲播放"},
        {m->Lists, u"列表循环"},
        {m->Suijibo, u"随机"},
    };
    for (const auto &item : items)
        EXPECT_EQ(item.action->text(), QString::fromUtf16(item.caption));

    // Only previous, next, about and exit remain visible in the tray menu.
    QStringList visible;
    for (const QAction *a : m->Tuopan->actions())
        if (a->isVisible() && !a->isSeparator())
            visible << a->text();
    EXPECT_EQ(visible, (QStringList{QStringLiteral("上一首"), QStringLiteral("下一首"),
                                    QStringLiteral("关于"), QStringLiteral("退出程序")}));
    EXPECT_FALSE(m->Line1->isVisible());
    EXPECT_TRUE(m->Lists->isChecked());
    EXPECT_FALSE(m->Onessw->isChecked() || m->Suijibo->isChecked());
}

TEST_F(Form1Test, CloseHidesToTheTrayWithTheBalloonOrTheNowPlayingTip)
{
    // Nothing played yet: the "here I am" balloon.
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(form->isHidden());
    EXPECT_TRUE(form->isMinimized());
    EXPECT_EQ(Trayico::LastBalloon(), QStringLiteral("我在这里哦!"));
    EXPECT_EQ(Trayico::LastRecord().szTip, form->windowTitle());
    EXPECT_EQ(PlaybackState::instance().TrayTipMode, 1);

    // The tray's left click brings the window back.
    trayClick(*form, Trayico::kLeftButtonUp);
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->isMinimized());

    // After a play: no balloon, the tip names the track, tip mode 2.
    PlaybackState::instance().NowPlayingText = QStringLiteral("晴天--周同");
    form->Image20_Click();
    EXPECT_TRUE(form->isHidden());
    EXPECT_TRUE(Trayico::LastBalloon().isEmpty());
    EXPECT_EQ(Trayico::LastRecord().szTip, QStringLiteral("正在播放：晴天--周同"));
    EXPECT_EQ(PlaybackState::instance().TrayTipMode, 2);
}

TEST_F(Form1Test, WithoutATrayCloseOnlyMinimisesAndTheProgramKeepsRunning)
{
    Trayico::SetTrayUsableOverride(0);
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(form->isMinimized());
    EXPECT_FALSE(form->isHidden());
}

TEST_F(Form1Test, ResizeKeepsTheTipAndTheTipModeUntouched)
{
    PlaybackState::instance().TrayTipMode = 2; // as after a close with a track
    form->Image19_Click();
    EXPECT_TRUE(form->isMinimized());
    EXPECT_EQ(Trayico::LastRecord().szTip, QStringLiteral("正在播放："));
    EXPECT_TRUE(Trayico::LastBalloon().isEmpty());
    EXPECT_EQ(PlaybackState::instance().TrayTipMode, 2);
}

TEST_F(Form1Test, SearchPromptComesBackOnlyForABlankBox)
{
    struct Row
    {
        const char16_t *typed;
        bool prompt;
    } rows[] = {{u"", true}, {u"   ", true}, {u"晴天", false}, {u"  晴天 ", false}};
    for (const Row &row : rows) {
        form->Text1->setText(QString::fromUtf16(row.typed));
        QTest::mouseClick(form.get(), Qt::LeftButton, {}, background(*form));
        const QString expected = row.prompt ? Form1::kSearchPrompt : QString::fromUtf16(row.typed);
        EXPECT_EQ(form->Text1->text(), expected);
        EXPECT_EQ(form->text1ForeColour(), row.prompt ? Form1::kPromptColour : Form1::kTypedColour);
    }
}

TEST_F(Form1Test, SearchBoxClickClearsThePromptAndLosingFocusRestoresIt)
{
    form->activateWindow();
    form->Text1_Click();
    EXPECT_TRUE(form->Text1->text().isEmpty());
    QTest::keyClicks(form->Text1, QStringLiteral("abc"));
    EXPECT_EQ(form->text1ForeColour(), Form1::kTypedColour);
    form->Text1->clear();
    form->Text1_LostFocus();
    EXPECT_EQ(form->Text1->text(), Form1::kSearchPrompt);
    EXPECT_EQ(form->text1ForeColour(), Form1::kPromptColour);
    // Typed text survives a press in the result list; a blank box does not.
    form->Text1->setText(QStringLiteral("夜曲"));
    form->ListView1_MouseDown();
    EXPECT_EQ(form->Text1->text(), QStringLiteral("夜曲"));
    form->Text1->setText(QStringLiteral(" "));
    form->ListView1_MouseDown();
    EXPECT_EQ(form->Text1->text(), Form1::kSearchPrompt);
}

TEST_F(Form1Test, OptionLabelsToggleTheirBoxesAndAutoTickTicksEveryRow)
{
    addRows(*form, {false, true, false});
    QTest::mouseClick(form->lblLabel1, Qt::LeftButton);
    EXPECT_TRUE(form->Check4->isChecked());
    QTest::mouseClick(form->lblLabel1, Qt::LeftButton);
    EXPECT_FALSE(form->Check4->isChecked());

    form->Check6->setChecked(true);
    QTest::mouseClick(form->lblLabel2, Qt::LeftButton);
    EXPECT_TRUE(form->Check8->isChecked());
    EXPECT_EQ(ticksOf(*form), (QList<bool>{true, true, true}));
    EXPECT_TRUE(form->Check5->isChecked());
    EXPECT_FALSE(form->Check6->isChecked());

    // Switching the option off ticks every row once more.
    form->XunZ();
    QTest::mouseClick(form->lblLabel2, Qt::LeftButton);
    EXPECT_FALSE(form->Check8->isChecked());
    EXPECT_EQ(ticksOf(*form), (QList<bool>{true, true, true}));
}

TEST_F(Form1Test, InvertTwiceGivesTheTicksBack)
{
    const QList<bool> start{true, false, false, true};
    addRows(*form, start);
    form->Check5->setChecked(true);
    form->XunZ();
    EXPECT_EQ(ticksOf(*form), (QList<bool>{false, true, true, false}));
    EXPECT_FALSE(form->Check5->isChecked());
    form->XunZ();
    EXPECT_EQ(ticksOf(*form), start);
}

TEST_F(Form1Test, FitSelectsTheLastRowAndWidensToTheContent)
{
    form->FitResultColumns(); // empty list: nothing to do, nothing breaks
    addRows(*form, {false, false});
    form->appendResult(
        {QStringLiteral("7"), QString(80, QChar(u'长')), QStringLiteral("某"), QString(), false});
    const int before = form->ListView1->columnWidth(1);
    form->Check4->setChecked(true); // the box's change runs the fit
    EXPECT_EQ(form->ListView1->currentItem(), form->ListView1->topLevelItem(2));
    EXPECT_GT(form->ListView1->columnWidth(1), before);
}

TEST_F(Form1Test, HoverShowsTheHoverPictureAndTheBackgroundPutsItBack)
{
    const qint64 normal = form->Image4->picture().cacheKey();
    const qint64 hover = form->Image5->picture().cacheKey();
    ASSERT_NE(normal, hover);
    QTest::mouseMove(form->Image1, QPoint(5, 5));
    EXPECT_EQ(form->Image1->picture().cacheKey(), hover);
    QTest::mouseMove(form->Text1, QPoint(5, 5)); // lights the search button
    EXPECT_EQ(form->Image12->picture().cacheKey(), form->Image14->picture().cacheKey());
    QTest::mouseMove(form.get(), background(*form));
    EXPECT_EQ(form->Image1->picture().cacheKey(), normal);
    EXPECT_EQ(form->Image12->picture().cacheKey(), form->Image13->picture().cacheKey());
}

TEST_F(Form1Test, PlayerViewAndSingerPictureSwapOnClicks)
{
    form->Picture2_Click();
    EXPECT_TRUE(form->Picture2->isHidden());
    EXPECT_FALSE(form->Picture1->isHidden());
    form->WindowsMediaPlayer1_Click();
    EXPECT_FALSE(form->Picture2->isHidden());
    EXPECT_TRUE(form->Picture1->isHidden());
}

TEST_F(Form1Test, XmlHttpGetDecodesInTheSystemCodePage)
{
    TestHttpServer server;
    server.http().Get("/gbk", [](const httplib::Request &, httplib::Response &res) {
        res.status = 404; // the status does not matter: the body is the answer
        res.set_content("\xD6\xD0\xCE\xC4", "text/plain");
    });
    ASSERT_TRUE(server.start());
    EXPECT_EQ(form->XMLHttpGET(server.url() + QStringLiteral("/gbk")), QStringLiteral("中文"));
    const QString refused = server.url() + QStringLiteral("/gbk");
    server.stop();
    EXPECT_TRUE(form->XMLHttpGET(refused).isEmpty());
}
