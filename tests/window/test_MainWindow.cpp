// The main window as start-up leaves it, its close and tray behaviour, the
// search box's prompt and the result list's tick commands.
#include "tests/common/TestHttpServer.h"
#include "tests/window/MainWindowFixture.h"

#include "controls/image/ImageControl.h"
#include "controls/listbox/PlaylistView.h"
#include "shell/TrayEvent.h"
#include "window/AppInfo.h"
#include "window/PopupMenus.h"
#include "window/SongInfoWindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <httplib.h>

namespace {

void trayClick(MainWindow &form, int notification)
{
    TrayEvent event(tray::kTrayCallbackMessage, 0, notification);
    QCoreApplication::sendEvent(&form, &event);
}

void addRows(MainWindow &form, const QList<bool> &ticks)
{
    for (int i = 0; i < ticks.size(); ++i) {
        SearchResult row{QString::number(100 + i), QStringLiteral("歌%1").arg(i),
                         QStringLiteral("手%1").arg(i), QString(), ticks.at(i)};
        form.appendResult(row);
    }
}

// A point of the window's own background: the gap right of the result list.
QPoint background(const MainWindow &form)
{
    const QRect list = form.resultsView->geometry();
    return QPoint(list.right() + 6, list.center().y());
}

QList<bool> ticksOf(const MainWindow &form)
{
    QList<bool> ticks;
    for (int i = 0; i < form.resultsView->rowCount(); ++i)
        ticks << (form.resultsView->isTicked(i));
    return ticks;
}

} // namespace

using MainWindowTest = MainWindowFixture;

TEST_F(MainWindowTest, StartsWithTitleColumnsCaptionsAndSharedState)
{
    const QString title = AppInfo::windowTitle();
    EXPECT_TRUE(title.startsWith(QStringLiteral("Velmor音乐播放器 Version")));
    EXPECT_EQ(form->windowTitle(), title);
    EXPECT_EQ(form->titleLabel->text(), title);
    EXPECT_TRUE(form->windowFlags() & Qt::FramelessWindowHint);

    ASSERT_EQ(form->resultsView->columnCount(), 4);
    const QStringList captions{QStringLiteral("歌曲ID："), QStringLiteral("歌曲名称："),
                               QStringLiteral("歌手："), QStringLiteral("专辑：")};
    const int twips[] = {2000, 4000, 2000, 5000};
    const int dpi = form->logicalDpiX();
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(form->resultsView->columnCaption(c), captions.at(c));
        EXPECT_NEAR(form->resultsView->columnWidth(c), twips[c] * dpi / 1440.0, 1.0) << c;
    }
    EXPECT_EQ(form->resultsView->currentRow(), -1);

    EXPECT_EQ(form->playerState()->currentIndex(), 1);
    EXPECT_EQ(form->playerState()->trayTipMode(), 1);
    EXPECT_TRUE(form->playerState()->nowPlayingText().isEmpty());
    EXPECT_TRUE(musicservice::searchState().searchInProgress);
    EXPECT_EQ(form->playlistMouseIndex, 0);

    EXPECT_EQ(form->searchEdit->text(), MainWindow::kSearchPrompt);
    EXPECT_EQ(form->searchTextColour(), MainWindow::kPromptColour);
    EXPECT_EQ(form->searchButton->text(), QStringLiteral("搜索"));
    EXPECT_FALSE(form->stopButton->isEnabled());
    EXPECT_EQ(form->statusLabel->text(), QStringLiteral("准备就绪"));
    EXPECT_EQ(form->lyricLine->text(), QStringLiteral("暂无歌词"));
    EXPECT_TRUE(form->listLoopBox->isChecked());
    EXPECT_FALSE(form->singleRepeatBox->isChecked() || form->randomBox->isChecked());
    EXPECT_TRUE(form->playerFrame->isHidden());
    EXPECT_TRUE(form->defaultSingerPicture->isHidden());
    // Nothing shows the lyric store: it waits for its first reader.
    EXPECT_FALSE(form->lyricListBuilt());
    EXPECT_EQ(form->volumeSlider->minimum(), 0);
    EXPECT_EQ(form->volumeSlider->maximum(), 100);
    EXPECT_EQ(form->volumeSlider->toolTip(), QStringLiteral("音量调节"));
    EXPECT_FALSE(form->clockTimer->isActive() || form->displayTimer->isActive());

    // The playlist carries the properties this window stores for it.
    EXPECT_EQ(form->playlistView->backColor(), QColor(117, 153, 1));
    EXPECT_EQ(form->playlistView->selectedBackColor(), QColor(255, 255, 0));
    EXPECT_EQ(form->playlistView->textColor(), QColor(0, 255, 255));
    EXPECT_EQ(form->playlistView->playingTextColor(), QColor(255, 128, 255));
    EXPECT_EQ(form->playlistView->itemHeight(), 18);

    // The tray icon comes up with the title as its tip and no balloon.
    EXPECT_TRUE(tray::isHooked());
    EXPECT_EQ(tray::lastRecord().tip, title);
    EXPECT_TRUE(tray::lastBalloon().isEmpty());
    // No skin file: the application carries no style sheet.
    EXPECT_TRUE(qApp->styleSheet().isEmpty());
    // The song information window waits until it is first asked for.
    EXPECT_FALSE(form->songInfoWindowBuilt());
}

