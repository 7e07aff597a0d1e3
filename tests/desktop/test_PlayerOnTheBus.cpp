// The real player process on a private session bus: driven over D-Bus as
// the desktop's media keys and tools such as dbus-send and playerctl drive
// it (play, pause, next, seek, the play mode both ways, volume, quit), its
// metadata after a play, the signals it sends, and what it remembers across
// a restart. Also: without a bus it runs as before, and a hostile settings
// file gives the first-run state, one warning and an untouched file.
#include "desktop/PlayerSettings.h"
#include "tests/common/MusicdServer.h"
#include "tests/common/PrivateBus.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>

namespace {

const QString kService = QStringLiteral("org.mpris.MediaPlayer2.velmor");
const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kRoot = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

// Catalogue songs of the bundled service; singer 晴川 has a picture.
const QList<PlayerSettings::Item> kSongs = {
    {QStringLiteral("歌一"), QStringLiteral("晴川"), QStringLiteral("100001")},
    {QStringLiteral("歌二"), QStringLiteral("晴川"), QStringLiteral("100002")},
    {QStringLiteral("歌三"), QStringLiteral("晴川"), QStringLiteral("100003")}};

class PlayerOnTheBus : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!PrivateBus::available())
            GTEST_SKIP() << "dbus-daemon is missing (scripts/setup-deps.sh installs it)";
        ASSERT_TRUE(bus.start());
        ASSERT_TRUE(service.start());
        client = std::make_unique<QDBusConnection>(bus.connect(QStringLiteral("test")));
        ASSERT_TRUE(client->isConnected());
        settingsPath = configHome.filePath(QStringLiteral("velmor/settings.json"));
    }
    void TearDown() override
    {
        if (player.state() != QProcess::NotRunning) {
            player.kill();
            player.waitForFinished(5000);
        }
        client.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("test"));
    }

    // Starts the player; busAddress "" gives it no bus at all.
    void startPlayer(const QString &busAddress)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("VELMOR_AUDIO_OUTPUT"), QStringLiteral("null"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome.path());
        env.remove(QStringLiteral("DISPLAY"));
        if (busAddress.isEmpty())
            env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       QStringLiteral("unix:path=") +
                           configHome.filePath(QStringLiteral("no-bus")));
        else
            env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
        player.setProcessEnvironment(env);
        player.setProgram(QStringLiteral(VELMOR_PLAYER_PATH));
        // Tests run side by side: each player is one of its own.
        player.setArguments(
            {QStringLiteral("--service"), service.url(), QStringLiteral("--new-instance")});
        player.start();
        ASSERT_TRUE(player.waitForStarted(10000));
    }

    void startPlayerOnTheBus()
    {
        startPlayer(bus.address());
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return client->interface()->isServiceRegistered(kService) ||
                       player.state() != QProcess::Running;
            },
            30000));
        ASSERT_TRUE(client->interface()->isServiceRegistered(kService))
            << player.readAllStandardError().toStdString();
        // Signals are matched by name, so one subscription covers restarts.
        if (!listening) {
            listening = recorder.listen(*client, kService);
            ASSERT_TRUE(listening);
        }
    }

    QVariant property(const QString &interface, const QString &name)
    {
        QDBusInterface properties(kService, kPath, kProperties, *client);
        const QDBusReply<QVariant> reply = properties.call(QStringLiteral("Get"), interface, name);
        EXPECT_TRUE(reply.isValid()) << name.toStdString();
        return reply.value();
    }
    QVariant playerProperty(const QString &name) { return property(kPlayer, name); }

    void setPlayerProperty(const QString &name, const QVariant &value)
    {
        QDBusInterface properties(kService, kPath, kProperties, *client);
        const QDBusMessage reply = properties.call(QStringLiteral("Set"), kPlayer, name,
                                                   QVariant::fromValue(QDBusVariant(value)));
        EXPECT_NE(reply.type(), QDBusMessage::ErrorMessage) << reply.errorMessage().toStdString();
    }

    QVariantMap metadata()
    {
        QVariantMap map;
        playerProperty(QStringLiteral("Metadata")).value<QDBusArgument>() >> map;
        return map;
    }
    QString trackId()
    {
        return metadata().value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>().path();
    }

    void call(const QString &method, const QVariantList &args = {},
              const QString &interface = QStringLiteral("org.mpris.MediaPlayer2.Player"))
    {
        QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, interface, method);
        message.setArguments(args);
        const QDBusMessage reply = client->call(message, QDBus::Block, 10000);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage)
            << method.toStdString() << ": " << reply.errorMessage().toStdString();
    }

    // dbus-send, as a shell script or a key binding would call the player.
    int dbusSend(const QString &method)
    {
        QProcess send;
        send.start(QStringLiteral("dbus-send"),
                   {QStringLiteral("--bus=") + bus.address(), QStringLiteral("--print-reply"),
                    QStringLiteral("--dest=") + kService, kPath,
                    kPlayer + QLatin1Char('.') + method});
        if (!send.waitForFinished(15000))
            return -1;
        return send.exitStatus() == QProcess::NormalExit ? send.exitCode() : -1;
    }

    bool waitFor(const QString &name, const QVariant &value, int ms = 15000)
    {
        return QTest::qWaitFor([&] { return playerProperty(name) == value; }, ms);
    }

    void quitOverTheBus()
    {
        call(QStringLiteral("Quit"), {}, kRoot);
        ASSERT_TRUE(player.waitForFinished(15000));
        EXPECT_EQ(player.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(player.exitCode(), 0);
    }

    void writeSettings(const PlayerSettings &s)
    {
        ASSERT_TRUE(PlayerSettingsFile::write(settingsPath, s));
    }

    static QString trackPath(const QString &songId)
    {
        return QStringLiteral("/org/velmor/track/") + songId;
    }

    PrivateBus bus;
    MusicdServer service;
    QTemporaryDir configHome;
    QString settingsPath;
    QProcess player;
    std::unique_ptr<QDBusConnection> client;
    MprisSignalRecorder recorder;
    bool listening = false;
};

