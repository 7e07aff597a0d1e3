// The keyboard and the screen reader's view of the main window: the
// shortcuts and media keys driving the real play path against the bundled
// service, the tab order, and the accessible names, roles and playlist
// items read back through Qt's accessibility API.
#include "tests/window/MainWindowFixture.h"

#include "controls/image/ImageControl.h"
#include "controls/listbox/PlaylistAccessible.h"
#include "controls/listbox/PlaylistView.h"
#include "playback/MediaPlayer.h"
#include "service/ServiceConfig.h"
#include "tests/common/MusicdServer.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

namespace {

// Catalogue songs of the bundled service (singer 晴川).
const QString kSinger = QStringLiteral("晴川");
const QStringList kSongIds = {QStringLiteral("100001"), QStringLiteral("100002"),
                              QStringLiteral("100003")};

class MainWindowKeysTest : public MusicdSuite<MainWindowFixture>
{
protected:
    void SetUp() override
    {
        ServiceConfig::setHost(service->url());
        MainWindowFixture::SetUp();
        form->setQuitHandler([this](int code) { quitCodes.append(code); });
        QApplication::setActiveWindow(form.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
        // The window starts in the search box, which keeps Space, the
        // arrows and Delete for its text; the window's own keys are
        // pressed elsewhere.
        form->focusHolder->setFocus();
        player = form->mediaPlayer;
        list = form->playlistView;
    }
    void TearDown() override
    {
        MainWindowFixture::TearDown();
        ServiceConfig::setHost(ServiceConfig::defaultHost());
    }

    void fillPlaylist()
    {
        for (int i = 0; i < kSongIds.size(); ++i)
            list->addItem(QStringLiteral("歌 %1").arg(i), kSinger, kSongIds.at(i), QString());
    }

    bool waitForState(int state)
    {
        return QTest::qWaitFor([&] { return player->playState() == state; }, 10000);
    }

    // Presses keys where the focus is, as the user would.
    void press(QKeyCombination keys)
    {
        QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : form.get();
        // With the text given, QTest need not map the key to a character
        // (it has none for the media keys).
        QTest::sendKeyEvent(QTest::Click, target, keys.key(), keyText(keys),
                            keys.keyboardModifiers());
    }

    static QString keyText(QKeyCombination keys)
    {
        if (keys.keyboardModifiers() != Qt::NoModifier)
            return QString();
        if (keys.key() == Qt::Key_Space)
            return QStringLiteral(" ");
        if (keys.key() == Qt::Key_Return)
            return QStringLiteral("\r");
        return QString();
    }

    MediaPlayer *player = nullptr;
    PlaylistView *list = nullptr;
    QList<int> quitCodes;
};

TEST_F(MainWindowKeysTest, TransportKeysAndMediaKeysDriveThePlayer)
{
    fillPlaylist();
    // Space with nothing loaded starts the playlist: the marked item, or
    // the first while none is marked.
    list->setPlayIndex(1);
    press(Qt::Key_Space);
    ASSERT_TRUE(waitForState(MediaPlayer::kStatePlaying));
    EXPECT_TRUE(player->url().contains(kSongIds.at(1)));
    press(Qt::Key_Space);
    EXPECT_TRUE(waitForState(MediaPlayer::kStatePaused));
    press(Qt::Key_Space);
    EXPECT_TRUE(waitForState(MediaPlayer::kStatePlaying));

    press(Qt::CTRL | Qt::Key_Right);
    EXPECT_TRUE(QTest::qWaitFor([&] { return list->playIndex() == 2; }, 10000));
    press(Qt::CTRL | Qt::Key_Left);
    EXPECT_TRUE(QTest::qWaitFor([&] { return list->playIndex() == 1; }, 10000));
    ASSERT_TRUE(waitForState(MediaPlayer::kStatePlaying));

    // Right and Left seek five seconds from where the track is.
    ASSERT_TRUE(QTest::qWaitFor([&] { return player->currentMedia().duration() > 12; }, 5000));
    player->controls().setCurrentPosition(2.0);
    QSignalSpy seeks(form->playerState(), &PlayerState::seeked);
    press(Qt::Key_Right);
    ASSERT_EQ(seeks.size(), 1);
    EXPECT_NEAR(seeks.at(0).at(0).toDouble(), 7.0, 0.6);
    press(Qt::Key_Left);
    ASSERT_EQ(seeks.size(), 2);
    EXPECT_NEAR(seeks.at(1).at(0).toDouble(), 2.0, 0.6);

    // The media keys.
    press(Qt::Key_MediaTogglePlayPause);
    EXPECT_TRUE(waitForState(MediaPlayer::kStatePaused));
    press(Qt::Key_MediaPlay);
    EXPECT_TRUE(waitForState(MediaPlayer::kStatePlaying));
    press(Qt::Key_MediaNext);
    EXPECT_TRUE(QTest::qWaitFor([&] { return list->playIndex() == 2; }, 10000));
    press(Qt::Key_MediaPrevious);
    EXPECT_TRUE(QTest::qWaitFor([&] { return list->playIndex() == 1; }, 10000));
    ASSERT_TRUE(waitForState(MediaPlayer::kStatePlaying));
    press(Qt::Key_MediaStop);
    EXPECT_TRUE(waitForState(MediaPlayer::kStateStopped));
}

TEST_F(MainWindowKeysTest, SearchBoxKeepsItsKeysAndCtrlFReachesIt)
{
    fillPlaylist();
    press(Qt::CTRL | Qt::Key_F);
    EXPECT_EQ(QApplication::focusWidget(), form->searchEdit);
    EXPECT_TRUE(form->searchEdit->text().isEmpty()); // the prompt went away
    QTest::keyClicks(form->searchEdit, QStringLiteral("a b"));
    QTest::keyClick(form->searchEdit, Qt::Key_Left);
    QTest::keyClick(form->searchEdit, Qt::Key_Delete);
    // Space typed, Left moved the cursor, Delete deleted in the text; nothing played.
    EXPECT_EQ(form->searchEdit->text(), QStringLiteral("a "));
    EXPECT_EQ(list->listCount(), 3);
    EXPECT_EQ(player->playState(), MediaPlayer::kStateUndefined);
}

TEST_F(MainWindowKeysTest, VolumeDeleteAndQuitKeys)
{
    const int start = form->volumeSlider->value();
    press(Qt::CTRL | Qt::Key_Up);
    EXPECT_EQ(form->volumeSlider->value(), start + 5);
    // The knob moves with the slider: 8 twips per percent.
    EXPECT_NEAR(form->volumeKnob->leftTwips(), (start + 5) * 8, 15);
    for (int i = 0; i < 30; ++i)
        press(Qt::CTRL | Qt::Key_Down);
    EXPECT_EQ(form->volumeSlider->value(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return player->settings().volume() == 0; }, 2000));

