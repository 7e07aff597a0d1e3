// The playlist's item store, its index properties and its stored
// properties: what adding, inserting, removing and clearing do to the
// items and to ListIndex / PlayIndex, and which events they raise.
#include "test_NaluListBoxFixture.h"

#include "controls/PropertyBag.h"

#include <QFontMetrics>
#include <QSignalSpy>
#include <QTemporaryFile>

#include <functional>

namespace {

using StoreTest = NaluListBoxTest;

TEST_F(StoreTest, AddItemFillsDefaultsAndChecksTheInsertPosition)
{
    EXPECT_EQ(box->AddItem(QStringLiteral("Only a title")), 1);
    EXPECT_EQ(box->Author(0), QStringLiteral("UnKnow"));
    EXPECT_TRUE(box->URL(0).isEmpty());
    EXPECT_TRUE(box->StrTime(0).isEmpty());
    EXPECT_FALSE(box->ItemError(0));
    EXPECT_EQ(box->LongTime(0), 0);

    // An author given as empty text stays empty.
    EXPECT_EQ(box->AddItem(QStringLiteral("B"), QString(), QStringLiteral("42")), 2);
    EXPECT_TRUE(box->Author(1).isEmpty());
    EXPECT_EQ(box->URL(1), QStringLiteral("42"));

    // Index = ListCount appends; one past it, or below 0, adds nothing.
    EXPECT_EQ(box->AddItem(QStringLiteral("C"), QStringLiteral("x"), {}, {}, 2), 3);
    EXPECT_EQ(box->Title(2), QStringLiteral("C"));
    EXPECT_EQ(box->AddItem(QStringLiteral("D"), QStringLiteral("x"), {}, {}, 4), -1);
    EXPECT_EQ(box->AddItem(QStringLiteral("D"), QStringLiteral("x"), {}, {}, -1), -1);
    EXPECT_EQ(box->ListCount(), 3);

    // Inserting in front of the selected and playing items leaves both
    // indexes where they were.
    box->setListIndex(1);
    box->setPlayIndex(2);
    EXPECT_EQ(box->AddItem(QStringLiteral("First"), QStringLiteral("x"), {}, {}, 0), 4);
    EXPECT_EQ(box->Title(0), QStringLiteral("First"));
    EXPECT_EQ(box->Title(3), QStringLiteral("C"));
    EXPECT_EQ(box->ListIndex(), 1);
    EXPECT_EQ(box->PlayIndex(), 2);
}

TEST_F(StoreTest, NewItemsStartWithoutErrorWhateverWasRemovedBefore)
{
    fill(3);
    box->setItemError(0, true);
    box->setItemError(2, true);
    box->RemoveItem(0);
    box->AddItem(QStringLiteral("appended"));
    box->AddItem(QStringLiteral("inserted"), QStringLiteral("x"), {}, {}, 0);
    EXPECT_FALSE(box->ItemError(0));
    EXPECT_FALSE(box->ItemError(box->ListCount() - 1));
    EXPECT_TRUE(box->ItemError(2)); // the old item 2, now at 2 again
}

TEST_F(StoreTest, FullListRefusesMoreItems)
{
    for (int i = 0; i < NaluListBox::kMaxItems; ++i)
        ASSERT_EQ(box->AddItem(QStringLiteral("t")), i + 1);
    EXPECT_EQ(box->AddItem(QStringLiteral("one too many")), -1);
    EXPECT_EQ(box->AddItem(QStringLiteral("one too many"), QStringLiteral("x"), {}, {}, 0), -1);
    EXPECT_EQ(box->ListCount(), NaluListBox::kMaxItems);
    EXPECT_EQ(box->NumberWidth(),
              QFontMetrics(box->Font()).horizontalAdvance(QStringLiteral("32768")) + 4);
    // The last index is still addressable.
    box->setPlayIndex(NaluListBox::kMaxItems - 1);
    EXPECT_EQ(box->PlayIndex(), NaluListBox::kMaxItems - 1);
}

TEST_F(StoreTest, RemoveItemKeepsIndexesUnshifted)
{
    fill(6);
    box->setListIndex(4);
    box->setPlayIndex(3);
    log.clear();

    // A lower item goes: the selection now names the item that followed.
    EXPECT_EQ(box->RemoveItem(1), 5);
    EXPECT_EQ(box->ListIndex(), 4);
    EXPECT_EQ(box->Title(4), QStringLiteral("Song 6"));

    // The playing item goes: nothing plays, and no event says so.
    EXPECT_EQ(box->RemoveItem(3), 4);
    EXPECT_EQ(box->PlayIndex(), -1);
    EXPECT_TRUE(log.isEmpty());

    // A selection left past the end names nothing.
    EXPECT_EQ(box->RemoveItem(0), 3);
    EXPECT_EQ(box->ListIndex(), -1);

    for (int bad : {-1, 3, 40000})
        EXPECT_EQ(box->RemoveItem(bad), -1) << bad;
    EXPECT_EQ(box->ListCount(), 3);
}

TEST_F(StoreTest, RemovingTheOnlyItemAndClearEmptyTheList)
{
    fill(1);
    box->setListIndex(0);
    box->setPlayIndex(0);
    EXPECT_EQ(box->RemoveItem(0), 0);
    EXPECT_EQ(box->ListIndex(), -1);
    EXPECT_EQ(box->PlayIndex(), -1);
    EXPECT_EQ(box->LastIndex(), -1);

    fill(40);
    box->setPlayIndex(39);
    ASSERT_GT(box->FirstIndex(), 0);
    box->Clear();
    EXPECT_EQ(box->ListCount(), 0);
    EXPECT_EQ(box->FirstIndex(), 0);
    EXPECT_EQ(box->PlayIndex(), -1);
    EXPECT_EQ(box->scrollBar()->Max(), 0);
    EXPECT_TRUE(box->scrollBar()->isHidden());

    QSignalSpy changes(box.get(), &NaluListBox::PropertyChanged);
    log.clear();
    box->Clear();
    EXPECT_EQ(changes.count(), 0);
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(StoreTest, InvalidIndexesReadEmptyAndWriteNothing)
{
    fill(2);
    for (int bad : {-1, 2, 32767}) {
        EXPECT_TRUE(box->Title(bad).isEmpty());
        EXPECT_TRUE(box->Author(bad).isEmpty());
        EXPECT_TRUE(box->URL(bad).isEmpty());
        EXPECT_TRUE(box->StrTime(bad).isEmpty());
        EXPECT_FALSE(box->ItemError(bad));
        box->setTitle(bad, QStringLiteral("x"));
        box->setItemError(bad, true);
    }
    EXPECT_EQ(box->ListCount(), 2);
    EXPECT_EQ(box->Title(1), QStringLiteral("Song 2"));
    EXPECT_EQ(box->IndexFromPoint(10, float(rowY(2))), -1);
    EXPECT_EQ(box->IndexFromPoint(10, float(rowY(1))), 1);
}

TEST_F(StoreTest, IndexSettersIgnoreNoItemAndTheCurrentValue)
{
    QSignalSpy changes(box.get(), &NaluListBox::PropertyChanged);
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
    EXPECT_EQ(box->ListIndex(), 2);
    EXPECT_EQ(changes.count(), 1);
}

TEST_F(StoreTest, HandlerAnswerDecidesTheNewIndex)
{
    fill(5);
    const auto connection = QObject::connect(
        box.get(), &NaluListBox::PlayIndexChanged,
        [](short &, short &newIndex, short &) { newIndex = newIndex == 1 ? 3 : 999; });
    box->setPlayIndex(1);
    EXPECT_EQ(box->PlayIndex(), 3);
    // An answer that names no item leaves nothing playing.
    box->setPlayIndex(2);
    EXPECT_EQ(box->PlayIndex(), -1);
    QObject::disconnect(connection);
}

TEST_F(StoreTest, SettingAnIndexBelowTheViewScrollsItToTheTop)
{
    fill(40);
    box->setPlayIndex(30);
    // 40 items, 24 whole rows: the view stops at 16.
    EXPECT_EQ(box->FirstIndex(), 16);
    box->setListIndex(20);
    EXPECT_EQ(box->FirstIndex(), 16); // already in view
    box->setListIndex(3);
    EXPECT_EQ(box->FirstIndex(), 3);
    EXPECT_EQ(box->LastIndex(), 3 + 25);
}

TEST_F(StoreTest, PropertySettersNotifyOnlyRealChanges)
{
    using Setter = std::function<void()>;
    const QColor other(1, 2, 3);
    const std::pair<QString, Setter> setters[] = {
        {QStringLiteral("BackColor"), [&] { box->setBackColor(other); }},
        {QStringLiteral("ItemBkColor1"), [&] { box->setItemBkColor1(other); }},
        {QStringLiteral("ItemBkColor2"), [&] { box->setItemBkColor2(other); }},
        {QStringLiteral("ItemSelBkColor"), [&] { box->setItemSelBkColor(other); }},
        {QStringLiteral("ItemNorTextColor"), [&] { box->setItemNorTextColor(other); }},
        {QStringLiteral("ItemSelTextColor"), [&] { box->setItemSelTextColor(other); }},
        {QStringLiteral("ItemPlyTextColor"), [&] { box->setItemPlyTextColor(other); }},
        {QStringLiteral("ItemErrTextColor"), [&] { box->setItemErrTextColor(other); }},
        {QStringLiteral("BorderColor"), [&] { box->setBorderColor(other); }},
        {QStringLiteral("ItemHeight"), [&] { box->setItemHeight(20); }},
        {QStringLiteral("Border"), [&] { box->setBorder(false); }},
        {QStringLiteral("BorderWidth"), [&] { box->setBorderWidth(2); }},
        {QStringLiteral("AutoCheckError"), [&] { box->setAutoCheckError(true); }},
    };
    for (const auto &[name, set] : setters) {
        QSignalSpy changes(box.get(), &NaluListBox::PropertyChanged);
        set();
        set(); // the same value again changes nothing
        ASSERT_EQ(changes.count(), 1) << name.toStdString();
        EXPECT_EQ(changes.at(0).at(0).toString(), name);
    }

    // The font always applies and always tells the host.
    QSignalSpy changes(box.get(), &NaluListBox::PropertyChanged);
    box->setFont(box->Font());
    box->setFont(box->Font());
    EXPECT_EQ(changes.count(), 2);

    box->setItemHeight(0);
    EXPECT_EQ(box->ItemHeight(), 1);
    box->setBorderWidth(-4);
    EXPECT_EQ(box->BorderWidth(), 1);
}

TEST_F(StoreTest, PropertiesRoundTripThroughTheStore)
{
    box->ReadProperties(NaluListBox::mainWindowProperties());
    EXPECT_EQ(box->BackColor(), QColor(117, 153, 1));
    EXPECT_EQ(box->ItemSelBkColor(), QColor(255, 255, 0));
    EXPECT_EQ(box->Font().pointSize(), 9);

    box->setItemHeight(22);
    PropertyBag saved;
    box->WriteProperties(saved);
    EXPECT_EQ(saved.values().size(), 14);
    NaluListBox other;
    other.ReadProperties(saved);
    EXPECT_TRUE(other.properties() == box->properties());

    box->InitProperties();
    EXPECT_TRUE(box->properties() == ListBoxProperties::newControl());
    EXPECT_EQ(box->ItemHeight(), 18);
}

TEST_F(StoreTest, AutoCheckErrorMarksItemsWithoutAFile)
{
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    box->AddItem(QStringLiteral("before"), QStringLiteral("x"), QStringLiteral("/no/such/file"));
    EXPECT_FALSE(box->ItemError(0)); // not checked while switched off

    box->setAutoCheckError(true);
    box->AddItem(QStringLiteral("present"), QStringLiteral("x"), file.fileName());
    box->AddItem(QStringLiteral("missing"), QStringLiteral("x"), QStringLiteral("/no/such/file"));
    box->AddItem(QStringLiteral("no address"));
    EXPECT_FALSE(box->ItemError(1));
    EXPECT_TRUE(box->ItemError(2));
    EXPECT_TRUE(box->ItemError(3));

    // Drawing the rows re-checks them.
    box->grab();
    EXPECT_TRUE(box->ItemError(0));
}

} // namespace