TEST_F(PlayerOnTheBus, DrivenOverDBusAndRememberedAcrossARestart)
{
    PlayerSettings start;
    start.playlist = kSongs;
    writeSettings(start);
    startPlayerOnTheBus();

    // Who we are, and the idle state.
    EXPECT_EQ(property(kRoot, QStringLiteral("Identity")).toString(), QStringLiteral("Velmor"));
    EXPECT_EQ(property(kRoot, QStringLiteral("CanRaise")).toBool(), true);
    EXPECT_EQ(playerProperty(QStringLiteral("PlaybackStatus")).toString(),
              QStringLiteral("Stopped"));
    EXPECT_EQ(playerProperty(QStringLiteral("LoopStatus")).toString(), QStringLiteral("Playlist"));
    EXPECT_EQ(playerProperty(QStringLiteral("Shuffle")).toBool(), false);
    EXPECT_DOUBLE_EQ(playerProperty(QStringLiteral("Volume")).toDouble(), 0.75);
    EXPECT_EQ(playerProperty(QStringLiteral("CanGoNext")).toBool(), true);
    EXPECT_EQ(playerProperty(QStringLiteral("CanPause")).toBool(), false);
    EXPECT_TRUE(metadata().isEmpty());

    // Play through dbus-send: the restored playlist plays from its first
    // item (none was marked as playing).
    ASSERT_EQ(dbusSend(QStringLiteral("Play")), 0);
    ASSERT_TRUE(waitFor(QStringLiteral("PlaybackStatus"), QStringLiteral("Playing")));
    // The length comes with the loaded track, the picture once it is fetched.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const QVariantMap now = metadata();
            return now.value(QStringLiteral("mpris:length")).toLongLong() > 0 &&
                   now.contains(QStringLiteral("mpris:artUrl"));
        },
        15000))
        << "metadata keys: " << metadata().keys().join(u' ').toStdString();
    const QVariantMap meta = metadata();
    EXPECT_EQ(trackId(), trackPath(kSongs.at(0).songId));
    EXPECT_EQ(meta.value(QStringLiteral("xesam:title")).toString(), kSongs.at(0).title);
    EXPECT_EQ(meta.value(QStringLiteral("xesam:artist")).toStringList(),
              QStringList{kSongs.at(0).singer});
    EXPECT_TRUE(meta.value(QStringLiteral("mpris:artUrl")).toString().startsWith(service.url()))
        << meta.value(QStringLiteral("mpris:artUrl")).toString().toStdString();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return recorder.lastValue(QStringLiteral("PlaybackStatus")) ==
                   QStringLiteral("Playing");
        },
        5000));
    // The announced metadata catches up with the length once it is known.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return recorder.lastValue(QStringLiteral("Metadata"))
                       .toMap()
                       .value(QStringLiteral("mpris:length"))
                       .toLongLong() > 0;
        },
        5000));
    EXPECT_EQ(recorder.lastValue(QStringLiteral("CanPause")), true);

    // Pause, and the toggle back.
    call(QStringLiteral("Pause"));
    EXPECT_TRUE(waitFor(QStringLiteral("PlaybackStatus"), QStringLiteral("Paused")));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return recorder.lastValue(QStringLiteral("PlaybackStatus")) == QStringLiteral("Paused");
        },
        5000));
    ASSERT_EQ(dbusSend(QStringLiteral("PlayPause")), 0);
    EXPECT_TRUE(waitFor(QStringLiteral("PlaybackStatus"), QStringLiteral("Playing")));

    // Seek and SetPosition announce where they went.
    ASSERT_TRUE(waitFor(QStringLiteral("CanSeek"), true));
    call(QStringLiteral("SetPosition"),
         {QVariant::fromValue(QDBusObjectPath(trackId())), qlonglong(3000000)});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder.seeks.isEmpty(); }, 5000));
    EXPECT_NEAR(recorder.seeks.last(), 3000000, 100000);
    call(QStringLiteral("Seek"), {qlonglong(2000000)});
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.seeks.size() == 2; }, 5000));
    EXPECT_NEAR(recorder.seeks.last(), 5000000, 600000);
    // A position for another track is ignored.
    call(QStringLiteral("SetPosition"),
         {QVariant::fromValue(QDBusObjectPath(trackPath(QStringLiteral("999")))), qlonglong(0)});

    // Next plays the following item; the metadata follows.
    ASSERT_EQ(dbusSend(QStringLiteral("Next")), 0);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return trackId() == trackPath(kSongs.at(1).songId); }, 15000));
    EXPECT_TRUE(waitFor(QStringLiteral("PlaybackStatus"), QStringLiteral("Playing")));
    EXPECT_EQ(recorder.seeks.size(), 2);

    // The play mode from the bus: Shuffle, then LoopStatus, read back.
    setPlayerProperty(QStringLiteral("Shuffle"), true);
    EXPECT_TRUE(waitFor(QStringLiteral("Shuffle"), true));
    EXPECT_EQ(playerProperty(QStringLiteral("LoopStatus")).toString(), QStringLiteral("Playlist"));
    setPlayerProperty(QStringLiteral("LoopStatus"), QStringLiteral("Track"));
    EXPECT_TRUE(waitFor(QStringLiteral("LoopStatus"), QStringLiteral("Track")));
    EXPECT_EQ(playerProperty(QStringLiteral("Shuffle")).toBool(), false);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return recorder.lastValue(QStringLiteral("LoopStatus")) == QStringLiteral("Track"); },
        5000));
    setPlayerProperty(QStringLiteral("Volume"), 0.4);
    EXPECT_TRUE(waitFor(QStringLiteral("Volume"), 0.4));

    call(QStringLiteral("Stop"));
    EXPECT_TRUE(waitFor(QStringLiteral("PlaybackStatus"), QStringLiteral("Stopped")));
    quitOverTheBus();

    // What the window held is in the file ...
    const PlayerSettingsFile::ReadResult saved = PlayerSettingsFile::read(settingsPath);
    ASSERT_TRUE(saved.warning.isEmpty()) << saved.warning.toStdString();
    EXPECT_EQ(saved.settings.volume, 40);
    EXPECT_EQ(saved.settings.playMode, PlayMode::SingleRepeat);
    EXPECT_EQ(saved.settings.playlist, kSongs);
    EXPECT_EQ(saved.settings.playingIndex, 1);
    EXPECT_TRUE(saved.settings.windowPosition.has_value());

    // ... and in the next run: same volume and mode, and play goes on
    // with the item that was playing.
    startPlayerOnTheBus();
    EXPECT_DOUBLE_EQ(playerProperty(QStringLiteral("Volume")).toDouble(), 0.4);
    EXPECT_EQ(playerProperty(QStringLiteral("LoopStatus")).toString(), QStringLiteral("Track"));
    EXPECT_EQ(playerProperty(QStringLiteral("PlaybackStatus")).toString(),
              QStringLiteral("Stopped"));
    call(QStringLiteral("Play"));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return trackId() == trackPath(kSongs.at(1).songId); }, 15000));
    quitOverTheBus();
}