    // Delete removes the selected item (the playlist menu's command).
    fillPlaylist();
    press(Qt::Key_Delete); // nothing selected: nothing removed
    EXPECT_EQ(list->listCount(), 3);
    list->setListIndex(2);
    press(Qt::Key_Delete);
    ASSERT_EQ(list->listCount(), 2);
    EXPECT_EQ(list->url(0), kSongIds.at(0));
    EXPECT_EQ(list->url(1), kSongIds.at(1));

    press(Qt::CTRL | Qt::Key_Q);
    EXPECT_EQ(quitCodes, QList<int>{0});
}

TEST_F(MainWindowKeysTest, PlaylistKeysAndTabOrder)
{
    fillPlaylist();
    form->searchEdit->setFocus();
    const QList<QWidget *> order = {form->searchButton,   form->resultsView, form->playlistView,
                                    form->previousButton, form->playButton,  form->nextButton};
    for (QWidget *expected : order) {
        press(Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), expected)
            << (QApplication::focusWidget()
                    ? QApplication::focusWidget()->objectName().toStdString()
                    : "none")
            << " instead of " << expected->objectName().toStdString();
    }
    // Back to the playlist: Down selects, Return plays the selection.
    form->playlistView->setFocus();
    press(Qt::Key_Down);
    press(Qt::Key_Down);
    EXPECT_EQ(list->listIndex(), 1);
    press(Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return list->playIndex() == 1; }, 10000));
    ASSERT_TRUE(waitForState(MediaPlayer::kStatePlaying));

    // A focused image button clicks on Return: next.
    form->nextButton->setFocus();
    press(Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return list->playIndex() == 2; }, 10000));
}

