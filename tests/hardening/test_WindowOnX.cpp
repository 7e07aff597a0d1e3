// The main window on a real X server of its own (Xvfb), driven with real
// pointer input (xdotool): what depends on the display. Plain X has no
// window manager and no notification area: closing must end the program,
// the tray menu must be reachable from the window, balloons must show in
// the status line, the option labels must take their clicks and the
// player view must reach full screen. With a notification area (FakeTray)
// the balloon must be readable. Qt's own dialogs speak Chinese, and a
// download suggests "title - singer.ext" and says when it is done.
#include "tests/hardening/WindowOnXFixture.h"

#include "app/QtTranslation.h"
#include "controls/image/ImageControl.h"
#include "controls/listbox/PlaylistView.h"
#include "downloads/DownloadManager.h"
#include "playback/MediaPlayer.h"
#include "service/ServiceConfig.h"
#include "shell/SkinLoader.h"
#include "window/PopupMenus.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <cmath>

namespace {

bool hasChinese(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF)
            return true;
    }
    return false;
}

TEST_F(WindowOnX, WithoutANotificationAreaClosingEndsThroughTheExitCommand)
{
    ASSERT_FALSE(tray::isTrayUsable());
    searchAndSelect(QStringLiteral("晴川"), 0);
    form->onResultDoubleClicked();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return form->mediaPlayer->playState() == MediaPlayer::kStatePlaying; }, 10000));

    click(form->closeButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !quitCodes.isEmpty(); }, 5000));
    EXPECT_EQ(quitCodes, QList<int>{0});
    EXPECT_EQ(form->mediaPlayer->playState(), MediaPlayer::kStateStopped);
    EXPECT_FALSE(tray::isHooked());
    EXPECT_FALSE(form->isVisible());
}

TEST_F(WindowOnX, WithoutANotificationAreaTheWindowOffersTheTrayMenuAndShowsBalloons)
{
    // A right click on the title line opens the tray menu's commands.
    QMenu *menu = form->popupMenus->trayMenu();
    click(form->titleLabel, 3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 5000));
    QStringList captions;
    for (const QAction *action : menu->actions()) {
        if (action->isVisible() && !action->isSeparator())
            captions << action->text();
    }
    EXPECT_EQ(captions, (QStringList{QStringLiteral("上一首"), QStringLiteral("下一首"),
                                     QStringLiteral("音乐库…"), QStringLiteral("关于"),
                                     QStringLiteral("退出程序")}));
    xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !menu->isVisible(); }, 5000));

    // Next on an empty playlist: the balloon's text shows in the status
    // line, is not taken back at once, and gives the line back after its
    // time-out of five seconds.
    const QString before = form->statusLabel->text();
    click(form->nextButton);
    EXPECT_EQ(form->statusLabel->text(), QStringLiteral("当前尚未添加歌曲"));
    QTest::qWait(1000);
    EXPECT_EQ(form->statusLabel->text(), QStringLiteral("当前尚未添加歌曲"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->statusLabel->text() == before; }, 8000));

    // The background's context menu reaches the exit command: status 0.
    click(form.get(), 3, 1, QPoint(form->width() / 2, form->height() - 4));
    ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 5000));
    const QRect exitRect = menu->actionGeometry(form->popupMenus->exitAction);
    click(menu, 1, 1, exitRect.center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !quitCodes.isEmpty(); }, 5000));
    EXPECT_EQ(quitCodes, QList<int>{0});
}

TEST_F(WindowOnX, OptionLabelsToggleTheirBoxesOnAClick)
{
    const std::pair<QLabel *, QCheckBox *> options[] = {{form->autoFitLabel, form->autoFitBox},
                                                        {form->autoTickLabel, form->autoTickBox}};
    const QPoint place = form->pos();
    for (const auto &option : options) {
        // Plain variables: clang 14 cannot capture a structured binding in a
        // lambda.
        QLabel *const label = option.first;
        QCheckBox *const box = option.second;
        const bool start = box->isChecked();
        click(label);
        EXPECT_TRUE(QTest::qWaitFor([&] { return box->isChecked() != start; }, 3000))
            << label->text().toStdString();
        click(label);
        EXPECT_TRUE(QTest::qWaitFor([&] { return box->isChecked() == start; }, 3000))
            << label->text().toStdString();
    }
    // The presses started no drag: the window is where it was.
    EXPECT_EQ(form->pos(), place);
}

TEST_F(WindowOnX, DoubleClickOnThePlayerViewReachesFullScreen)
{
    click(form->singerPicture);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->playerFrame->isVisible(); }, 3000));
    click(form->mediaPlayer, 1, 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->mediaPlayer->fullScreen(); }, 3000));
    // The first click of the pair did not hide the view.
    QTest::qWait(QApplication::doubleClickInterval() + 200);
    EXPECT_TRUE(form->mediaPlayer->fullScreen());
    EXPECT_TRUE(form->playerFrame->isVisibleTo(form.get()));

    // One click leaves full screen and goes back to the singer picture.
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form->mediaPlayer));
    click(form->mediaPlayer);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form->mediaPlayer->fullScreen(); }, 3000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->singerPicture->isVisible(); }, 3000));
    EXPECT_FALSE(form->playerFrame->isVisible());
}

