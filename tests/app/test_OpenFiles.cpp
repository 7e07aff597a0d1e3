// Files from the desktop, as the desktop hands them over: `velmor FILE`
// starts the player on a file outside the library, which it adds through
// its music service and plays with the file's own lyric; a second
// `velmor FILE` hands the file to the running player. Both stay in the
// playlist, with their tags, for the next start.
#include "desktop/PlayerSettings.h"
#include "tests/common/MusicdServer.h"
#include "tests/common/TestLibrary.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

namespace {

class OpenFiles : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        // The service leaves the secret for handed-over files in the
        // runtime folder the players read.
        m_oldRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_home.path()));
        ASSERT_TRUE(m_library.build()) << m_library.error().toStdString();
        ASSERT_TRUE(m_service.start({QStringLiteral("--library"), m_library.root(),
                                     QStringLiteral("--index"), m_library.indexFile()}));
        ASSERT_TRUE(m_service.waitForStderr(QStringLiteral("library ready"), 60000));

        m_downloads = m_home.filePath(QStringLiteral("Downloads"));
        ASSERT_TRUE(QDir().mkpath(m_downloads));
        const QString mp3 = m_library.path(QStringLiteral("晴川/夏天/01 爱的故事.mp3"));
        ASSERT_TRUE(QFile::copy(mp3, m_downloads + QStringLiteral("/love.mp3")));
        ASSERT_TRUE(QFile::copy(mp3.chopped(4) + QStringLiteral(".lrc"),
                                m_downloads + QStringLiteral("/love.lrc")));
        ASSERT_TRUE(QFile::copy(m_library.path(QStringLiteral("Lin Harbor/Coast/04 海边晚风.m4a")),
                                m_downloads + QStringLiteral("/sea.m4a")));

        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_env.insert(QStringLiteral("VELMOR_AUDIO_OUTPUT"), QStringLiteral("null"));
        m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.path());
        m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        m_env.insert(QStringLiteral("VELMOR_SERVICE_URL"), m_service.url());
        m_env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                     QStringLiteral("unix:path=") + m_home.filePath(QStringLiteral("no-bus")));
    }
    void TearDown() override
    {
        if (m_player.state() != QProcess::NotRunning) {
            m_player.kill();
            m_player.waitForFinished(10000);
        }
        m_service.stop();
        qputenv("XDG_RUNTIME_DIR", m_oldRuntime);
    }

    // The song whose link the player asked for after the nth file it
    // handed over (from 1), in the service's log lines.
    static QString linkAfterAdd(const QStringList &lines, int nth)
    {
        static const QRegularExpression link(QStringLiteral("getLinks\\.php\\?songId=(\\d+)"));
        int added = 0;
        for (const QString &line : lines) {
            added += line.contains(QStringLiteral("GET /local/add 200"));
            const QRegularExpressionMatch m = link.match(line);
            if (added == nth && m.hasMatch())
                return m.captured(1);
        }
        return QString();
    }

    // That song, once the player has fetched its lyric and its audio; ""
    // when it did not within a while.
    QString playedSong(int nth, const QString &suffix)
    {
        QString id;
        for (int i = 0; i < 300 && id.isEmpty(); ++i)
            id = linkAfterAdd(m_service.waitForLogLine(QStringLiteral("\n"), 100), nth);
        if (id.isEmpty())
            return QString();
        const QString lyric = QStringLiteral("GET /lrc/%1.lrc 200").arg(id);
        const QString audio = QStringLiteral("GET /music/%1.%2").arg(id, suffix);
        if (m_service.waitForLogLine(lyric, 15000).filter(lyric).isEmpty() ||
            m_service.waitForLogLine(audio, 15000).filter(audio).isEmpty())
            return QString();
        return id;
    }

    QTemporaryDir m_home;
    QByteArray m_oldRuntime;
    TestLibrary m_library;
    MusicdServer m_service;
    QString m_downloads;
    QProcessEnvironment m_env;
    QProcess m_player;
};

TEST_F(OpenFiles, CommandLineAndSecondStartAddAndPlayFilesWithTheirLyric)
{
    // As a file manager starts it, in the file's folder with its name.
    m_player.setProcessEnvironment(m_env);
    m_player.setWorkingDirectory(m_downloads);
    m_player.start(QStringLiteral(VELMOR_PLAYER_PATH), {QStringLiteral("love.mp3")});
    ASSERT_TRUE(m_player.waitForStarted(10000));
    const QString first = playedSong(1, QStringLiteral("mp3"));
    ASSERT_FALSE(first.isEmpty()) << m_service.logLines().join(u'\n').toStdString()
                                  << m_player.readAllStandardError().toStdString();

    // A second start elsewhere hands its file over and ends.
    QProcess second;
    second.setProcessEnvironment(m_env);
    second.setWorkingDirectory(m_home.path());
    second.start(QStringLiteral(VELMOR_PLAYER_PATH), {QStringLiteral("Downloads/sea.m4a")});
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    const QString next = playedSong(2, QStringLiteral("m4a"));
    ASSERT_FALSE(next.isEmpty()) << m_service.logLines().join(u'\n').toStdString();
    EXPECT_NE(next, first);

    // Kept with their tags for the next start.
    ::kill(static_cast<pid_t>(m_player.processId()), SIGTERM);
    ASSERT_TRUE(m_player.waitForFinished(30000));
    const PlayerSettingsFile::ReadResult saved =
        PlayerSettingsFile::read(m_home.filePath(QStringLiteral("config/velmor/settings.json")));
    const QList<PlayerSettings::Item> expected{
        {QStringLiteral("爱的故事"), QStringLiteral("晴川"), first},
        {QStringLiteral("海边晚风"), QStringLiteral("Lin Harbor"), next}};
    EXPECT_EQ(saved.settings.playlist, expected);
}

} // namespace
