// What a screen reader is told while the playlist changes: accessibility is
// switched on as the desktop's screen-reader bridge switches it on, and an
// update handler installed through Qt's accessibility API records every
// event the control sends, with what the item it names reads at that moment.
#include "controls/listbox/PlaylistAccessible.h"
#include "controls/listbox/PlaylistView.h"

#include <QAccessible>
#include <QAccessibleInterface>
#include <QApplication>
#include <QMouseEvent>
#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include <gtest/gtest.h>

#include <memory>

namespace {

struct Event
{
    QAccessible::Event type;
    int child; // -1: the list itself
    QString description;
};

QList<Event> g_events;

void record(QAccessibleEvent *event)
{
    QAccessibleInterface *target = event->accessibleInterface();
    g_events.append({event->type(), event->child(),
                     target ? target->text(QAccessible::Description) : QString()});
}

class PlaylistAccessibleEvents : public testing::Test
{
protected:
    void SetUp() override
    {
        QPlatformAccessibility *platform =
            QGuiApplicationPrivate::platformIntegration()->accessibility();
        ASSERT_NE(platform, nullptr);
        QAccessible::installUpdateHandler(&record);
        platform->setActive(true);
        ASSERT_TRUE(QAccessible::isActive());

        box = std::make_unique<PlaylistView>();
        box->resize(248, 450);
        box->show();
        QList<PlaylistView::NewItem> items;
        for (int i = 0; i < 40; ++i)
            items.append(
                {QStringLiteral("歌 %1").arg(i), QStringLiteral("晴川"), QString(), QString()});
        box->appendItems(items);
        g_events.clear();
    }
    void TearDown() override
    {
        box.reset();
        QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(false);
        QAccessible::installUpdateHandler(nullptr);
        g_events.clear();
    }

    // The items whose description changed since the last call, in order,
    // each with what it then read; the list's own changes apart.
    QList<std::pair<int, QString>> itemDescriptionChanges()
    {
        QList<std::pair<int, QString>> changes;
        listDescriptionChanges = 0;
        for (const Event &e : std::as_const(g_events)) {
            if (e.type != QAccessible::DescriptionChanged)
                continue;
            if (e.child < 0)
                ++listDescriptionChanges;
            else
                changes.append({e.child, e.description});
        }
        g_events.clear();
        return changes;
    }

    void doubleClickRow(int item)
    {
        const QPointF pos(60, box->rowRect(item).center().y());
        for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                        QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
            const Qt::MouseButtons held =
                type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
            QMouseEvent event(type, pos, box->mapToGlobal(pos), Qt::LeftButton, held,
                              Qt::NoModifier);
            QApplication::sendEvent(box.get(), &event);
        }
    }

    std::unique_ptr<PlaylistView> box;
    int listDescriptionChanges = 0;
};

TEST_F(PlaylistAccessibleEvents, ThePlayingItemsMovesAreAnnounced)
{
    const QString playing = PlaylistAccessible::kPlayingDescription;
    using Changes = QList<std::pair<int, QString>>;
    struct Step
    {
        const char *what;
        std::function<void()> action;
        Changes expected;
    };
    const QList<Step> steps{
        {"the first playing item", [&] { box->setPlayIndex(3); }, Changes{{3, playing}}},
        {"the next one", [&] { box->setPlayIndex(4); }, Changes{{3, QString()}, {4, playing}}},
        {"the same one again", [&] { box->setPlayIndex(4); }, Changes{}},
        {"an item below the view", [&] { box->setPlayIndex(35); },
         Changes{{4, QString()}, {35, playing}}},
        // The view now shows items 16 to 39.
        {"a double click", [&] { doubleClickRow(20); }, Changes{{35, QString()}, {20, playing}}},
        {"a selection is not a play", [&] { box->setListIndex(22); }, Changes{}},
        {"no item", [&] { box->setPlayIndex(400); }, Changes{}},
    };
    for (const Step &step : steps) {
        step.action();
        const Changes changes = itemDescriptionChanges();
        EXPECT_EQ(changes, step.expected) << step.what;
        // The list's description names the playing item: it changes with it.
        EXPECT_EQ(listDescriptionChanges, step.expected.isEmpty() ? 0 : 1) << step.what;
    }
}

TEST_F(PlaylistAccessibleEvents, AHandlersAnswerIsWhatIsAnnounced)
{
    QObject::connect(box.get(), &PlaylistView::playIndexChanged,
                     [](short &, short &newIndex, short &) { newIndex = 9; });
    box->setPlayIndex(2);
    EXPECT_EQ(itemDescriptionChanges(),
              (QList<std::pair<int, QString>>{{9, PlaylistAccessible::kPlayingDescription}}));
    EXPECT_EQ(box->playIndex(), 9);
}

TEST_F(PlaylistAccessibleEvents, RemovingThePlayingItemAndAppendingAreAnnounced)
{
    box->setPlayIndex(6);
    itemDescriptionChanges();

    // The item now at 6 is another one, not playing.
    box->removeItem(6);
    EXPECT_EQ(itemDescriptionChanges(), (QList<std::pair<int, QString>>{{6, QString()}}));
    EXPECT_EQ(box->playIndex(), -1);

    // A bulk append is one reorder and one change of the list's description
    // (its item count), however many items it brings.
    QList<PlaylistView::NewItem> items(500, PlaylistView::NewItem{QStringLiteral("新歌"),
                                                                  QStringLiteral("晴川"), QString(),
                                                                  QString()});
    box->appendItems(items);
    int reorders = 0;
    for (const Event &e : std::as_const(g_events))
        reorders += e.type == QAccessible::ObjectReorder ? 1 : 0;
    EXPECT_EQ(reorders, 1);
    EXPECT_TRUE(itemDescriptionChanges().isEmpty());
    EXPECT_EQ(listDescriptionChanges, 1);
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(box.get())
                    ->text(QAccessible::Description)
                    .startsWith(QStringLiteral("539 首歌曲")));
}

} // namespace
