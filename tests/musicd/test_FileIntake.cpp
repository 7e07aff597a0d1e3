// velmor-musicd taking files this user's player hands over: only from
// loopback with the run's secret, only regular audio files, folders walked;
// the files then are songs like the library's (link, lyric, audio) and stay
// through a restart of the service.
#include "musicd/MusicService.h"
#include "ownservice/FileIntakeToken.h"
#include "tests/common/MusicdServer.h"
#include "tests/common/TestLibrary.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>

namespace {

class FileIntake : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_runtime.isValid());
        m_oldRuntime = qgetenv("XDG_RUNTIME_DIR");
        // The service leaves its secret here, and the test reads it.
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
        ASSERT_TRUE(m_library.build()) << m_library.error().toStdString();
        // Handed-over files live outside the library's root.
        m_handed = QDir(m_library.root()).filePath(QStringLiteral("../handed"));
        ASSERT_TRUE(QDir().mkpath(m_handed + QStringLiteral("/inner")));
        const QString song = m_library.path(QStringLiteral("晴川/夏天/01 爱的故事.mp3"));
        ASSERT_TRUE(QFile::copy(song, m_handed + QStringLiteral("/a.mp3")));
        ASSERT_TRUE(QFile::copy(song.chopped(4) + QStringLiteral(".lrc"),
                                m_handed + QStringLiteral("/a.lrc")));
        ASSERT_TRUE(QFile::copy(song, m_handed + QStringLiteral("/inner/b.mp3")));
        startService();
    }
    void TearDown() override
    {
        m_service.stop();
        qputenv("XDG_RUNTIME_DIR", m_oldRuntime);
    }

    void startService()
    {
        ASSERT_TRUE(m_service.start({QStringLiteral("--library"), m_library.root(),
                                     QStringLiteral("--index"), m_library.indexFile()}));
        ASSERT_TRUE(m_service.waitForStderr(QStringLiteral("library ready"), 60000))
            << m_service.stderrText().toStdString();
        m_port = QUrl(m_service.url()).port();
    }

    httplib::Result get(const std::string &target)
    {
        httplib::Client client("127.0.0.1", m_port);
        client.set_read_timeout(30, 0);
        return client.Get(target);
    }

    std::string addTarget(const QString &path, const QByteArray &token)
    {
        return "/local/add?token=" + token.toStdString() +
               "&path=" + QFile::encodeName(path).toHex().toStdString();
    }

    // The song IDs of an answer's rows.
    static QStringList idsIn(const std::string &page)
    {
        QStringList ids;
        static const QRegularExpression row(QStringLiteral("ddSong\\(\"(\\d+)\""));
        for (const QRegularExpressionMatch &m : row.globalMatch(QString::fromStdString(page)))
            ids.append(m.captured(1));
        return ids;
    }

    QTemporaryDir m_runtime;
    QByteArray m_oldRuntime;
    TestLibrary m_library;
    QString m_handed;
    MusicdServer m_service;
    int m_port = 0;
};

TEST_F(FileIntake, TakesOnlyWhatTheUsersOwnPlayerHandsOver)
{
    const QByteArray token = FileIntakeToken::read(m_port);
    ASSERT_EQ(token.size(), FileIntakeToken::kLength);
    struct stat st
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(FileIntakeToken::path(m_port)).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const QString fifo = m_handed + QStringLiteral("/pipe.mp3");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QByteArray wrong(FileIntakeToken::kLength, 'a');
    const struct
    {
        std::string target;
        int status;
    } cases[] = {
        {"/local/add?path=" + QFile::encodeName(m_handed).toHex().toStdString(), 403},
        {addTarget(m_handed, wrong), 403},
        {addTarget(m_handed, token), 200},
        {addTarget(QStringLiteral("/etc/passwd"), token), 404},
        {addTarget(fifo, token), 404},
        {addTarget(QStringLiteral("relative/a.mp3"), token), 400},
        {"/local/add?token=" + token.toStdString() + "&path=2f6574zz", 400},
    };
    for (const auto &c : cases) {
        const httplib::Result answer = get(c.target);
        ASSERT_TRUE(answer) << c.target;
        EXPECT_EQ(answer->status, c.status) << c.target;
    }
    // The secret never reaches the log.
    EXPECT_TRUE(m_service.waitForLogLine(QStringLiteral("GET /local/add 404"), 5000)
                    .filter(QString::fromLatin1(token))
                    .isEmpty());

    // Only a peer on this computer's loopback is heard at all.
    for (const char *peer : {"127.0.0.1", "127.3.4.5", "::1", "::ffff:127.0.0.1"})
        EXPECT_TRUE(musicd::MusicService::isLoopbackPeer(peer)) << peer;
    for (const char *peer : {"192.0.2.2", "10.0.0.1", "::ffff:10.0.0.1", "", "fe80::1"})
        EXPECT_FALSE(musicd::MusicService::isLoopbackPeer(peer)) << peer;
}

TEST_F(FileIntake, HandedFilesAreSongsThatStayThroughARestart)
{
    const QByteArray token = FileIntakeToken::read(m_port);
    // The folder: its two audio files, walked in name order (the FIFO
    // and the lyric are no songs).
    const httplib::Result folder = get(addTarget(m_handed, token));
    ASSERT_TRUE(folder);
    ASSERT_EQ(folder->status, 200);
    const QStringList ids = idsIn(folder->body);
    ASSERT_EQ(ids.size(), 2) << folder->body;
    EXPECT_TRUE(QString::fromStdString(folder->body).contains(QStringLiteral("爱的故事")));
    // The same file again is the same song.
    const httplib::Result one = get(addTarget(m_handed + QStringLiteral("/a.mp3"), token));
    ASSERT_TRUE(one);
    EXPECT_EQ(idsIn(one->body), QStringList{ids.first()});

    const auto servesSong = [&](const QString &id) {
        const std::string n = id.toStdString();
        const httplib::Result link = get("/app/link/getLinks.php?songId=" + n);
        const httplib::Result lyric = get("/lrc/" + n + ".lrc");
        const httplib::Result audio = get("/music/" + n + ".mp3");
        if (!link || !lyric || !audio)
            return ::testing::AssertionFailure() << "no answer";
        if (link->body.find("\\/music\\/" + n) == std::string::npos)
            return ::testing::AssertionFailure() << "link: " << link->body;
        const QString firstLine = TestLibrary::timedLines(QStringLiteral("mp3")).first();
        if (lyric->status != 200 || !QString::fromStdString(lyric->body).contains(firstLine))
            return ::testing::AssertionFailure() << "lyric " << lyric->status << lyric->body;
        if (audio->status != 200 ||
            audio->body.size() != size_t(QFileInfo(m_handed + QStringLiteral("/a.mp3")).size()))
            return ::testing::AssertionFailure() << "audio " << audio->status;
        return ::testing::AssertionSuccess();
    };
    EXPECT_TRUE(servesSong(ids.first()));

    // A restart's first pass keeps them; a file that is gone then goes.
    m_service.stop();
    ASSERT_TRUE(QFile::remove(m_handed + QStringLiteral("/inner/b.mp3")));
    startService();
    EXPECT_TRUE(servesSong(ids.first()));
    const httplib::Result gone = get("/app/link/getLinks.php?songId=" + ids.last().toStdString());
    ASSERT_TRUE(gone);
    EXPECT_EQ(gone->body.find("/music/"), std::string::npos) << gone->body;
}

} // namespace
