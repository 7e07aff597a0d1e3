// The tray icon's record, its add/modify/delete life cycle, and the hook's
// handling of the icon's notifications on a plain top-level window.
#include "player/PlayerState.h"
#include "shell/TrayEvent.h"
#include "shell/TrayIcon.h"

#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>

using namespace tray;

namespace {

// Counts the tray messages that reach the window after the hook.
class MessageCounter : public QObject
{
public:
    int seen = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == TrayEvent::eventType())
            ++seen;
        return false;
    }
};

void send(QWidget *window, int message, qintptr lParam)
{
    TrayEvent event(message, 0, lParam);
    QCoreApplication::sendEvent(window, &event);
}

class TrayTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setTrayUsableOverride(1);
        // As the main window tells the tray its tip.
        setTipSource([this](QWidget *form) { return state.trayTip(form->windowTitle()); });
        window = std::make_unique<QWidget>();
        window->setWindowTitle(QStringLiteral("窗口标题"));
        QPixmap icon(16, 16);
        icon.fill(Qt::darkCyan);
        window->setWindowIcon(icon);
        window->show();
    }
    void TearDown() override
    {
        removeTrayIcon(window.get());
        window.reset();
        setTipSource(nullptr);
        setTrayUsableOverride(-1);
    }
    std::unique_ptr<QWidget> window;
    PlayerState state;
};

} // namespace

TEST(TrayRecord, TextsAreCutToTheirFieldsAndTheTipIsTheBalloonTitle)
{
    struct Row
    {
        int tipLength;
        int balloonLength;
        int wantTip;
        int wantBalloon;
        int wantTitle;
    };
    const Row rows[] = {
        {0, 0, 0, 0, 0},        {64, 256, 64, 256, 64},    {65, 257, 65, 256, 64},
        {128, 10, 128, 10, 64}, {129, 1000, 128, 256, 64},
    };
    for (const Row &row : rows) {
        const QString tip(row.tipLength, QChar(u'歌'));
        const QString balloon(row.balloonLength, QLatin1Char('b'));
        const NotifyIconData record = makeNotifyIconData(tip, balloon, 1, 5000);
        EXPECT_EQ(record.tip.size(), row.wantTip) << row.tipLength;
        EXPECT_EQ(record.balloonText.size(), row.wantBalloon) << row.balloonLength;
        EXPECT_EQ(record.balloonTitle.size(), row.wantTitle) << row.tipLength;
        EXPECT_EQ(record.callbackMessage, kTrayCallbackMessage);
        EXPECT_EQ(record.balloonTimeout, 5000);
    }
    const NotifyIconData nulls = makeNotifyIconData(QString(), QString(), 10, 0);
    EXPECT_TRUE(nulls.tip.isEmpty());
    EXPECT_TRUE(nulls.balloonText.isEmpty());
    EXPECT_EQ(nulls.balloonFlags, 10);
}

TEST_F(TrayTest, FirstUpdateAddsAndHooksOnceLaterUpdatesModify)
{
    ASSERT_FALSE(isHooked());
    updateTrayIcon(window.get(), QStringLiteral("提示一"), QString(), 10, 5000);
    EXPECT_EQ(lastCommand(), kNimAdd);
    EXPECT_TRUE(isHooked());
    ASSERT_NE(systemTrayIcon(), nullptr);
    EXPECT_EQ(systemTrayIcon()->toolTip(), QStringLiteral("提示一"));

    updateTrayIcon(window.get(), QStringLiteral("提示二"), QString(), 1, 5000);
    EXPECT_EQ(lastCommand(), kNimModify);
    EXPECT_EQ(systemTrayIcon()->toolTip(), QStringLiteral("提示二"));

    // Had the hook gone in twice, one click would toggle the window twice.
    send(window.get(), kTrayCallbackMessage, kLeftButtonUp);
    EXPECT_TRUE(window->isHidden());
    EXPECT_TRUE(window->isMinimized());
}

TEST_F(TrayTest, RemoveWithoutUpdateDoesNothingAndRemoveUnhooks)
{
    const int before = lastCommand();
    removeTrayIcon(window.get());
    EXPECT_EQ(lastCommand(), before);
    EXPECT_FALSE(isHooked());

    updateTrayIcon(window.get(), QStringLiteral("提示"), QString(), 1, 5000);
    removeTrayIcon(window.get());
    EXPECT_EQ(lastCommand(), kNimDelete);
    EXPECT_FALSE(isHooked());
    EXPECT_EQ(systemTrayIcon(), nullptr);
    // With the hook gone a click message no longer toggles the window.
    send(window.get(), kTrayCallbackMessage, kLeftButtonUp);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(TrayTest, LeftClicksToggleTheWindowAndOtherMessagesPassUntouched)
{
    auto counter = std::make_unique<MessageCounter>();
    window->installEventFilter(counter.get()); // runs after the hook
    updateTrayIcon(window.get(), QStringLiteral("提示"), QString(), 1, 5000);

    send(window.get(), kTrayCallbackMessage, kLeftButtonUp);
    EXPECT_TRUE(window->isHidden());
    EXPECT_TRUE(window->isMinimized());

    send(window.get(), kTrayCallbackMessage, kLeftButtonUp);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isMinimized());

    // A mouse message whose lParam happens to be the click's number, and
    // notifications the hook does not act on.
    send(window.get(), kMouseMoveMessage, kLeftButtonUp);
    send(window.get(), kTrayCallbackMessage, kLeftButtonDoubleClick);
    send(window.get(), kTrayCallbackMessage, 0);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isMinimized());
    EXPECT_EQ(counter->seen, 5); // tray notifications are passed on too
}

