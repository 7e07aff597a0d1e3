// The termination signals reach the event loop as one request each time,
// and the previous handlers come back with the object.
#include "app/TerminationSignals.h"

#include <QList>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>

TEST(TerminationSignals, TermAndIntBecomeRequestsAndTheOldHandlersReturn)
{
    static int oldHandlerCalls = 0;
    const auto oldHandler = [](int) { ++oldHandlerCalls; };
    std::signal(SIGTERM, oldHandler);
    {
        QList<int> requests;
        TerminationSignals termination([&requests](int signalNumber) { requests << signalNumber; });
        for (int signalNumber : {SIGTERM, SIGINT}) {
            requests.clear();
            std::raise(signalNumber);
            ASSERT_TRUE(QTest::qWaitFor([&] { return !requests.isEmpty(); }, 5000));
            QTest::qWait(50);
            EXPECT_EQ(requests, QList<int>{signalNumber});
        }
        EXPECT_EQ(oldHandlerCalls, 0);
    }
    std::raise(SIGTERM);
    EXPECT_EQ(oldHandlerCalls, 1);
    std::signal(SIGTERM, SIG_DFL);
}