// playerctl, as the desktop's media keys and status bars drive players:
// it finds the player by name, plays, pauses and steps it, reads the
// status and the title, and sets the play mode.
TEST_F(PlayerOnTheBus, DrivenByPlayerctl)
{
    if (QStandardPaths::findExecutable(QStringLiteral("playerctl")).isEmpty())
        GTEST_SKIP() << "playerctl is missing (scripts/setup-deps.sh installs it)";
    PlayerSettings start;
    start.playlist = kSongs;
    start.playMode = PlayMode::None;
    writeSettings(start);
    startPlayerOnTheBus();

    struct Ran
    {
        int exitCode = -1;
        QString out;
    };
    const auto playerctl = [&](const QStringList &args) {
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        run.setProcessEnvironment(env);
        run.start(QStringLiteral("playerctl"),
                  QStringList{QStringLiteral("-p"), QStringLiteral("velmor")} + args);
        Ran ran;
        if (run.waitForFinished(15000) && run.exitStatus() == QProcess::NormalExit)
            ran.exitCode = run.exitCode();
        ran.out = QString::fromUtf8(run.readAllStandardOutput()).trimmed();
        return ran;
    };
    // A command, then what playerctl reads back, until it shows or time runs out.
    const auto reads = [&](const QStringList &query, const QString &expected) {
        return QTest::qWaitFor([&] { return playerctl(query).out == expected; }, 15000);
    };
    const QStringList status{QStringLiteral("status")};
    const QStringList title{QStringLiteral("metadata"), QStringLiteral("xesam:title")};

    EXPECT_EQ(playerctl(status).out, QStringLiteral("Stopped"));
    EXPECT_EQ(playerctl({QStringLiteral("loop")}).out, QStringLiteral("None"));

    struct Step
    {
        QStringList command;
        QStringList query;
        QString expected;
    };
    const QList<Step> steps{
        {{QStringLiteral("play")}, status, QStringLiteral("Playing")},
        {{}, title, kSongs.at(0).title},
        {{QStringLiteral("pause")}, status, QStringLiteral("Paused")},
        {{QStringLiteral("next")}, title, kSongs.at(1).title},
        {{}, status, QStringLiteral("Playing")},
        {{QStringLiteral("loop"), QStringLiteral("Playlist")},
         {QStringLiteral("loop")},
         QStringLiteral("Playlist")},
        {{QStringLiteral("shuffle"), QStringLiteral("On")},
         {QStringLiteral("shuffle")},
         QStringLiteral("On")},
    };
    for (const Step &step : steps) {
        if (!step.command.isEmpty()) {
            EXPECT_EQ(playerctl(step.command).exitCode, 0) << step.command.join(u' ').toStdString();
        }
        EXPECT_TRUE(reads(step.query, step.expected))
            << step.query.join(u' ').toStdString() << " reads "
            << playerctl(step.query).out.toStdString() << ", not " << step.expected.toStdString();
    }
    // The modes reached the window, whose own state is what the bus shows.
    EXPECT_EQ(playerProperty(QStringLiteral("Shuffle")).toBool(), true);
    EXPECT_EQ(playerProperty(QStringLiteral("LoopStatus")).toString(), QStringLiteral("Playlist"));
    quitOverTheBus();
    const PlayerSettingsFile::ReadResult saved = PlayerSettingsFile::read(settingsPath);
    EXPECT_EQ(saved.settings.playMode, PlayMode::Random);
}