TEST_F(MainWindowTest, SongInformationWindowIsBuiltOnceHiddenWithTheLyricGivenBefore)
{
    const QString lyric = QStringLiteral("[00:01.00]第一行\n[00:02.00]第二行");
    form->setLyricText(lyric);
    ASSERT_FALSE(form->songInfoWindowBuilt());

    SongInfoWindow *info = form->songInfoWindow();
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(form->songInfoWindowBuilt());
    EXPECT_EQ(form->songInfoWindow(), info);
    EXPECT_EQ(info->parentWidget(), form.get());
    EXPECT_EQ(info->windowTitle(), QStringLiteral("歌曲信息"));
    EXPECT_TRUE(info->isHidden());
    EXPECT_EQ(info->lyricEdit->toPlainText(), lyric);

    // Once built, the window follows the playing song's lyric directly.
    form->setLyricText(QStringLiteral("暂无歌词"));
    EXPECT_EQ(info->lyricEdit->toPlainText(), QStringLiteral("暂无歌词"));
}

TEST_F(MainWindowTest, MenusCarryEveryItemWithTheStartMarks)
{
    PopupMenus *m = form->popupMenus;
    // No menu is built before one is asked for.
    EXPECT_EQ(m->builtMenuCount(), 0);
    EXPECT_EQ(m->trayMenu()->title(), QStringLiteral("托盘菜单"));
    EXPECT_EQ(m->resultMenu()->title(), QStringLiteral("选择"));
    EXPECT_EQ(m->playModeMenu()->title(), QStringLiteral("循环"));
    EXPECT_EQ(m->selectSubmenu()->title(), QStringLiteral("选择列表"));
    EXPECT_EQ(m->playlistMenu()->title(), QStringLiteral("播放列表"));
    // Each menu is built once, the submenu with the result menu.
    EXPECT_EQ(m->builtMenuCount(), 5);
    EXPECT_EQ(m->trayMenu(), m->trayMenu());
    EXPECT_EQ(m->resultMenu()->actions().value(m->resultMenu()->actions().size() - 3)->menu(),
              m->selectSubmenu());
    // Items in their order, "-" for a separator.
    const auto layout = [](const QMenu *menu) {
        QStringList items;
        for (const QAction *a : menu->actions())
            items << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return items;
    };
    const struct
    {
        QMenu *menu;
        const char16_t *items;
    } layouts[] = {
        {m->trayMenu(), u"显示 - 上一首 - 下一首 - 音乐库… - 关于 - 退出程序"},
        {m->resultMenu(), u"播放 - 添加到播放列表 - 下载歌曲 - 歌曲属性 - 选择列表 - 关于"},
        {m->selectSubmenu(), u"全选 反选"},
        {m->playlistMenu(), u"播放 - 删除选择 - 清空 - 下载 - 关于"},
        {m->playModeMenu(), u"单曲播放 列表循环 随机"},
    };
    for (const auto &expected : layouts)
        EXPECT_EQ(layout(expected.menu).join(QLatin1Char(' ')), QString::fromUtf16(expected.items))
            << expected.menu->objectName().toStdString();
    const struct
    {
        const QAction *action;
        const char16_t *caption;
    } items[] = {
        {m->showWindowAction, u"显示"},
        {m->trayPreviousAction, u"上一首"},
        {m->trayNextAction, u"下一首"},
        {m->aboutAction, u"关于"},
        {m->exitAction, u"退出程序"},
        {m->playResultAction, u"播放"},
        {m->addToPlaylistAction, u"添加到播放列表"},
        {m->downloadResultAction, u"下载歌曲"},
        {m->songInfoAction, u"歌曲属性"},
        {m->selectAllAction, u"全选"},
        {m->invertAction, u"反选"},
        {m->playPlaylistAction, u"播放"},
        {m->removeSelectedAction, u"删除选择"},
        {m->clearPlaylistAction, u"清空"},
        {m->downloadPlaylistAction, u"下载"},
        {m->singleRepeatAction, u"单曲播放"},
        {m->listLoopAction, u"列表循环"},
        {m->randomAction, u"随机"},
    };
    for (const auto &item : items)
        EXPECT_EQ(item.action->text(), QString::fromUtf16(item.caption));

    // Only previous, next, the music library, about and exit remain
    // visible in the tray menu.
    QStringList visible;
    for (const QAction *a : m->trayMenu()->actions())
        if (a->isVisible() && !a->isSeparator())
            visible << a->text();
    EXPECT_EQ(visible, (QStringList{QStringLiteral("上一首"), QStringLiteral("下一首"),
                                    QStringLiteral("音乐库…"), QStringLiteral("关于"),
                                    QStringLiteral("退出程序")}));
    EXPECT_FALSE(m->showWindowSeparator->isVisible());
    EXPECT_TRUE(m->listLoopAction->isChecked());
    EXPECT_FALSE(m->singleRepeatAction->isChecked() || m->randomAction->isChecked());
}