TEST_F(MainWindowKeysTest, ScreenReadersSeeNamedButtonsAndThePlaylistItems)
{
    struct Named
    {
        QWidget *widget;
        const char *name;
        QAccessible::Role role;
    };
    const Named named[] = {{form->previousButton, "上一首", QAccessible::Button},
                           {form->playButton, "播放", QAccessible::Button},
                           {form->nextButton, "下一首", QAccessible::Button},
                           {form->searchImageButton, "搜索", QAccessible::Button},
                           {form->minimiseButton, "最小化", QAccessible::Button},
                           {form->closeButton, "关闭", QAccessible::Button},
                           {form->playModeButton, "播放模式", QAccessible::Button},
                           {form->volumeKnob, "音量", QAccessible::Slider},
                           {form->seekKnob, "播放进度", QAccessible::Slider}};
    for (const Named &n : named) {
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(n.widget);
        ASSERT_NE(a, nullptr) << n.name;
        EXPECT_EQ(a->text(QAccessible::Name), QString::fromUtf8(n.name));
        EXPECT_FALSE(a->text(QAccessible::Description).isEmpty()) << n.name;
        EXPECT_EQ(a->role(), n.role) << n.name;
    }
    // The press action clicks the button.
    QSignalSpy nextClicks(form->nextButton, &ImageControl::clicked);
    QAccessibleInterface *next = QAccessible::queryAccessibleInterface(form->nextButton);
    ASSERT_NE(next->actionInterface(), nullptr);
    next->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(nextClicks.size(), 1);

    // The playlist: its items, the selected one and the playing one.
    QAccessibleInterface *playlist = QAccessible::queryAccessibleInterface(list);
    ASSERT_NE(playlist, nullptr);
    EXPECT_EQ(playlist->role(), QAccessible::List);
    EXPECT_EQ(playlist->childCount(), 0);
    fillPlaylist();
    ASSERT_EQ(playlist->childCount(), 3);
    for (int i = 0; i < 3; ++i) {
        QAccessibleInterface *item = playlist->child(i);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->role(), QAccessible::ListItem);
        EXPECT_EQ(item->text(QAccessible::Name), QStringLiteral("歌 %1 - 晴川").arg(i));
        EXPECT_EQ(playlist->indexOfChild(item), i);
        EXPECT_EQ(item->parent(), playlist);
        EXPECT_FALSE(item->state().selected);
    }
    list->setListIndex(2);
    form->setCurrentItem(0);
    EXPECT_TRUE(playlist->child(2)->state().selected);
    EXPECT_FALSE(playlist->child(0)->state().selected);
    EXPECT_EQ(playlist->child(0)->text(QAccessible::Description),
              PlaylistAccessible::kPlayingDescription);
    EXPECT_TRUE(playlist->child(2)->text(QAccessible::Description).isEmpty());
    EXPECT_TRUE(playlist->text(QAccessible::Description).contains(QStringLiteral("歌 0 - 晴川")));

    // Items that went away are no longer offered.
    list->removeItem(2);
    EXPECT_EQ(playlist->childCount(), 2);
    EXPECT_EQ(playlist->child(2), nullptr);
}

} // namespace
