// What a newcomer does first, with the real executables on a virtual X
// display: start the bundled service and the player on it, wait for the
// window, type a search, double-click the first result, see the clock run
// and close the window. No notification area exists on the virtual display,
// so closing ends the program through the exit command: status 0 and no
// process left behind. Screenshots of the playing window are kept in the
// build tree (tests/hardening/smoke-*.png). A second run shows that the
// window's place and the volume set with the keyboard come back after a
// restart; it ends the player through SIGTERM, which the player routes to
// the same exit command.
//
// Without Xvfb, xdotool or ImageMagick's import the test skips itself.
#include "desktop/PlayerSettings.h"
#include "tests/common/MusicdServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>

namespace {

// Where a screenshot of the playing window goes.
const QString kArtefactDir = QStringLiteral(VELMOR_SMOKE_ARTEFACT_DIR);
// The window's title before anything plays, and the prefix displayTimer gives
// it once a track plays.
const QString kStartTitle = QStringLiteral("Velmor音乐播放器 Version%1.%2.%3")
                                .arg(VELMOR_VERSION_MAJOR)
                                .arg(VELMOR_VERSION_MINOR)
                                .arg(VELMOR_VERSION_PATCH);
const QString kPlayingPrefix = QStringLiteral("正在播放：");

// Main-window positions in pixels at 96 dpi (the display is started at 96).
const QPoint kSearchBox(100, 70);           // searchEdit at (16, 54), 440 x 32
const QPoint kFirstRow(200, 128);           // resultsView at (16, 96): below its header
const QPoint kCloseButton(957, 20);         // closeButton at (942, 7), 30 x 26
const QRect kStatusLine(426, 524, 330, 28); // statusLabel: "position/length status"

class Smoke : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char *tool : {"Xvfb", "xdotool", "import"}) {
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                GTEST_SKIP() << tool << " is missing (scripts/setup-deps.sh installs it)";
        }
        // -displayfd picks a free display number and writes it to stdout;
        // -noreset keeps the server as it is between clients (the readiness
        // probe below is one).
        xvfb.setProgram(QStringLiteral("Xvfb"));
        xvfb.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"),
                           QStringLiteral("-screen"), QStringLiteral("0"),
                           QStringLiteral("1280x800x24"), QStringLiteral("-dpi"),
                           QStringLiteral("96"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                           QStringLiteral("-noreset")});
        xvfb.start();
        ASSERT_TRUE(xvfb.waitForStarted(10000));
        QElapsedTimer t;
        t.start();
        while (!xvfb.canReadLine() && t.elapsed() < 15000)
            xvfb.waitForReadyRead(200);
        ASSERT_TRUE(xvfb.canReadLine()) << "Xvfb named no display";
        display = QLatin1Char(':') + QString::fromLatin1(xvfb.readLine()).trimmed();
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display);
        env.remove(QStringLiteral("XAUTHORITY"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("VELMOR_AUDIO_OUTPUT"), QStringLiteral("null"));
        env.remove(QStringLiteral("VELMOR_SERVICE_URL"));
        // The player remembers its state: keep it out of the user's folder.
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome.path());
        // The display answers before anything is started on it.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return !xdotool({QStringLiteral("getdisplaygeometry")}).isEmpty() ||
                       xvfb.state() != QProcess::Running;
            },
            15000));
        ASSERT_EQ(xvfb.state(), QProcess::Running)
            << "Xvfb on " << display.toStdString()
            << " ended: " << xvfb.readAllStandardError().toStdString();
        ASSERT_TRUE(service.start());
    }

    void TearDown() override
    {
        if (player.state() != QProcess::NotRunning) {
            player.kill();
            player.waitForFinished(5000);
        }
        service.stop();
        if (xvfb.state() != QProcess::NotRunning) {
            xvfb.terminate();
            if (!xvfb.waitForFinished(5000)) {
                xvfb.kill();
                xvfb.waitForFinished(5000);
            }
        }
    }

    // Runs an X tool on the display; its stdout, trimmed.
    QString x(const QString &program, const QStringList &args)
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(program, args);
        if (!p.waitForFinished(15000)) {
            p.kill();
            p.waitForFinished();
            return QString();
        }
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }
    QString xdotool(const QStringList &args) { return x(QStringLiteral("xdotool"), args); }

    QString windowName() { return xdotool({QStringLiteral("getwindowname"), window}); }

    void click(const QPoint &at, int repeat = 1)
    {
        xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window,
                 QString::number(at.x()), QString::number(at.y()), QStringLiteral("click"),
                 QStringLiteral("--repeat"), QString::number(repeat), QStringLiteral("1")});
    }

    QImage shot(const QString &name, const QRect &crop = QRect())
    {
        const QString file = QDir(kArtefactDir).filePath(name);
        QStringList args{QStringLiteral("-window"),
                         crop.isNull() ? QStringLiteral("root") : window};
        if (!crop.isNull())
            args << QStringLiteral("-crop")
                 << QStringLiteral("%1x%2+%3+%4")
                        .arg(crop.width())
                        .arg(crop.height())
                        .arg(crop.x())
                        .arg(crop.y());
        x(QStringLiteral("import"), args << file);
        return QImage(file);
    }

    // Processes whose parent is `pid`.
    static QList<qint64> childrenOf(qint64 pid)
    {
        QList<qint64> children;
        for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            bool numeric = false;
            const qint64 child = entry.toLongLong(&numeric);
            if (!numeric)
                continue;
            QFile stat(QStringLiteral("/proc/%1/stat").arg(child));
            if (!stat.open(QIODevice::ReadOnly))
                continue;
            const QByteArray line = stat.readAll();
            // "pid (comm) state ppid ...": comm may hold spaces, so read
            // after its closing bracket.
            const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
            if (fields.size() > 1 && fields.at(1).toLongLong() == pid)
                children << child;
        }
        return children;
    }

    // Starts the player on the display and finds its window by its title.
    void startPlayer()
    {
        player.setProcessEnvironment(env);
        player.setProgram(QStringLiteral(VELMOR_PLAYER_PATH));
        player.setArguments(
            {QStringLiteral("--service"), service.url(), QStringLiteral("--new-instance")});
        player.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        player.start();
        ASSERT_TRUE(player.waitForStarted(10000));

        // The window, by its title.
        ASSERT_TRUE(QTest::qWaitFor(
                        [&] {
                            window =
                                xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                         QStringLiteral("--name"),
                                         QLatin1Char('^') + kStartTitle + QLatin1Char('$')})
                                    .section(QLatin1Char('\n'), 0, 0);
                            return !window.isEmpty() || player.state() != QProcess::Running;
                        },
                        60000) &&
                    !window.isEmpty())
            << "no window titled " << kStartTitle.toStdString() << " on " << display.toStdString()
            << "; player " << (player.state() == QProcess::Running ? "running" : "ended")
            << ", windows: "
            << xdotool({QStringLiteral("search"), QStringLiteral("--name"), QStringLiteral(".")})
                   .toStdString();
    }

    // Ends the player through its exit command (SIGTERM): status 0.
    void endPlayer()
    {
        ::kill(pid_t(player.processId()), SIGTERM);
        ASSERT_TRUE(player.waitForFinished(15000));
        EXPECT_EQ(player.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(player.exitCode(), 0);
    }

    QProcess xvfb;
    QProcess player;
    MusicdServer service;
    QProcessEnvironment env;
    QTemporaryDir configHome;
    QString display;
    QString window;
};

} // namespace

