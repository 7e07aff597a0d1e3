// The window hook's contract: which messages reach the owner, in which order
// around the widget's own handling, what a before-phase callback can stop or
// change, and the bookkeeping of the subscription table.
#include "controls/MessageHook.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPointer>
#include <QTest>
#include <QWheelEvent>
#include <QWidget>

#include <gtest/gtest.h>

#include <optional>

namespace {

struct Call
{
    bool before;
    qint32 message;
    qint32 wParam;
    qint32 lParam;
    qint32 result;
};

// Records every callback; optionally stops or rewrites messages.
class RecordingOwner : public MessageHookClient
{
public:
    void handleMessage(bool before, bool &handled, qint32 &result, QWidget *&window,
                       qint32 &message, qint32 &wParam, qint32 &lParam) override
    {
        calls.push_back({before, message, wParam, lParam, result});
        windows.push_back(window);
        if (log)
            log->append(before ? QStringLiteral("before") : QStringLiteral("after"));
        if (before && handleBefore) {
            handled = true;
            result = handledReturn;
        }
        if (before && rewriteWParam)
            wParam = *rewriteWParam;
        if (before && rewriteLParam)
            lParam = *rewriteLParam;
        if (!before && afterReturn)
            result = *afterReturn;
    }

    std::vector<Call> calls;
    std::vector<QWidget *> windows;
    QStringList *log = nullptr;
    bool handleBefore = false;
    qint32 handledReturn = 0;
    std::optional<qint32> rewriteWParam;
    std::optional<qint32> rewriteLParam;
    std::optional<qint32> afterReturn;
};

// A widget that notes its own handling of paints and presses.
class LoggingWidget : public QWidget
{
public:
    QStringList *log = nullptr;
    int paints = 0;
    QPoint lastPress;

protected:
    void paintEvent(QPaintEvent *) override { ++paints; }
    void mousePressEvent(QMouseEvent *event) override
    {
        if (log)
            log->append(QStringLiteral("widget"));
        lastPress = event->position().toPoint();
        event->accept();
    }
};

class MessageHookTest : public ::testing::Test
{
protected:
    RecordingOwner owner;
    MessageHook hook{&owner};
    QWidget a;
    QWidget b;

