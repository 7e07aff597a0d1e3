// appendItems against the same items added one by one with addItem: after
// either, the control must be the same in everything a user, a host or a
// screen reader can see, whatever was in the list before, which items were
// selected and playing, where the view was scrolled and how full it gets.
#include "controls/listbox/PlaylistView.h"
#include "controls/scrollbar/SkinScrollBar.h"

#include <QAccessible>
#include <QAccessibleInterface>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

namespace {

// The main window's playlist size: 24 whole rows of 18 pixels.
constexpr int kWidth = 248;
constexpr int kHeight = 450;

struct AppendCase
{
    const char *name;
    int before;      // items already in the list
    int added;       // items appended
    int listIndex;   // selected before the append (-1: none)
    int playIndex;   // playing before the append (-1: none)
    int barValue;    // top row scrolled to before the append
    bool checkFiles; // autoCheckError on, with some items' files present
};

void PrintTo(const AppendCase &c, std::ostream *out)
{
    *out << c.name;
}

// Everything observable that the append may change.
struct Snapshot
{
    QList<QStringList> items; // title, author, url, time text, error
    int listCount = 0;
    int listIndex = 0;
    int playIndex = 0;
    int firstIndex = 0;
    int lastIndex = 0;
    int barMaximum = 0;
    int barValue = 0;
    bool barVisible = false;
    int numberWidth = 0;
    int accessibleCount = 0;
    QString accessibleDescription;
    QStringList accessibleLastNames;
    QImage picture;
};

class AppendItemsTest : public testing::TestWithParam<AppendCase>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(presentFile.open());
        for (auto *box : {&single, &bulk}) {
            *box = std::make_unique<PlaylistView>();
            (*box)->resize(kWidth, kHeight);
            (*box)->show();
        }
    }

    // The i-th item of the test: every third names a file that exists.
    PlaylistView::NewItem item(int i) const
    {
        const QString url =
            i % 3 == 0 ? presentFile.fileName() : QStringLiteral("/no/such/%1").arg(i);
        return {QStringLiteral("歌 %1").arg(i),
                i % 5 == 0 ? QString() : QStringLiteral("歌手 %1").arg(i % 7), url,
                QStringLiteral("3:%1").arg(i % 60, 2, 10, QLatin1Char('0'))};
    }

    void prepare(PlaylistView &box, const AppendCase &c)
    {
        box.setAutoCheckError(c.checkFiles);
        for (int i = 0; i < c.before; ++i) {
            const PlaylistView::NewItem n = item(i);
            box.addItem(n.title, n.author, n.url, n.duration);
        }
        if (c.listIndex >= 0)
            box.setListIndex(c.listIndex);
        if (c.playIndex >= 0)
            box.setPlayIndex(c.playIndex);
        box.scrollBar()->setValue(c.barValue);
    }

    static Snapshot snapshot(PlaylistView &box)
    {
        Snapshot s;
        for (int i = 0; i < box.listCount(); ++i)
            s.items.append({box.title(i), box.author(i), box.url(i), box.timeText(i),
                            box.itemError(i) ? QStringLiteral("error") : QString()});
        s.listCount = box.listCount();
        s.listIndex = box.listIndex();
        s.playIndex = box.playIndex();
        s.firstIndex = box.firstIndex();
        s.lastIndex = box.lastIndex();
        s.barMaximum = box.scrollBar()->maximum();
        s.barValue = box.scrollBar()->value();
        s.barVisible = !box.scrollBar()->isHidden();
        s.numberWidth = box.numberWidth();
        QAccessibleInterface *list = QAccessible::queryAccessibleInterface(&box);
        s.accessibleCount = list->childCount();
        s.accessibleDescription = list->text(QAccessible::Description);
        for (int i = std::max(0, list->childCount() - 3); i < list->childCount(); ++i)
            s.accessibleLastNames.append(list->child(i)->text(QAccessible::Name));
        s.picture = box.grab().toImage();
        return s;
    }

    QTemporaryFile presentFile;
    std::unique_ptr<PlaylistView> single;
    std::unique_ptr<PlaylistView> bulk;
};