TEST_F(Smoke, SearchPlayCloseAndExitOnAVirtualDisplay)
{
    ASSERT_NO_FATAL_FAILURE(startPlayer());

    // Search (click the box, which drops its prompt, type, Enter), then
    // double-click the first result; the title then names the track. A
    // slow start may swallow the first keys: the whole step is repeated
    // until something plays (a finished search empties the box again).
    xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
    const bool playing = QTest::qWaitFor(
        [&] {
            click(kSearchBox);
            xdotool({QStringLiteral("key"), QStringLiteral("ctrl+a")});
            xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"),
                     QStringLiteral("starlight")});
            xdotool({QStringLiteral("key"), QStringLiteral("Return")});
            QTest::qWait(1000);
            click(kFirstRow, 2);
            return QTest::qWaitFor([&] { return windowName().startsWith(kPlayingPrefix); }, 3000);
        },
        60000);
    if (!playing)
        shot(QStringLiteral("smoke-playing.png"));
    ASSERT_TRUE(playing) << "title: " << windowName().toStdString();
    EXPECT_TRUE(windowName().contains(QStringLiteral("--"))); // title--singer
    // The service's WAV plays on the light path: FFmpeg stays unmapped. Its
    // pages, link, lyrics and picture are plain http: no network library.
    {
        QFile maps(QStringLiteral("/proc/%1/maps").arg(player.processId()));
        ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
        const QByteArray mapped = maps.readAll();
        for (const char *library : {"/libavformat.so", "/libavcodec.so", "/libmpv.so",
                                    "/libQt6Network.so", "/libvelmor-network.so"})
            EXPECT_FALSE(mapped.contains(library)) << library;
    }

    // The status line's clock runs: two looks a while apart differ.
    const QImage before = shot(QStringLiteral("smoke-clock-1.png"), kStatusLine);
    const bool ticking = QTest::qWaitFor(
        [&] { return shot(QStringLiteral("smoke-clock-2.png"), kStatusLine) != before; }, 10000);
    EXPECT_FALSE(before.isNull());
    EXPECT_TRUE(ticking);
    shot(QStringLiteral("smoke-playing.png"));

    // Closing the window, with no notification area to hide it in, is the
    // exit command: stop, clean up, status 0, nothing left running.
    const QList<qint64> children = childrenOf(player.processId());
    click(kCloseButton);
    ASSERT_TRUE(player.waitForFinished(15000));
    EXPECT_EQ(player.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(player.exitCode(), 0);
    for (qint64 child : children)
        EXPECT_FALSE(QFile::exists(QStringLiteral("/proc/%1").arg(child))) << child;
}

