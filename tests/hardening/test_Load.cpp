// Load through the real window: a search of many pages from the bundled
// service, and a playlist filled to the control's limit. Rows must all
// arrive in order, memory must grow with the rows held and no more, and the
// window must stay responsive; the figures are printed for the report.
// VELMOR_LOAD_SEARCH_ROWS changes the size of the search (default 30,000
// rows, 1,000 pages).
#include "tests/common/Sanitizers.h"
#include "tests/hardening/HardeningFixture.h"
#include "tests/hardening/ProcessMemory.h"
#include "tests/hardening/StallProbe.h"

#include "controls/listbox/PlaylistView.h"
#include "musicd/MusicdQueries.h"
#include "service/SearchSongs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QWheelEvent>
#include <cstdio>

namespace {

int envInt(const char *name, int fallback)
{
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok && v > 0 ? v : fallback;
}

// Address sanitizer keeps freed memory in quarantine: resident size then
// says nothing about what the rows hold.
constexpr bool kMeasuresMemory = !sanitizers::kAddress;

// Generous ceilings: a row or an item holds four short texts. Ten times
// that means every row keeps something it should not, such as its page.
constexpr qint64 kMaxBytesPerRow = 16 * 1024;
constexpr qint64 kMaxBytesPerItem = 8 * 1024;

class Load : public HardeningFixture
{
protected:
    void SetUp() override
    {
        HardeningFixture::SetUp();
        ServiceConfig::setHost(service->url());
    }
};

} // namespace

TEST_F(Load, ManyPageSearchKeepsEveryRowAndTheWindowResponsive)
{
    const int rows = envInt("VELMOR_LOAD_SEARCH_ROWS", 30000);
    const QString words = QStringLiteral("load%1").arg(rows);
    search(QStringLiteral("load1")); // connections and caches warmed up
    const qint64 before = ProcessMemory::residentBytes();

    StallProbe probe;
    QElapsedTimer clock;
    probe.start();
    clock.start();
    search(words);
    const qint64 elapsed = clock.elapsed();
    probe.stop();
    const qint64 after = ProcessMemory::residentBytes();

    // Beyond the result list's bound the search stops there and says so.
    const int shown = std::min(rows, musicservice::kMaxResultRows);
    ASSERT_EQ(form->resultsView->rowCount(), shown);
    EXPECT_TRUE(form->statusEdit->text().startsWith(summary(shown)));
    EXPECT_EQ(form->statusEdit->text() == summary(shown), rows < musicservice::kMaxResultRows);
    const QStringList ids = column(0);
    for (int i = 0; i < shown; ++i)
        ASSERT_EQ(ids.at(i), QString::number(musicd::kLoadFirstSongId + i)) << i;
    const double perRow = double(after - before) / rows;
    std::printf("[ load     ] search of %d rows (%d pages): %lld ms, %.0f rows/s, "
                "RSS +%.1f MB (%.0f bytes/row), longest event-loop gap %lld ms, %d probe ticks\n",
                rows, (rows + 29) / 30, static_cast<long long>(elapsed),
                rows * 1000.0 / qMax<qint64>(elapsed, 1), (after - before) / 1048576.0, perRow,
                static_cast<long long>(probe.longestGapMs()), probe.ticks());
    if (kMeasuresMemory) {
        EXPECT_LT(perRow, kMaxBytesPerRow);
    }

    // A new search lets the rows go, and the same search again reuses that
    // memory: a search that kept anything per row would grow by as much
    // again.
    search(QStringLiteral("load1"));
    EXPECT_EQ(form->resultsView->rowCount(), 1);
    search(words);
    ASSERT_EQ(form->resultsView->rowCount(), shown);
    const qint64 again = ProcessMemory::residentBytes();
    std::printf("[ load     ] the same search again: RSS %+.1f MB\n", (again - after) / 1048576.0);
    if (kMeasuresMemory) {
        EXPECT_LT(again - after, (after - before) / 2);
    }
}

TEST_F(Load, PlaylistFilledToItsLimitScrollsPaintsAndCloses)
{
    PlaylistView *list = form->playlistView;
    const qint64 before = ProcessMemory::residentBytes();
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < PlaylistView::kMaxItems; ++i) {
        const QString n = QString::number(musicd::kLoadFirstSongId + i);
        ASSERT_EQ(list->addItem(QStringLiteral("歌曲 ") + n, QStringLiteral("歌手 ") + n, n),
                  i + 1);
    }
    const qint64 fillMs = clock.elapsed();
    const qint64 after = ProcessMemory::residentBytes();

    // Full: one more is refused and nothing changes.
    EXPECT_EQ(list->addItem(QStringLiteral("one too many")), -1);
    ASSERT_EQ(list->listCount(), PlaylistView::kMaxItems);
    const int last = PlaylistView::kMaxItems - 1;
    EXPECT_EQ(list->url(last), QString::number(musicd::kLoadFirstSongId + last));

    // The last index still fits the 16-bit indexes: select, mark, scroll to
    // it and paint there.
    StallProbe probe;
    probe.start();
    list->setListIndex(last);
    list->setPlayIndex(last);
    EXPECT_EQ(list->listIndex(), last);
    EXPECT_EQ(list->playIndex(), last);
    // Back to the top, then one wheel notch at a time, each painted, down
    // to the last row.
    list->setListIndex(0);
    ASSERT_EQ(list->firstIndex(), 0);
    int notches = 0;
    while (list->lastIndex() < last && notches < 40000) {
        QWheelEvent wheel(QPointF(10, 10), list->mapToGlobal(QPointF(10, 10)), QPoint(),
                          QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(list, &wheel);
        QApplication::processEvents();
        ++notches;
    }
    const QImage shot = list->grab().toImage();
    probe.stop();
    EXPECT_FALSE(shot.isNull());
    EXPECT_EQ(list->lastIndex(), last); // the wheel reached the end
    EXPECT_EQ(list->indexFromPoint(10, float(list->rowRect(last).center().y())), last);

    const double perItem = double(after - before) / PlaylistView::kMaxItems;
    std::printf("[ load     ] playlist of %d items: filled in %lld ms, RSS +%.1f MB "
                "(%.0f bytes/item), %d wheel notches to the end, longest event-loop gap %lld ms\n",
                PlaylistView::kMaxItems, static_cast<long long>(fillMs),
                (after - before) / 1048576.0, perItem, notches,
                static_cast<long long>(probe.longestGapMs()));
    if (kMeasuresMemory) {
        EXPECT_LT(perItem, kMaxBytesPerItem);
    }

    // Closing the window with the full list: the fixture destroys it.
    clock.restart();
    form.reset();
    std::printf("[ load     ] window with the full playlist destroyed in %lld ms\n",
                static_cast<long long>(clock.elapsed()));
}