TEST_F(MainWindowTest, LyricStoreBuiltLateHoldsTheEntriesAndFollowsNewOnes)
{
    const auto rows = [](const QListWidget *list) {
        QStringList texts;
        for (int i = 0; i < list->count(); ++i)
            texts << list->item(i)->text();
        return texts;
    };
    form->clearLyricList();
    form->addLyricEntry(QStringLiteral("[00:01.00]一"));
    form->addLyricEntry(QStringLiteral("[00:02.00]二"));
    EXPECT_FALSE(form->lyricListBuilt());

    QListWidget *list = form->lyricList();
    EXPECT_TRUE(list->isHidden());
    EXPECT_EQ(rows(list),
              (QStringList{QStringLiteral("[00:01.00]一"), QStringLiteral("[00:02.00]二")}));

    form->clearLyricList();
    form->addLyricEntry(QStringLiteral("[00:03.00]三"));
    EXPECT_EQ(form->lyricList(), list);
    EXPECT_EQ(rows(list), QStringList{QStringLiteral("[00:03.00]三")});
}

TEST_F(MainWindowTest, CloseHidesToTheTrayWithTheBalloonOrTheNowPlayingTip)
{
    // Nothing played yet: the "here I am" balloon.
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(form->isHidden());
    EXPECT_TRUE(form->isMinimized());
    EXPECT_EQ(tray::lastBalloon(), QStringLiteral("我在这里哦!"));
    EXPECT_EQ(tray::lastRecord().tip, form->windowTitle());
    EXPECT_EQ(form->playerState()->trayTipMode(), 1);

    // The tray's left click brings the window back.
    trayClick(*form, tray::kLeftButtonUp);
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->isMinimized());

    // After a play: no balloon, the tip names the track, tip mode 2.
    form->playerState()->setNowPlayingText(QStringLiteral("晴天--周同"));
    form->onCloseClicked();
    EXPECT_TRUE(form->isHidden());
    EXPECT_TRUE(tray::lastBalloon().isEmpty());
    EXPECT_EQ(tray::lastRecord().tip, QStringLiteral("正在播放：晴天--周同"));
    EXPECT_EQ(form->playerState()->trayTipMode(), 2);
}

TEST_F(MainWindowTest, WithoutATrayCloseEndsTheProgramThroughTheExitCommand)
{
    QList<int> quitCodes;
    form->setQuitHandler([&quitCodes](int code) { quitCodes.append(code); });
    tray::setTrayUsableOverride(0);
    EXPECT_TRUE(form->close());
    EXPECT_EQ(quitCodes, QList<int>{0});
    EXPECT_FALSE(tray::isHooked());
}

