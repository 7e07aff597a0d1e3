// Costs of the playlist control at its largest: appending the 32,768 items
// the 16-bit indexes allow (one by one, and at once as a restored playlist
// is), repainting after one wheel notch on a full list, the heap taken per
// item, and reading a settings file that holds such a list. Goals: the
// whole append under 50 ms, a wheel step repainted under 2 ms.
#include "controls/PropertyBag.h"
#include "controls/listbox/PlaylistView.h"
#include "controls/scrollbar/SkinScrollBar.h"
#include "desktop/PlayerSettings.h"

#include <QApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QWheelEvent>

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <memory>

namespace {

// The main window's playlist size.
constexpr int kWidth = 248;
constexpr int kHeight = 450;

// Texts of the length the service gives: a song title, a singer, a song ID;
// every title differs, as in a real list, so no row is measured for free.
const QString kTitle = QStringLiteral("月亮代表我的心（现场版）");
const QString kAuthor = QStringLiteral("邓丽君");

std::unique_ptr<PlaylistView> makeList()
{
    auto box = std::make_unique<PlaylistView>();
    box->readProperties(PlaylistView::mainWindowProperties());
    box->resize(kWidth, kHeight);
    box->show();
    QApplication::processEvents();
    return box;
}

void fillFull(PlaylistView &box)
{
    for (int i = 0; i < PlaylistView::kMaxItems; ++i)
        box.addItem(kTitle + QString::number(i), kAuthor + QString::number(i % 50),
                    QString::number(10000000 + i), QString());
}

void BM_AppendFullList(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto box = makeList();
        state.ResumeTiming();
        fillFull(*box);
        // The rows the appends asked for are painted too.
        box->repaint();
        state.PauseTiming();
        box.reset();
        state.ResumeTiming();
    }
    state.counters["items"] = PlaylistView::kMaxItems;
}
BENCHMARK(BM_AppendFullList)->Unit(benchmark::kMillisecond)->Iterations(5);

QList<PlaylistView::NewItem> fullListItems()
{
    QList<PlaylistView::NewItem> items;
    items.reserve(PlaylistView::kMaxItems);
    for (int i = 0; i < PlaylistView::kMaxItems; ++i)
        items.append({kTitle + QString::number(i), kAuthor + QString::number(i % 50),
                      QString::number(10000000 + i), QString()});
    return items;
}

void BM_AppendFullListAtOnce(benchmark::State &state)
{
    const QList<PlaylistView::NewItem> items = fullListItems();
    for (auto _ : state) {
        state.PauseTiming();
        auto box = makeList();
        state.ResumeTiming();
        box->appendItems(items);
        box->repaint();
        state.PauseTiming();
        box.reset();
        state.ResumeTiming();
    }
    state.counters["items"] = PlaylistView::kMaxItems;
}
BENCHMARK(BM_AppendFullListAtOnce)->Unit(benchmark::kMillisecond)->Iterations(5);

// Reading the settings file of a player that saved a full playlist: the
// part of a start that still grows with the list.
void BM_ReadFullSettingsFile(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.json"));
    PlayerSettings saved;
    for (const PlaylistView::NewItem &item : fullListItems())
        saved.playlist.append({item.title, item.author, item.url});
    saved.playingIndex = PlaylistView::kMaxItems - 1;
    PlayerSettingsFile::write(path, saved);
    for (auto _ : state) {
        const PlayerSettingsFile::ReadResult read = PlayerSettingsFile::read(path);
        if (read.settings.playlist.size() != PlaylistView::kMaxItems)
            state.SkipWithError("the file was not read back whole");
    }
    state.counters["bytes"] = double(QFileInfo(path).size());
}
BENCHMARK(BM_ReadFullSettingsFile)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_WheelStepRepaint(benchmark::State &state)
{
    auto box = makeList();
    fillFull(*box);
    box->repaint();
    for (auto _ : state) {
        // Down through the list notch by notch, as a user reading it would;
        // back to the top (a view of all new rows) at the end.
        const int before = box->firstIndex();
        const QPointF pos(60, 100);
        QWheelEvent event(pos, box->mapToGlobal(pos), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(box.get(), &event);
        box->repaint();
        if (box->firstIndex() == before)
            box->scrollBar()->setValue(0);
    }
}
BENCHMARK(BM_WheelStepRepaint)->Unit(benchmark::kMicrosecond);

void BM_MemoryPerItem(benchmark::State &state)
{
    for (auto _ : state) {
        auto box = makeList();
        const size_t before = mallinfo2().uordblks;
        fillFull(*box);
        const size_t after = mallinfo2().uordblks;
        state.counters["bytes_per_item"] = double(after - before) / PlaylistView::kMaxItems;
    }
}
BENCHMARK(BM_MemoryPerItem)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
