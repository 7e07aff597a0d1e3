// The exit command while the window waits for the network: the program
// must leave promptly, without asking the service for anything more. This
// suite runs in a process of its own: once the application has been told
// to exit, no event loop of the process runs again.
#include "tests/hardening/HardeningFixture.h"

#include "service/SearchState.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace {
class ExitFaults : public HardeningFixture
{
};
} // namespace

TEST_F(ExitFaults, ExitDuringASearchLeavesWithoutFetchingMorePages)
{
    startRelay(nullptr);
    form->setQuitHandler([](int code) { QCoreApplication::exit(code); });

    // The application's own loop, as main() runs it; the search starts from
    // inside it, and the exit command comes while page 3 is awaited.
    bool searchReturned = false;
    int pagesAtExit = -1;
    QTimer::singleShot(0, [&] {
        search(QStringLiteral("load30000"));
        searchReturned = true;
    });
    QTimer exitWatch;
    QObject::connect(&exitWatch, &QTimer::timeout, [&] {
        const int pages = relay->requestsContaining(QStringLiteral("searchList.php"));
        if (pages >= 3 && pagesAtExit < 0) {
            pagesAtExit = pages;
            form->exitPlayer();
        }
    });
    exitWatch.start(1);
    QEventLoop applicationLoop;
    const int code = applicationLoop.exec();
    exitWatch.stop();

    EXPECT_EQ(code, 0);
    ASSERT_GT(pagesAtExit, 0);
    EXPECT_TRUE(searchReturned);
    const int pagesAfter = relay->requestsContaining(QStringLiteral("searchList.php"));
    std::printf("[ exit     ] pages asked before the exit command: %d, after: %d, rows: %d\n",
                pagesAtExit, pagesAfter - pagesAtExit, form->resultsView->rowCount());
    // The page awaited at the exit is dropped, not read as an empty page;
    // no page is asked for after it, and only whole pages are listed.
    EXPECT_EQ(pagesAfter, pagesAtExit);
    EXPECT_EQ(form->resultsView->rowCount() % 30, 0);
    EXPECT_FALSE(musicservice::searchState().searchInProgress);
}