// What an idle window holds: its own cut of the CJK face alone (a font
// family list in the skin once made Qt load the full system faces for the
// bold header and the edit boxes: 10 MiB more at rest for glyphs the cut
// holds), and no network library before the first request.
TEST_F(Smoke, TheIdleWindowMapsNoSystemFaceAndNoNetworkLibrary)
{
    ASSERT_NO_FATAL_FAILURE(startPlayer());
    QTest::qWait(1000); // the first paint, and anything put off until after it
    QFile maps(QStringLiteral("/proc/%1/maps").arg(player.processId()));
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    const QByteArray mapped = maps.readAll();
    EXPECT_TRUE(mapped.contains("VelmorSansCJK-Regular.otf"));
    for (const char *face : {"NotoSansCJK-Regular.ttc", "NotoSansCJK-Bold.ttc",
                             "NotoSerifCJK-Regular.ttc", "NotoSerifCJK-Bold.ttc"})
        EXPECT_FALSE(mapped.contains(face)) << face;
    EXPECT_FALSE(mapped.contains("libQt6Network"));
    EXPECT_FALSE(mapped.contains("libvelmor-network"));
    endPlayer();
}

TEST_F(Smoke, WindowPlaceAndVolumeSurviveARestart)
{
    const QString settingsPath = configHome.filePath(QStringLiteral("velmor/settings.json"));
    ASSERT_NO_FATAL_FAILURE(startPlayer());
    // Move the window and turn the volume down with the keyboard.
    xdotool({QStringLiteral("windowmove"), QStringLiteral("--sync"), window, QStringLiteral("123"),
             QStringLiteral("77")});
    xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
    for (int i = 0; i < 3; ++i)
        xdotool({QStringLiteral("key"), QStringLiteral("ctrl+Down")});
    // The change is written a moment after it happens, before any exit.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return PlayerSettingsFile::read(settingsPath).settings.volume == 60; }, 10000))
        << "volume in the file: " << PlayerSettingsFile::read(settingsPath).settings.volume;
    ASSERT_NO_FATAL_FAILURE(endPlayer());
    const PlayerSettings saved = PlayerSettingsFile::read(settingsPath).settings;
    EXPECT_EQ(saved.windowPosition, QPoint(123, 77));

    // The next run opens where the window was, with the same volume.
    ASSERT_NO_FATAL_FAILURE(startPlayer());
    const QString geometry = xdotool({QStringLiteral("getwindowgeometry"), window});
    EXPECT_TRUE(geometry.contains(QStringLiteral("Position: 123,77"))) << geometry.toStdString();
    endPlayer();
    EXPECT_EQ(PlayerSettingsFile::read(settingsPath).settings.volume, 60);
    EXPECT_EQ(PlayerSettingsFile::read(settingsPath).settings.windowPosition, QPoint(123, 77));
}
