// The playlist's item store, its index properties and its stored
// properties: what adding, inserting, removing and clearing do to the
// items and to listIndex / playIndex, and which events they raise.
#include "PlaylistViewFixture.h"

#include "controls/PropertyBag.h"

#include <QFontMetrics>
#include <QSignalSpy>
#include <QTemporaryFile>

#include <functional>
#include <limits>

namespace {

using StoreTest = PlaylistViewTest;

TEST_F(StoreTest, AddItemFillsDefaultsAndChecksTheInsertPosition)
{
    EXPECT_EQ(box->addItem(QStringLiteral("Only a title")), 1);
    EXPECT_EQ(box->author(0), QStringLiteral("UnKnow"));
    EXPECT_TRUE(box->url(0).isEmpty());
    EXPECT_TRUE(box->timeText(0).isEmpty());
    EXPECT_FALSE(box->itemError(0));
    EXPECT_EQ(box->duration(0), 0);

    // An author given as empty text stays empty.
    EXPECT_EQ(box->addItem(QStringLiteral("B"), QString(), QStringLiteral("42")), 2);
    EXPECT_TRUE(box->author(1).isEmpty());
    EXPECT_EQ(box->url(1), QStringLiteral("42"));

    // index = listCount appends; one past it, or below 0, adds nothing.
    EXPECT_EQ(box->addItem(QStringLiteral("C"), QStringLiteral("x"), {}, {}, 2), 3);
    EXPECT_EQ(box->title(2), QStringLiteral("C"));
    EXPECT_EQ(box->addItem(QStringLiteral("D"), QStringLiteral("x"), {}, {}, 4), -1);
    EXPECT_EQ(box->addItem(QStringLiteral("D"), QStringLiteral("x"), {}, {}, -1), -1);
    EXPECT_EQ(box->listCount(), 3);

    // Inserting in front of the selected and playing items leaves both
    // indexes where they were.
    box->setListIndex(1);
    box->setPlayIndex(2);
    EXPECT_EQ(box->addItem(QStringLiteral("First"), QStringLiteral("x"), {}, {}, 0), 4);
    EXPECT_EQ(box->title(0), QStringLiteral("First"));
    EXPECT_EQ(box->title(3), QStringLiteral("C"));
    EXPECT_EQ(box->listIndex(), 1);
    EXPECT_EQ(box->playIndex(), 2);
}

TEST_F(StoreTest, NewItemsStartWithoutErrorWhateverWasRemovedBefore)
{
    fill(3);
    box->setItemError(0, true);
    box->setItemError(2, true);
    box->removeItem(0);
    box->addItem(QStringLiteral("appended"));
    box->addItem(QStringLiteral("inserted"), QStringLiteral("x"), {}, {}, 0);
    EXPECT_FALSE(box->itemError(0));
    EXPECT_FALSE(box->itemError(box->listCount() - 1));
    EXPECT_TRUE(box->itemError(2)); // the old item 2, now at 2 again
}

TEST_F(StoreTest, FullListRefusesMoreItems)
{
    for (int i = 0; i < PlaylistView::kMaxItems; ++i)
        ASSERT_EQ(box->addItem(QStringLiteral("t")), i + 1);
    EXPECT_EQ(box->addItem(QStringLiteral("one too many")), -1);
    EXPECT_EQ(box->addItem(QStringLiteral("one too many"), QStringLiteral("x"), {}, {}, 0), -1);
    EXPECT_EQ(box->listCount(), PlaylistView::kMaxItems);
    EXPECT_EQ(box->numberWidth(),
              QFontMetrics(box->listFont()).horizontalAdvance(QStringLiteral("32768")) + 4);
    // The last index is still addressable.
    box->setPlayIndex(PlaylistView::kMaxItems - 1);
    EXPECT_EQ(box->playIndex(), PlaylistView::kMaxItems - 1);
}

TEST_F(StoreTest, RemoveItemKeepsIndexesUnshifted)
{
    fill(6);
    box->setListIndex(4);
    box->setPlayIndex(3);
    log.clear();

    // A lower item goes: the selection now names the item that followed.
    EXPECT_EQ(box->removeItem(1), 5);
    EXPECT_EQ(box->listIndex(), 4);
    EXPECT_EQ(box->title(4), QStringLiteral("Song 6"));

    // The playing item goes: nothing plays, and no event says so.
    EXPECT_EQ(box->removeItem(3), 4);
    EXPECT_EQ(box->playIndex(), -1);
    EXPECT_TRUE(log.isEmpty());

    // A selection left past the end names nothing.
    EXPECT_EQ(box->removeItem(0), 3);
    EXPECT_EQ(box->listIndex(), -1);

    for (int bad : {-1, 3, 40000})
        EXPECT_EQ(box->removeItem(bad), -1) << bad;
    EXPECT_EQ(box->listCount(), 3);
}

TEST_F(StoreTest, RemovingTheOnlyItemAndClearEmptyTheList)
{
    fill(1);
    box->setListIndex(0);
    box->setPlayIndex(0);
    EXPECT_EQ(box->removeItem(0), 0);
    EXPECT_EQ(box->listIndex(), -1);
    EXPECT_EQ(box->playIndex(), -1);
    EXPECT_EQ(box->lastIndex(), -1);

    fill(40);
    box->setPlayIndex(39);
    ASSERT_GT(box->firstIndex(), 0);
    box->clear();
    EXPECT_EQ(box->listCount(), 0);
    EXPECT_EQ(box->firstIndex(), 0);
    EXPECT_EQ(box->playIndex(), -1);
    EXPECT_EQ(box->scrollBar()->maximum(), 0);
    EXPECT_TRUE(box->scrollBar()->isHidden());

    QSignalSpy changes(box.get(), &PlaylistView::propertyChanged);
    log.clear();
    box->clear();
    EXPECT_EQ(changes.count(), 0);
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(StoreTest, InvalidIndexesReadEmptyAndWriteNothing)
{
    fill(2);
    for (int bad : {-1, 2, 32767}) {
        EXPECT_TRUE(box->title(bad).isEmpty());
        EXPECT_TRUE(box->author(bad).isEmpty());
        EXPECT_TRUE(box->url(bad).isEmpty());
        EXPECT_TRUE(box->timeText(bad).isEmpty());
        EXPECT_FALSE(box->itemError(bad));
        box->setTitle(bad, QStringLiteral("x"));
        box->setItemError(bad, true);
    }
    EXPECT_EQ(box->listCount(), 2);
    EXPECT_EQ(box->title(1), QStringLiteral("Song 2"));
    EXPECT_EQ(box->indexFromPoint(10, float(rowY(2))), -1);
    EXPECT_EQ(box->indexFromPoint(10, float(rowY(1))), 1);
}

TEST_F(StoreTest, IndexSettersIgnoreNoItemAndTheCurrentValue)
{
    QSignalSpy changes(box.get(), &PlaylistView::propertyChanged);
    box->setListIndex(0); // empty list
    fill(5);
    box->setListIndex(2);
    ASSERT_EQ(log, QStringList{QStringLiteral("List -1 2 1")});
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes.at(0).at(0).toString(), QStringLiteral("ListIndex"));

    log.clear();
    for (int ignored : {-1, 5, 2})
        box->setListIndex(ignored);
    EXPECT_TRUE(log.isEmpty());
    EXPECT_EQ(box->listIndex(), 2);
    EXPECT_EQ(changes.count(), 1);
}

TEST_F(StoreTest, HandlerAnswerDecidesTheNewIndex)
{
    fill(5);
    const auto connection = QObject::connect(
        box.get(), &PlaylistView::playIndexChanged,
        [](short &, short &newIndex, short &) { newIndex = newIndex == 1 ? 3 : 999; });
    box->setPlayIndex(1);
    EXPECT_EQ(box->playIndex(), 3);
    // An answer that names no item leaves nothing playing.
    box->setPlayIndex(2);
    EXPECT_EQ(box->playIndex(), -1);
    QObject::disconnect(connection);
}

TEST_F(StoreTest, SettingAnIndexBelowTheViewScrollsItToTheTop)
{
    fill(40);
    box->setPlayIndex(30);
    // 40 items, 24 whole rows: the view stops at 16.
    EXPECT_EQ(box->firstIndex(), 16);
    box->setListIndex(20);
    EXPECT_EQ(box->firstIndex(), 16); // already in view
    box->setListIndex(3);
    EXPECT_EQ(box->firstIndex(), 3);
    EXPECT_EQ(box->lastIndex(), 3 + 25);
}

TEST_F(StoreTest, PropertySettersNotifyOnlyRealChanges)
{
    using Setter = std::function<void()>;
    const QColor other(1, 2, 3);
    const std::pair<QString, Setter> setters[] = {
        {QStringLiteral("BackColor"), [&] { box->setBackColor(other); }},
        {QStringLiteral("ItemBkColor1"), [&] { box->setItemBackColor1(other); }},
        {QStringLiteral("ItemBkColor2"), [&] { box->setItemBackColor2(other); }},
        {QStringLiteral("ItemSelBkColor"), [&] { box->setSelectedBackColor(other); }},
        {QStringLiteral("ItemNorTextColor"), [&] { box->setTextColor(other); }},
        {QStringLiteral("ItemSelTextColor"), [&] { box->setSelectedTextColor(other); }},
        {QStringLiteral("ItemPlyTextColor"), [&] { box->setPlayingTextColor(other); }},
        {QStringLiteral("ItemErrTextColor"), [&] { box->setErrorTextColor(other); }},
        {QStringLiteral("BorderColor"), [&] { box->setBorderColor(other); }},
        {QStringLiteral("ItemHeight"), [&] { box->setItemHeight(20); }},
        {QStringLiteral("Border"), [&] { box->setBorder(false); }},
        {QStringLiteral("BorderWidth"), [&] { box->setBorderWidth(2); }},
        {QStringLiteral("AutoCheckError"), [&] { box->setAutoCheckError(true); }},
    };
    for (const auto &[name, set] : setters) {
        QSignalSpy changes(box.get(), &PlaylistView::propertyChanged);
        set();
        set(); // the same value again changes nothing
        ASSERT_EQ(changes.count(), 1) << name.toStdString();
        EXPECT_EQ(changes.at(0).at(0).toString(), name);
    }

    // The font always applies and always tells the host.
    QSignalSpy changes(box.get(), &PlaylistView::propertyChanged);
    box->setFont(box->listFont());
    box->setFont(box->listFont());
    EXPECT_EQ(changes.count(), 2);

    box->setItemHeight(0);
    EXPECT_EQ(box->itemHeight(), 1);
    box->setBorderWidth(-4);
    EXPECT_EQ(box->borderWidth(), 1);
}

TEST_F(StoreTest, PropertiesRoundTripThroughTheStore)
{
    box->readProperties(PlaylistView::mainWindowProperties());
    EXPECT_EQ(box->backColor(), QColor(117, 153, 1));
    EXPECT_EQ(box->selectedBackColor(), QColor(255, 255, 0));
    EXPECT_EQ(box->listFont().pointSize(), 9);

    box->setItemHeight(22);
    PropertyBag saved;
    box->writeProperties(saved);
    EXPECT_EQ(saved.values().size(), 14);
    PlaylistView other;
    other.readProperties(saved);
    EXPECT_TRUE(other.properties() == box->properties());

    box->initProperties();
    EXPECT_TRUE(box->properties() == PlaylistViewProperties::newControl());
    EXPECT_EQ(box->itemHeight(), 18);
}

TEST_F(StoreTest, AutoCheckErrorMarksItemsWithoutAFile)
{
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    box->addItem(QStringLiteral("before"), QStringLiteral("x"), QStringLiteral("/no/such/file"));
    EXPECT_FALSE(box->itemError(0)); // not checked while switched off

    box->setAutoCheckError(true);
    box->addItem(QStringLiteral("present"), QStringLiteral("x"), file.fileName());
    box->addItem(QStringLiteral("missing"), QStringLiteral("x"), QStringLiteral("/no/such/file"));
    box->addItem(QStringLiteral("no address"));
    EXPECT_FALSE(box->itemError(1));
    EXPECT_TRUE(box->itemError(2));
    EXPECT_TRUE(box->itemError(3));

    // Drawing the rows re-checks them.
    box->grab();
    EXPECT_TRUE(box->itemError(0));
}

TEST_F(StoreTest, RowHeightIsBoundedToWhatAScreenShows)
{
    fill(30);
    box->setItemBackColor1(QColor(10, 200, 30));
    for (const int huge : {1 << 30, std::numeric_limits<int>::max()}) {
        box->setItemHeight(18);
        box->setItemHeight(huge);
        EXPECT_EQ(box->itemHeight(), listgeo::kMaxItemHeight);
        // A stored value is bounded the same way on loading.
        PropertyBag bag;
        box->writeProperties(bag);
        bag.writeProperty(QStringLiteral("ItemHeight"), huge);
        box->setItemHeight(18);
        box->readProperties(bag);
        EXPECT_EQ(box->itemHeight(), listgeo::kMaxItemHeight);
        // Painting the rows stays within the row arithmetic (the sanitizer
        // pass checks for overflow) and shows the top row.
        const QImage painted = box->grab().toImage();
        EXPECT_EQ(painted.pixelColor(60, 5), box->itemBackColor1()) << huge;
    }
}

} // namespace