TEST_F(TrayTest, WithoutANotificationAreaALeftClickOnlyMinimises)
{
    setTrayUsableOverride(0);
    updateTrayIcon(window.get(), QStringLiteral("提示"), QString(), 1, 5000);
    send(window.get(), kTrayCallbackMessage, kLeftButtonUp);
    EXPECT_TRUE(window->isMinimized());
    EXPECT_FALSE(window->isHidden());
}

TEST_F(TrayTest, RightClickPopsUpTheTrayMenu)
{
    QMenu menu;
    menu.addAction(QStringLiteral("退出程序"));
    setTrayMenu(&menu);
    updateTrayIcon(window.get(), QStringLiteral("提示"), QString(), 1, 5000);
    send(window.get(), kTrayCallbackMessage, kRightButtonUp);
    EXPECT_TRUE(menu.isVisible());
    menu.hide();
    setTrayMenu(nullptr);
}

TEST_F(TrayTest, TheMenuSourceIsAskedOnlyOnARightClick)
{
    QMenu menu;
    menu.addAction(QStringLiteral("退出程序"));
    int asked = 0;
    setTrayMenuSource([&]() -> QMenu * {
        ++asked;
        return &menu;
    });
    updateTrayIcon(window.get(), QStringLiteral("提示"), QString(), 1, 5000);
    send(window.get(), kTrayCallbackMessage, kLeftButtonDoubleClick);
    EXPECT_EQ(asked, 0);
    send(window.get(), kTrayCallbackMessage, kRightButtonUp);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(menu.isVisible());
    menu.hide();

    // A source without a menu pops nothing up.
    setTrayMenuSource([&]() -> QMenu * {
        ++asked;
        return nullptr;
    });
    send(window.get(), kTrayCallbackMessage, kRightButtonUp);
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(menu.isVisible());
    setTrayMenu(nullptr);
}

struct BalloonEndCase
{
    int notification;
    const char16_t *nowPlaying;
    short tipMode;
    const char16_t *expectedTip;
};

class BalloonEnd : public TrayTest, public ::testing::WithParamInterface<BalloonEndCase>
{
};

TEST_P(BalloonEnd, LeavesATipNamingTheTrackOrTheCaption)
{
    const BalloonEndCase &c = GetParam();
    updateTrayIcon(window.get(), QStringLiteral("窗口标题"), QStringLiteral("正在播放：某歌"), 1,
                   60000);
    ASSERT_EQ(lastBalloon(), QStringLiteral("正在播放：某歌"));
    state.setNowPlayingText(QString::fromUtf16(c.nowPlaying));
    state.setTrayTipMode(c.tipMode);

    send(window.get(), kTrayCallbackMessage, c.notification);
    EXPECT_EQ(lastCommand(), kNimModify);
    EXPECT_EQ(lastRecord().tip, QString::fromUtf16(c.expectedTip));
    EXPECT_TRUE(lastRecord().balloonText.isEmpty());
    EXPECT_TRUE(lastBalloon().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    TrayIcon, BalloonEnd,
    ::testing::Values(BalloonEndCase{kBalloonTimeout, u"", 1, u"窗口标题"},
                      BalloonEndCase{kBalloonTimeout, u"晴天--周同", 1, u"正在播放：晴天--周同"},
                      BalloonEndCase{kBalloonTimeout, u"", 2, u"正在播放："},
                      BalloonEndCase{kBalloonHide, u"", 1, u"窗口标题"},
                      BalloonEndCase{kBalloonHide, u"晴天--周同", 2, u"正在播放：晴天--周同"}));

TEST_F(TrayTest, ABalloonThatRunsOutIsReplacedByTheTip)
{
    state.setNowPlayingText(QStringLiteral("夜曲--某人"));
    updateTrayIcon(window.get(), QStringLiteral("窗口标题"), QStringLiteral("正在播放：夜曲"), 1,
                   20);
    EXPECT_EQ(lastBalloon(), QStringLiteral("正在播放：夜曲"));
    EXPECT_TRUE(QTest::qWaitFor([] { return lastBalloon().isEmpty(); }, 10000));
    EXPECT_EQ(lastRecord().tip, QStringLiteral("正在播放：夜曲--某人"));
}

TEST_F(TrayTest, AWindowDestroyedWhileHookedTakesTheIconWithIt)
{
    updateTrayIcon(window.get(), QStringLiteral("提示"), QString(), 1, 5000);
    window.reset();
    EXPECT_FALSE(isHooked());
    EXPECT_EQ(systemTrayIcon(), nullptr);
    // A new window gets an icon and a hook of its own.
    window = std::make_unique<QWidget>();
    window->setWindowIcon(QPixmap(16, 16));
    window->show();
    updateTrayIcon(window.get(), QStringLiteral("提示"), QString(), 1, 5000);
    EXPECT_EQ(lastCommand(), kNimAdd);
    send(window.get(), kTrayCallbackMessage, kLeftButtonUp);
    EXPECT_TRUE(window->isHidden());
}