TEST_F(WindowOnX, QtDialogsSpeakChineseAndADownloadIsNamedAndAnnounced)
{
    ASSERT_TRUE(installQtTranslation(qApp)) << "qt6-translations-l10n is missing";
    QTemporaryDir saveDir;
    searchAndSelect(QStringLiteral("晴川"), 3);
    const QString title = form->resultsView->text(3, 1);

    // The save dialog is Qt's own: its labels and buttons are Chinese, and
    // it suggests "title - singer" with the extension of what the link
    // answers (the service sends WAV audio).
    QString lookIn, fileNameLabel, suggested;
    QStringList buttons;
    QTimer inspect;
    QObject::connect(&inspect, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        inspect.stop();
        if (auto *label = dialog->findChild<QLabel *>(QStringLiteral("lookInLabel")))
            lookIn = label->text();
        if (auto *label = dialog->findChild<QLabel *>(QStringLiteral("fileNameLabel")))
            fileNameLabel = label->text();
        if (auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            suggested = edit->text();
        for (QAbstractButton *b : dialog->findChild<QDialogButtonBox *>()->buttons())
            buttons << b->text();
        dialog->selectFile(saveDir.filePath(suggested));
        QMetaObject::invokeMethod(dialog, "accept"); // the dialog's own Save
    });
    inspect.start(50);
    QSignalSpy done(form->downloads(), &DownloadManager::downloadFinished);
    form->downloadSelectedResult();
    inspect.stop();
    EXPECT_TRUE(hasChinese(lookIn)) << lookIn.toStdString();
    EXPECT_TRUE(hasChinese(fileNameLabel)) << fileNameLabel.toStdString();
    ASSERT_EQ(buttons.size(), 2);
    for (const QString &b : buttons)
        EXPECT_TRUE(hasChinese(b)) << b.toStdString();
    EXPECT_EQ(suggested, title + QStringLiteral(" - 晴川.wav"));

    // The end is announced with the file's name, in the status line here.
    ASSERT_TRUE(done.count() == 1 || done.wait(20000));
    EXPECT_EQ(done.first().at(1).value<DownloadJob::Result>(), DownloadJob::Result::Saved);
    EXPECT_TRUE(QFile::exists(saveDir.filePath(suggested)));
    EXPECT_EQ(form->statusLabel->text(), QStringLiteral("下载完成：") + suggested);
}

// A desktop with a notification area, and the player's own skin.
class WindowOnXWithTray : public WindowOnX
{
protected:
    void prepareDesktop() override
    {
        trayOwner = std::make_unique<FakeTray>();
        ASSERT_TRUE(trayOwner->isValid());
        ASSERT_TRUE(QFile::copy(QStringLiteral(VELMOR_SKIN_FILE),
                                skinDir.filePath(QStringLiteral("tessaryn.she"))));
    }
    void TearDown() override
    {
        WindowOnX::TearDown();
        trayOwner.reset();
    }
    std::unique_ptr<FakeTray> trayOwner;
};

TEST_F(WindowOnXWithTray, BalloonTextIsReadableOnItsBackground)
{
    ASSERT_TRUE(QTest::qWaitFor([] { return tray::isTrayUsable(); }, 5000));
    const QString text = QStringLiteral("当前尚未添加歌曲");
    form->onNextClicked();
    QWidget *balloon = nullptr;
    QLabel *message = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (!w->inherits("QBalloonTip") || !w->isVisible())
                    continue;
                for (QLabel *label : w->findChildren<QLabel *>()) {
                    if (label->text() == text) {
                        balloon = w;
                        message = label;
                    }
                }
            }
            return message != nullptr;
        },
        5000));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(balloon));
    QTest::qWait(200);

    // The rendered label, as the X server shows it: the most frequent
    // colour is the balloon's background, the one farthest from it the
    // text's.
    const QRect area(message->mapToGlobal(QPoint(0, 0)), message->size());
    const QImage shot = QGuiApplication::primaryScreen()
                            ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                            .toImage();
    ASSERT_FALSE(shot.isNull());
    QHash<QRgb, int> counts;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            ++counts[shot.pixel(x, y) | 0xFF000000u];
    QRgb background = 0;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            background = it.key();
        }
    }
    double best = 1.0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        best = std::max(best, contrast(QColor(it.key()), QColor(background)));
    shot.save(QStringLiteral(VELMOR_SMOKE_ARTEFACT_DIR "/balloon.png"));
    EXPECT_GE(best, 4.5) << "background " << QColor(background).name().toStdString();
}

} // namespace
