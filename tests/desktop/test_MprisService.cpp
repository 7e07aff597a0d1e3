// The media-player object of a window published on a private bus: changes
// made in the window (the play-mode boxes and menu, the volume, the
// playlist) reach D-Bus clients as PropertiesChanged, with the values a
// client then reads.
#include "tests/window/MainWindowFixture.h"

#include "controls/listbox/PlaylistView.h"
#include "desktop/MprisService.h"
#include "tests/common/PrivateBus.h"
#include "window/PopupMenus.h"

#include <QAction>
#include <QCheckBox>
#include <QDBusConnectionInterface>
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
        service = new MprisService(form.get());
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
    MprisService *service = nullptr; // owned by the window
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

} // namespace
