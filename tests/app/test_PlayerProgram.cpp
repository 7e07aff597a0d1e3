// The player program as a user starts it: its command line works without a
// display, and a second start hands over to the running player.
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

namespace {

struct PlayerRun
{
    int exitCode = -1; // -1: crashed or still running
    QString out;
    QString err;
};

// An environment without any display: a program that tried to open one
// would abort.
QProcessEnvironment withoutDisplay()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    return env;
}

PlayerRun runPlayer(const QStringList &args, const QProcessEnvironment &env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VELMOR_PLAYER_PATH), args);
    PlayerRun run;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return run;
    }
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.out = QString::fromUtf8(p.readAllStandardOutput());
    run.err = QString::fromUtf8(p.readAllStandardError());
    return run;
}

TEST(PlayerProgram, CommandLineAnswersWithoutADisplay)
{
    struct Case
    {
        QStringList args;
        int exitCode;
        const char *inOut;
        const char *inErr;
    };
    const QList<Case> cases{
        {{QStringLiteral("--help")}, 0, "Usage: velmor [options]", ""},
        {{QStringLiteral("--version")}, 0, "velmor 1.", ""},
        {{QStringLiteral("--bogus")}, 2, "", "Unknown option 'bogus'"},
        {{QStringLiteral("--service"), QStringLiteral("ftp://127.0.0.1/")}, 2, "", "is refused"},
    };
    for (const Case &c : cases) {
        const PlayerRun run = runPlayer(c.args, withoutDisplay());
        EXPECT_EQ(run.exitCode, c.exitCode) << c.args.join(u' ').toStdString() << "\n"
                                            << run.err.toStdString();
        EXPECT_TRUE(run.out.contains(QString::fromUtf8(c.inOut))) << run.out.toStdString();
        EXPECT_TRUE(run.err.contains(QString::fromUtf8(c.inErr))) << run.err.toStdString();
    }
}

class SecondStart : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_runtime.isValid());
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_env.insert(QStringLiteral("VELMOR_AUDIO_OUTPUT"), QStringLiteral("null"));
        m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        m_env.insert(QStringLiteral("XDG_CONFIG_HOME"),
                     m_runtime.filePath(QStringLiteral("config")));
        m_env.insert(QStringLiteral("VELMOR_SERVICE_URL"), QStringLiteral("http://127.0.0.1:1"));
    }

    void TearDown() override
    {
        for (QProcess *p : m_players) {
            p->kill();
            p->waitForFinished(10000);
            delete p;
        }
    }

    QProcess *startPlayer(const QStringList &args = {})
    {
        auto *p = new QProcess;
        m_players.append(p);
        p->setProcessEnvironment(m_env);
        p->start(QStringLiteral(VELMOR_PLAYER_PATH), args);
        EXPECT_TRUE(p->waitForStarted(10000));
        return p;
    }

    // Waits until a player listens for later starts.
    bool waitForSocket()
    {
        for (int i = 0; i < 300; ++i) {
            QLocalSocket probe;
            probe.connectToServer(m_runtime.filePath(QStringLiteral("velmor-instance")));
            if (probe.waitForConnected(1000))
                return true;
            QThread::msleep(100);
        }
        return false;
    }

    QTemporaryDir m_runtime;
    QProcessEnvironment m_env;
    QList<QProcess *> m_players;
};

TEST_F(SecondStart, HandsOverAndEndsUnlessANewInstanceIsAsked)
{
    QProcess *first = startPlayer();
    ASSERT_TRUE(waitForSocket());

    // The second start needs no display to hand over.
    QProcessEnvironment noDisplay = withoutDisplay();
    noDisplay.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    const PlayerRun second =
        runPlayer({QStringLiteral("--service"), QStringLiteral("http://127.0.0.1:2")}, noDisplay);
    EXPECT_EQ(second.exitCode, 0) << second.err.toStdString();
    EXPECT_EQ(first->state(), QProcess::Running);

    // --new-instance opens a player of its own: it is still running a
    // while later, as is the first.
    QProcess *own = startPlayer({QStringLiteral("--new-instance")});
    EXPECT_FALSE(own->waitForFinished(2000)) << own->readAllStandardError().constData();
    EXPECT_EQ(first->state(), QProcess::Running);

    // The first ends as a termination signal ends it, with 0.
    ::kill(static_cast<pid_t>(first->processId()), SIGTERM);
    ASSERT_TRUE(first->waitForFinished(30000));
    EXPECT_EQ(first->exitCode(), 0);
}

TEST_F(SecondStart, ACrashedPlayersSocketDoesNotBlockTheNextStart)
{
    QProcess *crashed = startPlayer();
    ASSERT_TRUE(waitForSocket());
    crashed->kill(); // SIGKILL: the socket file stays behind
    ASSERT_TRUE(crashed->waitForFinished(10000));
    ASSERT_TRUE(QFile::exists(m_runtime.filePath(QStringLiteral("velmor-instance"))));

    QProcess *next = startPlayer();
    EXPECT_FALSE(next->waitForFinished(2000)) << next->readAllStandardError().constData();
    ASSERT_TRUE(waitForSocket());
    EXPECT_EQ(runPlayer({}, m_env).exitCode, 0);
    EXPECT_EQ(next->state(), QProcess::Running);
}

} // namespace