TEST_F(MainWindowTest, ResizeKeepsTheTipAndTheTipModeUntouched)
{
    form->playerState()->setTrayTipMode(2); // as after a close with a track
    form->onMinimiseClicked();
    EXPECT_TRUE(form->isMinimized());
    EXPECT_EQ(tray::lastRecord().tip, QStringLiteral("正在播放："));
    EXPECT_TRUE(tray::lastBalloon().isEmpty());
    EXPECT_EQ(form->playerState()->trayTipMode(), 2);
}

TEST_F(MainWindowTest, SearchPromptComesBackOnlyForABlankBox)
{
    struct Row
    {
        const char16_t *typed;
        bool prompt;
    } rows[] = {{u"", true}, {u"   ", true}, {u"晴天", false}, {u"  晴天 ", false}};
    for (const Row &row : rows) {
        form->searchEdit->setText(QString::fromUtf16(row.typed));
        QTest::mouseClick(form.get(), Qt::LeftButton, {}, background(*form));
        const QString expected =
            row.prompt ? MainWindow::kSearchPrompt : QString::fromUtf16(row.typed);
        EXPECT_EQ(form->searchEdit->text(), expected);
        EXPECT_EQ(form->searchTextColour(),
                  row.prompt ? MainWindow::kPromptColour : MainWindow::kTypedColour);
    }
}

TEST_F(MainWindowTest, SearchBoxClickClearsThePromptAndLosingFocusRestoresIt)
{
    form->activateWindow();
    form->onSearchEditClicked();
    EXPECT_TRUE(form->searchEdit->text().isEmpty());
    QTest::keyClicks(form->searchEdit, QStringLiteral("abc"));
    EXPECT_EQ(form->searchTextColour(), MainWindow::kTypedColour);
    form->searchEdit->clear();
    form->onSearchEditFocusLost();
    EXPECT_EQ(form->searchEdit->text(), MainWindow::kSearchPrompt);
    EXPECT_EQ(form->searchTextColour(), MainWindow::kPromptColour);
    // Typed text survives a press in the result list; a blank box does not.
    form->searchEdit->setText(QStringLiteral("夜曲"));
    form->onResultsPressed();
    EXPECT_EQ(form->searchEdit->text(), QStringLiteral("夜曲"));
    form->searchEdit->setText(QStringLiteral(" "));
    form->onResultsPressed();
    EXPECT_EQ(form->searchEdit->text(), MainWindow::kSearchPrompt);
}

TEST_F(MainWindowTest, OptionLabelsToggleTheirBoxesAndAutoTickTicksEveryRow)
{
    addRows(*form, {false, true, false});
    QTest::mouseClick(form->autoFitLabel, Qt::LeftButton);
    EXPECT_TRUE(form->autoFitBox->isChecked());
    QTest::mouseClick(form->autoFitLabel, Qt::LeftButton);
    EXPECT_FALSE(form->autoFitBox->isChecked());

    form->invertBox->setChecked(true);
    QTest::mouseClick(form->autoTickLabel, Qt::LeftButton);
    EXPECT_TRUE(form->autoTickBox->isChecked());
    EXPECT_EQ(ticksOf(*form), (QList<bool>{true, true, true}));
    EXPECT_TRUE(form->selectAllBox->isChecked());
    EXPECT_FALSE(form->invertBox->isChecked());

    // Switching the option off ticks every row once more.
    form->invertResultTicks();
    QTest::mouseClick(form->autoTickLabel, Qt::LeftButton);
    EXPECT_FALSE(form->autoTickBox->isChecked());
    EXPECT_EQ(ticksOf(*form), (QList<bool>{true, true, true}));
}

TEST_F(MainWindowTest, InvertTwiceGivesTheTicksBack)
{
    const QList<bool> start{true, false, false, true};
    addRows(*form, start);
    form->selectAllBox->setChecked(true);
    form->invertResultTicks();
    EXPECT_EQ(ticksOf(*form), (QList<bool>{false, true, true, false}));
    EXPECT_FALSE(form->selectAllBox->isChecked());
    form->invertResultTicks();
    EXPECT_EQ(ticksOf(*form), start);
}