TEST_P(AppendItemsTest, LeavesTheControlAsThatManySingleAddsDo)
{
    const AppendCase &c = GetParam();
    prepare(*single, c);
    prepare(*bulk, c);

    QList<PlaylistView::NewItem> items;
    for (int i = c.before; i < c.before + c.added; ++i)
        items.append(item(i));
    int singleAdded = 0;
    for (const PlaylistView::NewItem &n : items)
        singleAdded += single->addItem(n.title, n.author, n.url, n.duration) > 0 ? 1 : 0;

    QSignalSpy changed(bulk.get(), &PlaylistView::itemsChanged);
    EXPECT_EQ(bulk->appendItems(items), singleAdded);
    // One notice for the whole append, none when nothing fitted.
    EXPECT_EQ(changed.size(), singleAdded > 0 ? 1 : 0);

    const Snapshot one = snapshot(*single);
    const Snapshot all = snapshot(*bulk);
    EXPECT_EQ(all.listCount, std::min(c.before + c.added, int(PlaylistView::kMaxItems)));
    EXPECT_EQ(all.items, one.items);
    EXPECT_EQ(all.listIndex, one.listIndex);
    EXPECT_EQ(all.playIndex, one.playIndex);
    EXPECT_EQ(all.firstIndex, one.firstIndex);
    EXPECT_EQ(all.lastIndex, one.lastIndex);
    EXPECT_EQ(all.barMaximum, one.barMaximum);
    EXPECT_EQ(all.barValue, one.barValue);
    EXPECT_EQ(all.barVisible, one.barVisible);
    EXPECT_EQ(all.numberWidth, one.numberWidth);
    EXPECT_EQ(all.accessibleCount, one.accessibleCount);
    EXPECT_EQ(all.accessibleDescription, one.accessibleDescription);
    EXPECT_EQ(all.accessibleLastNames, one.accessibleLastNames);
    EXPECT_TRUE(all.picture == one.picture) << "the two lists are drawn differently";

    // Both go on the same way afterwards: a selection below the old end.
    if (all.listCount > 0) {
        single->setListIndex(all.listCount - 1);
        bulk->setListIndex(all.listCount - 1);
        EXPECT_EQ(bulk->firstIndex(), single->firstIndex());
        EXPECT_TRUE(bulk->grab().toImage() == single->grab().toImage());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AppendItemsTest,
    testing::Values(AppendCase{"NothingToAnEmptyList", 0, 0, -1, -1, 0, false},
                    AppendCase{"OneItem", 0, 1, -1, -1, 0, false},
                    AppendCase{"JustTheRowsTheViewShows", 0, 24, -1, -1, 0, false},
                    AppendCase{"OneRowMoreThanTheViewShows", 0, 25, -1, -1, 0, false},
                    AppendCase{"ARestoredPlaylist", 0, 200, -1, -1, 0, false},
                    AppendCase{"AfterItemsWithSelectionAndPlaying", 30, 120, 4, 28, 0, false},
                    AppendCase{"ToAListScrolledDown", 90, 20, 80, 3, 60, false},
                    AppendCase{"NumberColumnWidens", 95, 10, 2, 1, 0, false},
                    AppendCase{"WithFilesChecked", 5, 40, 1, 2, 0, true},
                    AppendCase{"PastTheLastIndex", PlaylistView::kMaxItems - 7, 20, 3,
                               PlaylistView::kMaxItems - 8, 0, false},
                    AppendCase{"ToAFullList", PlaylistView::kMaxItems, 3, -1, -1, 0, false}),
    [](const testing::TestParamInfo<AppendCase> &info) { return std::string(info.param.name); });

} // namespace
