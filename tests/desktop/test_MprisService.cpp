// The media-player object of a window published on a private bus: changes
// made in the window (the play-mode boxes and menu, the volume, the
// playlist) reach D-Bus clients as PropertiesChanged, with the values a
// client then reads.
#include "tests/window/MainWindowFixture.h"

#include "controls/listbox/PlaylistView.h"
#include "desktop/MprisService.h"
#include "player/PlayerState.h"
#include "tests/common/PrivateBus.h"
#include "window/PopupMenus.h"

#include <QAction>
#include <QCheckBox>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QSlider>
#include <QTest>

namespace {

class MprisServiceTest : public MainWindowFixture
{
protected:
    void SetUp() override
    {
        if (!PrivateBus::available())
            GTEST_SKIP() << "dbus-daemon is missing (scripts/setup-deps.sh installs it)";
        ASSERT_TRUE(bus.start());
        MainWindowFixture::SetUp();
        service = new MprisService(form->playerState());
        const QDBusConnection own = bus.connect(QStringLiteral("player"));
        QString error;
        ASSERT_TRUE(service->publish(own, &error)) << error.toStdString();
        client = std::make_unique<QDBusConnection>(bus.connect(QStringLiteral("client")));
        ASSERT_TRUE(recorder.listen(*client, MprisService::kServiceName));
    }
    void TearDown() override
    {
        MainWindowFixture::TearDown();
        QDBusConnection::disconnectFromBus(QStringLiteral("player"));
        client.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    }

    // Waits for the property to be announced with `value`.
    bool announced(const QString &property, const QVariant &value)
    {
        return QTest::qWaitFor([&] { return recorder.lastValue(property) == value; }, 5000);
    }

    PrivateBus bus;
    MprisService *service = nullptr; // owned by the window's player state
    std::unique_ptr<QDBusConnection> client;
    MprisSignalRecorder recorder;
};

TEST_F(MprisServiceTest, WindowChangesAreAnnouncedOnTheBus)
{
    EXPECT_TRUE(client->interface()->isServiceRegistered(MprisService::kServiceName));

    form->randomBox->click();
    EXPECT_TRUE(announced(QStringLiteral("Shuffle"), true));
    EXPECT_EQ(recorder.lastValue(QStringLiteral("LoopStatus")), QVariant()); // still Playlist
    form->singleRepeatBox->click();
    EXPECT_TRUE(announced(QStringLiteral("LoopStatus"), QStringLiteral("Track")));
    EXPECT_EQ(recorder.lastValue(QStringLiteral("Shuffle")), false);
    form->popupMenus->listLoopAction->trigger();
    EXPECT_TRUE(announced(QStringLiteral("LoopStatus"), QStringLiteral("Playlist")));
    form->listLoopBox->click(); // unticked: no mode at all
    EXPECT_TRUE(announced(QStringLiteral("LoopStatus"), QStringLiteral("None")));

    form->volumeSlider->setValue(40);
    EXPECT_TRUE(announced(QStringLiteral("Volume"), 0.4));

    form->playlistView->addItem(QStringLiteral("t"), QStringLiteral("s"), QStringLiteral("1"));
    EXPECT_TRUE(announced(QStringLiteral("CanGoNext"), true));
    EXPECT_TRUE(announced(QStringLiteral("CanPlay"), true));
    form->playlistView->clear();
    EXPECT_TRUE(announced(QStringLiteral("CanGoNext"), false));

    // Changes within one turn of the event loop go out as one signal.
    const qsizetype before = recorder.changes.size();
    form->volumeSlider->setValue(10);
    form->randomBox->click();
    ASSERT_TRUE(announced(QStringLiteral("Volume"), 0.1));
    EXPECT_EQ(recorder.changes.size(), before + 1);
    EXPECT_EQ(recorder.changes.last().value(QStringLiteral("Shuffle")), true);

    // Set from the bus side, read in the window.
    service->setLoopStatus(QStringLiteral("Track"));
    EXPECT_TRUE(form->singleRepeatBox->isChecked());
    EXPECT_TRUE(form->popupMenus->singleRepeatAction->isChecked());
    service->setShuffle(true);
    EXPECT_TRUE(form->randomBox->isChecked());
    EXPECT_FALSE(form->singleRepeatBox->isChecked());
    service->setVolume(2.5); // out of range: held at 100 %
    EXPECT_EQ(form->volumeSlider->value(), 100);
}

// The service on the player's state alone, with no window: what a client
// sets reaches the state, what the state does reaches the client, and the
// client's commands come out as the state's requests.
TEST(MprisOnTheStateAlone, DrivesAndObservesThePlayerState)
{
    if (!PrivateBus::available())
        GTEST_SKIP() << "dbus-daemon is missing (scripts/setup-deps.sh installs it)";
    PrivateBus bus;
    ASSERT_TRUE(bus.start());
    {
        PlayerState state;
        auto *service = new MprisService(&state);
        QString error;
        ASSERT_TRUE(service->publish(bus.connect(QStringLiteral("alone")), &error))
            << error.toStdString();
        QDBusConnection client = bus.connect(QStringLiteral("alone-client"));
        MprisSignalRecorder recorder;
        ASSERT_TRUE(recorder.listen(client, MprisService::kServiceName));
        // Calls go out without waiting: the service answers on this thread.
        const auto call = [&](const QString &method) {
            client.asyncCall(QDBusMessage::createMethodCall(
                MprisService::kServiceName, MprisService::kObjectPath,
                MprisService::kPlayerInterface, method));
        };
        const auto set = [&](const QString &property, const QVariant &value) {
            QDBusMessage message = QDBusMessage::createMethodCall(
                MprisService::kServiceName, MprisService::kObjectPath,
                QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"));
            message << MprisService::kPlayerInterface << property
                    << QVariant::fromValue(QDBusVariant(value));
            client.asyncCall(message);
        };

        set(QStringLiteral("Volume"), 0.3);
        EXPECT_TRUE(QTest::qWaitFor([&] { return state.volume() == 30; }, 5000));
        set(QStringLiteral("LoopStatus"), QStringLiteral("Track"));
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return state.playMode() == PlayMode::SingleRepeat; }, 5000));

        QList<PlaylistItem> items(3, PlaylistItem{QStringLiteral("t"), {}, {}, {}, {}, false});
        state.playlist().append(items);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return recorder.lastValue(QStringLiteral("CanGoNext")) == QVariant(true); },
            5000));
        state.setPlayback(3, true); // the media player's "playing"
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return recorder.lastValue(QStringLiteral("PlaybackStatus")) ==
                       QVariant(QStringLiteral("Playing"));
            },
            5000));

        QList<int> asked;
        QObject::connect(&state, &PlayerState::playRequested,
                         [&](int index, PlayerState::PlayEntry) { asked.append(index); });
        QList<PlayerState::Transport> transport;
        QObject::connect(
            &state, &PlayerState::transportRequested,
            [&](PlayerState::Transport command, double) { transport.append(command); });
        state.setCurrentIndex(1);
        call(QStringLiteral("Next"));
        call(QStringLiteral("PlayPause"));
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return !asked.isEmpty() && !transport.isEmpty(); }, 5000));
        EXPECT_EQ(asked, QList<int>{2});
        EXPECT_EQ(transport, QList<PlayerState::Transport>{PlayerState::Transport::Toggle});
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("alone"));
    QDBusConnection::disconnectFromBus(QStringLiteral("alone-client"));
}

} // namespace