TEST_F(MainWindowTest, FitSelectsTheLastRowAndWidensToTheContent)
{
    form->fitColumnsToContents(); // empty list: nothing to do, nothing breaks
    addRows(*form, {false, false});
    form->appendResult(
        {QStringLiteral("7"), QString(80, QChar(u'长')), QStringLiteral("某"), QString(), false});
    const int before = form->resultsView->columnWidth(1);
    form->autoFitBox->setChecked(true); // the box's change runs the fit
    EXPECT_EQ(form->resultsView->currentRow(), 2);
    EXPECT_GT(form->resultsView->columnWidth(1), before);
}

TEST_F(MainWindowTest, HoverShowsTheHoverPictureAndTheBackgroundPutsItBack)
{
    // No hover picture is drawn before a button is first pointed at.
    for (const ImageControl *button :
         {form->previousButton, form->nextButton, form->playButton, form->searchImageButton,
          form->minimiseButton, form->closeButton, form->playModeButton})
        EXPECT_FALSE(button->looks().hover.isDrawn()) << button->objectName().toStdString();
    const qint64 normal = form->previousButton->looks().normal.cacheKey();
    const qint64 hover = form->previousButton->looks().hover.get().cacheKey();
    ASSERT_NE(normal, hover);
    QTest::mouseMove(form->previousButton, QPoint(5, 5));
    EXPECT_EQ(form->previousButton->picture().cacheKey(), hover);
    EXPECT_FALSE(form->nextButton->looks().hover.isDrawn());
    QTest::mouseMove(form->searchEdit, QPoint(5, 5)); // lights the search button
    EXPECT_EQ(form->searchImageButton->picture().cacheKey(),
              form->searchImageButton->looks().hover.get().cacheKey());
    QTest::mouseMove(form.get(), background(*form));
    EXPECT_EQ(form->previousButton->picture().cacheKey(), normal);
    EXPECT_EQ(form->searchImageButton->picture().cacheKey(),
              form->searchImageButton->looks().normal.cacheKey());
}

TEST(ImageControlLazyPicture, DrawsOnceWhenFirstAskedAndCopiesShareTheDrawing)
{
    int draws = 0;
    const ImageControl::LazyPicture lazy([&draws] {
        ++draws;
        QPixmap picture(4, 4);
        picture.fill(Qt::red);
        return picture;
    });
    const ImageControl::LazyPicture copy = lazy;
    EXPECT_FALSE(lazy.isNull());
    EXPECT_FALSE(lazy.isDrawn());
    EXPECT_EQ(draws, 0);
    const QPixmap first = copy.get();
    EXPECT_EQ(draws, 1);
    EXPECT_TRUE(lazy.isDrawn());
    EXPECT_EQ(lazy.get().cacheKey(), first.cacheKey());
    EXPECT_EQ(draws, 1);
    EXPECT_EQ(first.toImage().pixelColor(1, 1), QColor(Qt::red));

    // A picture given ready, and none at all.
    QPixmap ready(2, 2);
    ready.fill(Qt::blue);
    EXPECT_TRUE(ImageControl::LazyPicture(ready).isDrawn());
    EXPECT_EQ(ImageControl::LazyPicture(ready).get().cacheKey(), ready.cacheKey());
    for (const ImageControl::LazyPicture &none :
         {ImageControl::LazyPicture(), ImageControl::LazyPicture(QPixmap())}) {
        EXPECT_TRUE(none.isNull());
        EXPECT_TRUE(none.get().isNull());
    }
}

TEST_F(MainWindowTest, PlayerViewAndSingerPictureSwapOnClicks)
{
    form->onSingerPictureClicked();
    EXPECT_TRUE(form->singerPicture->isHidden());
    EXPECT_FALSE(form->playerFrame->isHidden());
    form->onPlayerClicked();
    EXPECT_FALSE(form->singerPicture->isHidden());
    EXPECT_TRUE(form->playerFrame->isHidden());
}

TEST_F(MainWindowTest, XmlHttpGetDecodesInTheSystemCodePage)
{
    TestHttpServer server;
    server.http().Get("/gbk", [](const httplib::Request &, httplib::Response &res) {
        res.status = 404; // the status does not matter: the body is the answer
        res.set_content("\xD6\xD0\xCE\xC4", "text/plain");
    });
    ASSERT_TRUE(server.start());
    EXPECT_EQ(form->fetchAnsiText(server.url() + QStringLiteral("/gbk")), QStringLiteral("中文"));
    const QString refused = server.url() + QStringLiteral("/gbk");
    server.stop();
    EXPECT_TRUE(form->fetchAnsiText(refused).isEmpty());
}