TEST_F(PlayerOnTheBus, HostileSettingsFileGivesTheFirstRunAndIsLeftAlone)
{
    // 100,000 items: more than the playlist can hold.
    QByteArray hostile = R"({"version":1,"volume":5,"playlist":[)";
    for (int i = 0; i < 100000; ++i)
        hostile += QByteArray(i ? "," : "") + R"({"title":"t","singer":"s","songId":"1"})";
    hostile += "]}";
    QDir().mkpath(QFileInfo(settingsPath).absolutePath());
    {
        QFile file(settingsPath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(hostile);
    }
    startPlayerOnTheBus();
    EXPECT_DOUBLE_EQ(playerProperty(QStringLiteral("Volume")).toDouble(), 0.75);
    EXPECT_EQ(playerProperty(QStringLiteral("CanGoNext")).toBool(), false);
    setPlayerProperty(QStringLiteral("Volume"), 0.2); // a change, which is not saved
    EXPECT_TRUE(waitFor(QStringLiteral("Volume"), 0.2));
    quitOverTheBus();

    const QStringList errors = QString::fromUtf8(player.readAllStandardError())
                                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    EXPECT_EQ(errors.filter(QStringLiteral("settings")).size(), 1)
        << errors.join(u'\n').toStdString();
    QFile file(settingsPath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), hostile);
}

TEST_F(PlayerOnTheBus, WithoutABusThePlayerRunsAndSaysSoOnce)
{
    startPlayer(QString());
    // Still running a while later, then ends through the exit command.
    QTest::qWait(3000);
    ASSERT_EQ(player.state(), QProcess::Running) << player.readAllStandardError().toStdString();
    ::kill(pid_t(player.processId()), SIGTERM);
    ASSERT_TRUE(player.waitForFinished(15000));
    EXPECT_EQ(player.exitCode(), 0);
    const QStringList errors = QString::fromUtf8(player.readAllStandardError())
                                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    EXPECT_EQ(errors.filter(QStringLiteral("player controls are off")).size(), 1)
        << errors.join(u'\n').toStdString();
    // A first run without a settings file writes one on exit.
    EXPECT_TRUE(QFile::exists(settingsPath));
}

} // namespace