    // A stand-in previous procedure that records what reached it.
    struct Previous
    {
        int calls = 0;
        qint32 message = 0, wParam = 0, lParam = 0;
        qint32 result = 77;
    } previous;
    MessageHook::PreviousHandler previousProc()
    {
        return [this](qint32 m, qint32 w, qint32 l) {
            ++previous.calls;
            previous.message = m;
            previous.wParam = w;
            previous.lParam = l;
            return previous.result;
        };
    }
};

TEST_F(MessageHookTest, UnsubscribedMessagePassesUnchangedWithoutOwner)
{
    hook.attach(&a);
    hook.addMessage(&a, wm::kPaint, MessageHook::kPhaseBoth);

    EXPECT_EQ(hook.dispatch(&a, wm::kMouseMove, 5, 6, previousProc()), 77);
    EXPECT_EQ(previous.calls, 1);
    EXPECT_EQ(previous.message, wm::kMouseMove);
    EXPECT_EQ(previous.wParam, 5);
    EXPECT_EQ(previous.lParam, 6);
    EXPECT_TRUE(owner.calls.empty());

    // A window that was attached but never subscribed behaves the same.
    hook.attach(&b);
    EXPECT_EQ(hook.dispatch(&b, wm::kPaint, 0, 0, previousProc()), 77);
    EXPECT_TRUE(owner.calls.empty());
}

TEST_F(MessageHookTest, HandledBeforePhaseStopsPreviousAndAfter)
{
    hook.attach(&a);
    hook.addMessage(&a, wm::kPaint, MessageHook::kPhaseBoth);
    owner.handleBefore = true;
    owner.handledReturn = -3;

    EXPECT_EQ(hook.dispatch(&a, wm::kPaint, 0, 0, previousProc()), -3);
    EXPECT_EQ(previous.calls, 0);
    ASSERT_EQ(owner.calls.size(), 1u);
    EXPECT_TRUE(owner.calls[0].before);
    EXPECT_EQ(owner.windows[0], &a);
}

TEST_F(MessageHookTest, BeforeChangesReachPreviousAndAfterWhichSeesItsResult)
{
    hook.attach(&a);
    hook.addMessage(&a, wm::kLButtonDown, MessageHook::kPhaseBoth);
    owner.rewriteWParam = 0x10;
    owner.afterReturn = 9;

    EXPECT_EQ(hook.dispatch(&a, wm::kLButtonDown, 1, wm::makeLParam(3, 4), previousProc()), 9);
    EXPECT_EQ(previous.wParam, 0x10);
    ASSERT_EQ(owner.calls.size(), 2u);
    EXPECT_TRUE(owner.calls[0].before);
    EXPECT_FALSE(owner.calls[1].before);
    EXPECT_EQ(owner.calls[1].wParam, 0x10);
    EXPECT_EQ(owner.calls[1].result, 77); // the after phase starts from previous' result
}

TEST_F(MessageHookTest, PhasesAndEveryMessageSubscription)
{
    hook.attach(&a);
    hook.addMessage(&a, wm::kTimer, MessageHook::kPhaseAfter);
    hook.addMessage(&a, MessageHook::kAllMessages, MessageHook::kPhaseBefore);

    hook.dispatch(&a, wm::kTimer, 2, 0, previousProc());
    hook.dispatch(&a, 12345, 0, 0, previousProc());
    ASSERT_EQ(owner.calls.size(), 3u);
    EXPECT_TRUE(owner.calls[0].before);  // timer, via "every message"
    EXPECT_FALSE(owner.calls[1].before); // timer, after
    EXPECT_TRUE(owner.calls[2].before);  // any number at all
    EXPECT_EQ(owner.calls[2].message, 12345);
    EXPECT_EQ(hook.entries()[0].beforeCount, -1);
}

TEST_F(MessageHookTest, DuplicateSubscriptionKeepsOneSlot)
{
    hook.attach(&a);
    for (int i = 0; i < 3; ++i)
        hook.addMessage(&a, wm::kPaint, MessageHook::kPhaseBefore);
    hook.addMessage(&a, wm::kSize, MessageHook::kPhaseBefore);
    hook.addMessage(&a, wm::kPaint, MessageHook::kPhaseAfter);

    const MessageHookEntry &entry = hook.entries()[0];
    EXPECT_EQ(entry.beforeCount, 2);
    EXPECT_EQ(entry.beforeList, (QList<qint32>{wm::kPaint, wm::kSize}));
    EXPECT_EQ(entry.afterCount, 1);

    hook.dispatch(&a, wm::kPaint, 0, 0, previousProc());
    EXPECT_EQ(owner.calls.size(), 2u); // once per phase, not once per subscription
}

TEST_F(MessageHookTest, UnsubclassRestoresWidgetAndFreedEntryIsReused)
{
    LoggingWidget w;
    w.resize(20, 20);
    EXPECT_EQ(hook.attach(&a), 0);
    EXPECT_EQ(hook.attach(&w), 1);
    EXPECT_EQ(hook.attach(&w), 1); // attaching twice keeps the entry
    hook.addMessage(&w, wm::kPaint, MessageHook::kPhaseBefore);
    owner.handleBefore = true;

    QPaintEvent paint(w.rect());
    QCoreApplication::sendEvent(&w, &paint);
    EXPECT_EQ(w.paints, 0);
    EXPECT_EQ(owner.calls.size(), 1u);

    hook.detach(&w);
    QCoreApplication::sendEvent(&w, &paint);
    EXPECT_EQ(w.paints, 1);
    EXPECT_EQ(owner.calls.size(), 1u);
    EXPECT_EQ(hook.entries()[1].window, nullptr);
    EXPECT_EQ(hook.entries()[1].beforeCount, 0);

    // Subscribing a detached window is ignored.
    hook.addMessage(&w, wm::kPaint, MessageHook::kPhaseBefore);
    EXPECT_EQ(hook.entries()[1].beforeCount, 0);

    EXPECT_EQ(hook.attach(&b), 1);
    EXPECT_EQ(hook.entries().size(), 2);
    hook.detachAll();
    EXPECT_EQ(hook.entries()[0].window, nullptr);
    EXPECT_EQ(hook.attach(&w), 1); // free entries are searched from the last down
}

TEST_F(MessageHookTest, DestroyedWindowFreesItsEntry)
{
    auto *w = new QWidget;
    hook.attach(w);
    delete w;
    EXPECT_EQ(hook.entries()[0].window, nullptr);
    EXPECT_EQ(hook.attach(&a), 0);
}

TEST_F(MessageHookTest, RealEventsRunAroundTheWidgetsOwnHandling)
{
    LoggingWidget w;
    QStringList log;
    w.log = &log;
    owner.log = &log;
    w.resize(50, 50);
    hook.attach(&w);
    hook.addMessage(&w, wm::kLButtonDown, MessageHook::kPhaseBoth);

    QTest::mousePress(&w, Qt::LeftButton, Qt::ShiftModifier, QPoint(7, 9));
    EXPECT_EQ(log, (QStringList{QStringLiteral("before"), QStringLiteral("widget"),
                                QStringLiteral("after")}));
    ASSERT_EQ(owner.calls.size(), 2u);
    EXPECT_EQ(owner.calls[1].message, wm::kLButtonDown);
    EXPECT_EQ(owner.calls[1].wParam, wm::kMkLButton | wm::kMkShift);
    EXPECT_EQ(wm::lParamX(owner.calls[1].lParam), 7);
    EXPECT_EQ(wm::lParamY(owner.calls[1].lParam), 9);
    QTest::mouseRelease(&w, Qt::LeftButton, {}, QPoint(7, 9));

    // A before phase that moves the pointer moves it for the widget too.
    owner.rewriteLParam = wm::makeLParam(30, 2);
    QTest::mousePress(&w, Qt::LeftButton, {}, QPoint(7, 9));
    EXPECT_EQ(w.lastPress, QPoint(30, 2));
    EXPECT_EQ(wm::lParamX(owner.calls.back().lParam), 30);
    QTest::mouseRelease(&w, Qt::LeftButton, {}, QPoint(7, 9));
    owner.rewriteLParam.reset();
    owner.calls.resize(2);

    // Other buttons are other messages, so the left-button subscription
    // does not see them.
    QTest::mousePress(&w, Qt::RightButton, {}, QPoint(1, 1));
    QTest::mouseRelease(&w, Qt::RightButton, {}, QPoint(1, 1));
    EXPECT_EQ(owner.calls.size(), 2u);
}

TEST_F(MessageHookTest, TimersArriveWithTheControlsOwnIds)
{
    QWidget w;
    hook.attach(&w);
    hook.addMessage(&w, wm::kTimer, MessageHook::kPhaseAfter);
    hook.setTimer(&w, 3, 1);
    EXPECT_TRUE(hook.isTimerActive(&w, 3));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !owner.calls.empty(); }, 5000));
    EXPECT_EQ(owner.calls[0].message, wm::kTimer);
    EXPECT_EQ(owner.calls[0].wParam, 3);
    hook.killTimer(&w, 3);
    EXPECT_FALSE(hook.isTimerActive(&w, 3));
    const size_t seen = owner.calls.size();
    QTest::qWait(30);
    EXPECT_EQ(owner.calls.size(), seen);
}

TEST_F(MessageHookTest, WheelAndPositionPacking)
{
    QWidget w;
    w.move(0, 0);
    qint32 message = 0, wParam = 0, lParam = 0;

    QWheelEvent wheel(QPointF(4, 5), QPointF(-20, 300), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    ASSERT_TRUE(hook.translateEvent(&w, &wheel, message, wParam, lParam));
    EXPECT_EQ(message, wm::kMouseWheel);
    EXPECT_EQ(qint16(quint32(wParam) >> 16), -120); // towards the user
    EXPECT_EQ(wParam & 0xFFFF, wm::kMkControl);
    EXPECT_EQ(wm::lParamX(lParam), -20); // screen position, sign kept
    EXPECT_EQ(wm::lParamY(lParam), 300);

    QMouseEvent move(QEvent::MouseMove, QPointF(-3, 40000 - 65536), QPointF(), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    ASSERT_TRUE(hook.translateEvent(&w, &move, message, wParam, lParam));
    EXPECT_EQ(message, wm::kMouseMove);
    EXPECT_EQ(wParam, 0);
    EXPECT_EQ(wm::lParamX(lParam), -3);
    EXPECT_EQ(wm::lParamY(lParam), 40000 - 65536);
}

} // namespace
