// velmor-musicd serving a generated music library, driven as users drive
// it: velmor-cli for search, link, lyrics and picture, plain HTTP for the
// audio bytes, hostile requests and the command line.
#include "tests/common/CliRun.h"
#include "tests/common/MusicdServer.h"
#include "tests/common/TestLibrary.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <gtest/gtest.h>
#include <httplib.h>

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class LibraryServer : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_library = new TestLibrary;
        ASSERT_TRUE(s_library->build()) << s_library->error().toStdString();
        s_server = new MusicdServer;
        ASSERT_TRUE(s_server->start({QStringLiteral("--library"), s_library->root(),
                                     QStringLiteral("--index"), s_library->indexFile()}));
        ASSERT_TRUE(s_server->waitForStderr(QStringLiteral("library ready"), 60000))
            << s_server->stderrText().toStdString();
    }
    static void TearDownTestSuite()
    {
        delete s_server;
        s_server = nullptr;
        delete s_library;
        s_library = nullptr;
    }

    static CliRun cli(const QStringList &args)
    {
        QProcess p;
        p.start(QStringLiteral(VELMOR_CLI_PATH),
                QStringList{QStringLiteral("--service"), s_server->url()} + args);
        CliRun run;
        EXPECT_TRUE(p.waitForFinished(60000));
        run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        run.out = QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        run.err = QString::fromUtf8(p.readAllStandardError());
        return run;
    }

    // The search rows' fields (ID, title, singer, 《album》) by title.
    static QMap<QString, QStringList> searchRows(const QString &words)
    {
        QMap<QString, QStringList> rows;
        for (const QString &line : cli({QStringLiteral("search"), words}).out) {
            const QStringList fields = line.split(u'\t');
            if (fields.size() == 4)
                rows.insert(fields.at(1), fields);
        }
        return rows;
    }

    static TestLibrary::Track trackOf(const QString &title)
    {
        for (const TestLibrary::Track &t : s_library->tracks()) {
            if (t.title == title)
                return t;
        }
        return {};
    }

    static httplib::Client client()
    {
        const QUrl url(s_server->url());
        httplib::Client c(url.host().toStdString(), url.port());
        c.set_read_timeout(30, 0);
        return c;
    }

    static TestLibrary *s_library;
    static MusicdServer *s_server;
};

TestLibrary *LibraryServer::s_library = nullptr;
MusicdServer *LibraryServer::s_server = nullptr;

TEST_F(LibraryServer, SearchFindsEveryTrackByShortAndLongWords)
{
    struct Case
    {
        QString words;
        QStringList titles;
    };
    const QList<Case> cases{
        {QStringLiteral("爱"), {QStringLiteral("爱的故事")}},
        {QStringLiteral("晴川"), {QStringLiteral("爱的故事"), QStringLiteral("晴川之歌")}},
        {QStringLiteral("roads"),
         {QStringLiteral("Starlight Road"), QStringLiteral("Paper Roads")}},
        {QStringLiteral("旧时光"), {QStringLiteral("旧时光")}},
        {QStringLiteral("tom jerry"), {QStringLiteral("Starlight Road")}},
        {QStringLiteral("secret"), {}},
    };
    for (const Case &c : cases) {
        const QMap<QString, QStringList> rows = searchRows(c.words);
        EXPECT_EQ(rows.size(), c.titles.size()) << c.words.toStdString();
        for (const QString &title : c.titles)
            EXPECT_TRUE(rows.contains(title))
                << c.words.toStdString() << " " << title.toStdString();
    }
    // Every track, with the singer and album the index says.
    for (const TestLibrary::Track &t : s_library->tracks()) {
        const QMap<QString, QStringList> rows = searchRows(t.title);
        ASSERT_TRUE(rows.contains(t.title)) << t.title.toStdString();
        EXPECT_EQ(rows.value(t.title).at(2), QString(t.artist).remove(u'&').remove(u'\''))
            << t.title.toStdString();
    }
}

TEST_F(LibraryServer, LinksLyricsAndPicturesThroughTheCli)
{
    const QMap<QString, std::string> kAudioTypes{
        {QStringLiteral("mp3"), "audio/mpeg"}, {QStringLiteral("flac"), "audio/flac"},
        {QStringLiteral("ogg"), "audio/ogg"},  {QStringLiteral("opus"), "audio/ogg"},
        {QStringLiteral("m4a"), "audio/mp4"},  {QStringLiteral("wav"), "audio/wav"}};
    for (const TestLibrary::Track &t : s_library->tracks()) {
        const QStringList row = searchRows(t.title).value(t.title);
        ASSERT_EQ(row.size(), 4) << t.title.toStdString();
        const QString id = row.at(0);

        // The link is the file itself, byte for byte, with its own suffix.
        const CliRun link = cli({QStringLiteral("link"), id, t.artist, t.title});
        ASSERT_EQ(link.exitCode, 0) << t.title.toStdString();
        ASSERT_EQ(link.out.size(), 1);
        const QString suffix = QFileInfo(t.relativePath).suffix();
        EXPECT_TRUE(link.out.at(0).contains(QStringLiteral("/music/%1.%2").arg(id, suffix)))
            << link.out.at(0).toStdString();
        httplib::Client http = client();
        const auto audio = http.Get(QUrl(link.out.at(0)).path().toStdString());
        ASSERT_TRUE(audio);
        EXPECT_EQ(audio->status, 200);
        EXPECT_EQ(audio->get_header_value("Content-Type"), kAudioTypes.value(suffix))
            << t.title.toStdString();
        EXPECT_EQ(QByteArray::fromStdString(audio->body),
                  fileBytes(s_library->path(t.relativePath)))
            << t.title.toStdString();

        const CliRun lyrics = cli({QStringLiteral("lyrics"), id, t.artist, t.title});
        EXPECT_EQ(lyrics.exitCode, 0);
        if (t.lyrics) {
            ASSERT_FALSE(lyrics.out.isEmpty()) << t.title.toStdString();
            for (const QString &line : lyrics.out)
                EXPECT_TRUE(line.startsWith(u'[')) << line.toStdString();
        } else {
            EXPECT_EQ(lyrics.out, QStringList{QStringLiteral("暂无歌词")}) << t.title.toStdString();
        }
    }

    // Timed lyrics keep their times: the GBK sidecar of an MP3, the ©lyr
    // atom of an M4A and the USLT frame of a WAV.
    for (const char *title : {"爱的故事", "海边晚风", "Quiet Water"}) {
        const QString suffix = QFileInfo(trackOf(QString::fromUtf8(title)).relativePath).suffix();
        const QString id =
            searchRows(QString::fromUtf8(title)).value(QString::fromUtf8(title)).at(0);
        const QStringList lines =
            cli({QStringLiteral("lyrics"), id, QStringLiteral("a"), QStringLiteral("b")}).out;
        const QStringList expected = TestLibrary::timedLines(suffix);
        EXPECT_TRUE(lines.contains(QStringLiteral("[00:00.50]") + expected.at(0))) << title;
        EXPECT_TRUE(lines.contains(QStringLiteral("[00:01.50]") + expected.at(1))) << title;
    }
    const QString songId =
        searchRows(QStringLiteral("晴川之歌")).value(QStringLiteral("晴川之歌")).at(0);
    const QStringList plain =
        cli({QStringLiteral("lyrics"), songId, QStringLiteral("a"), QStringLiteral("b")}).out;
    ASSERT_EQ(plain.size(), TestLibrary::plainEmbeddedLines().size());
    EXPECT_TRUE(plain.at(0).startsWith(QStringLiteral("[00:00.00]")));
    EXPECT_TRUE(plain.at(1).endsWith(TestLibrary::plainEmbeddedLines().at(1)));

    // Singers with a picture file or an embedded cover get a JPEG: an
    // artist.png, an Ogg cover, an MP4 cover and an album's cover.jpg.
    const std::pair<const char *, QColor> pictures[] = {{"晴川", Qt::red},
                                                        {"Tom & Jerry", Qt::blue},
                                                        {"Lin Harbor", Qt::green},
                                                        {"Mira Sand", Qt::yellow}};
    for (const auto &[singer, colour] : pictures) {
        const CliRun pic = cli({QStringLiteral("picture"), QString::fromUtf8(singer)});
        ASSERT_EQ(pic.out.size(), 1) << singer;
        ASSERT_TRUE(pic.out.at(0).endsWith(QLatin1String(".jpg"))) << pic.out.at(0).toStdString();
        httplib::Client http = client();
        const auto res = http.Get(QUrl(pic.out.at(0)).path().toStdString());
        ASSERT_TRUE(res);
        EXPECT_EQ(res->get_header_value("Content-Type"), "image/jpeg");
        const QImage image = QImage::fromData(QByteArray::fromStdString(res->body), "JPEG");
        ASSERT_FALSE(image.isNull()) << singer;
        const QColor centre = image.pixelColor(image.width() / 2, image.height() / 2);
        EXPECT_LT(std::abs(centre.red() - colour.red()) +
                      std::abs(centre.green() - colour.green()) +
                      std::abs(centre.blue() - colour.blue()),
                  60)
            << singer;
    }
    EXPECT_EQ(cli({QStringLiteral("picture"), QStringLiteral("苏小暖")}).out,
              QStringList{QStringLiteral("无歌手信息")});
}

TEST_F(LibraryServer, AudioSeeksWithRanges)
{
    const QString id =
        searchRows(QStringLiteral("晴川之歌")).value(QStringLiteral("晴川之歌")).at(0);
    const QByteArray file =
        fileBytes(s_library->path(QStringLiteral("晴川/夏天/02 晴川之歌.flac")));
    const std::string path = "/music/" + id.toStdString() + ".flac";
    httplib::Client http = client();
    const auto res = http.Get(path, {{"Range", "bytes=1000-1999"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 206);
    EXPECT_EQ(res->get_header_value("Content-Type"), "audio/flac");
    EXPECT_EQ(QByteArray::fromStdString(res->body), file.mid(1000, 1000));
    const auto tail = http.Get(path, {{"Range", "bytes=-100"}});
    ASSERT_TRUE(tail);
    EXPECT_EQ(QByteArray::fromStdString(tail->body), file.right(100));
    const auto past = http.Get(path, {{"Range", "bytes=99999999-"}});
    ASSERT_TRUE(past);
    EXPECT_EQ(past->status, 416);
}

TEST_F(LibraryServer, NoRequestReachesAFileByItsPath)
{
    const QByteArray secret = fileBytes(s_library->outsideFile());
    ASSERT_FALSE(secret.isEmpty());
    const char *targets[] = {
        "/music/..%2F..%2Foutside%2Fsecret.mp3",
        "/music/../../outside/secret.mp3",
        "/music/%2e%2e/%2e%2e/etc/passwd",
        "/music/%c0%ae%c0%ae/etc/passwd",
        "/music//etc/passwd",
        "/music/1.mp3/../../../etc/passwd",
        "/lrc/..%2F1.lrc",
        "/ting/pic/item/..%2F..%2Fetc.jpg",
        "/ting/pic/item/ffffffff.jpg",
        "/music/999999.mp3",
        "/music/1.MP3",
    };
    httplib::Client http = client();
    for (const char *target : targets) {
        const auto res = http.Get(target);
        ASSERT_TRUE(res) << target;
        EXPECT_GE(res->status, 400) << target;
        EXPECT_EQ(res->body.find("root:"), std::string::npos) << target;
        EXPECT_NE(QByteArray::fromStdString(res->body), secret) << target;
    }
    // The service is read-only.
    for (const char *method : {"POST", "PUT", "DELETE"}) {
        httplib::Request req;
        req.method = method;
        req.path = "/music/1.mp3";
        const auto res = http.send(req);
        ASSERT_TRUE(res) << method;
        EXPECT_GE(res->status, 400) << method;
    }
}

// Files added, changed and removed while the service runs show up after
// the next periodic rescan; the index survives a restart with the same IDs.
TEST(LibraryServerRescan, ChangesWhileRunningAndRestartsKeepIds)
{
    TestLibrary library;
    ASSERT_TRUE(library.build()) << library.error().toStdString();
    QTemporaryDir extra;
    const QString indexFile = extra.filePath(QStringLiteral("index.sqlite"));
    const auto search = [](const QString &url, const char *word) {
        const QUrl u(url);
        httplib::Client http(u.host().toStdString(), u.port());
        const auto res = http.Get(std::string("/app/search/searchList.php?qword=") + word);
        return res ? QString::fromStdString(res->body) : QString();
    };
    QString firstAnswer;
    {
        MusicdServer server;
        ASSERT_TRUE(
            server.start({QStringLiteral("--library"), library.root(), QStringLiteral("--index"),
                          indexFile, QStringLiteral("--rescan"), QStringLiteral("1")}));
        ASSERT_TRUE(server.waitForStderr(QStringLiteral("library ready"), 60000));
        firstAnswer = search(server.url(), "Starlight");
        ASSERT_TRUE(firstAnswer.contains(QStringLiteral("Starlight Road")));

        const QString added =
            library.root() + QStringLiteral("/Misc/Fresh Artist - Brand New Song.mp3");
        ASSERT_TRUE(
            QFile::copy(library.path(QStringLiteral("Eli Brooks - Paper Roads.mp3")), added));
        ASSERT_TRUE(server.waitForStderr(QStringLiteral("library updated"), 30000))
            << server.stderrText().toStdString();
        EXPECT_TRUE(search(server.url(), "Brand%20New").contains(QStringLiteral("Fresh Artist")));
        ASSERT_TRUE(QFile::remove(added));
        QElapsedTimer t;
        t.start();
        while (search(server.url(), "Brand%20New").contains(QStringLiteral("Fresh Artist")) &&
               t.elapsed() < 30000)
            QThread::msleep(200);
        EXPECT_FALSE(search(server.url(), "Brand%20New").contains(QStringLiteral("Fresh Artist")));
    }
    MusicdServer again;
    ASSERT_TRUE(again.start(
        {QStringLiteral("--library"), library.root(), QStringLiteral("--index"), indexFile}));
    ASSERT_TRUE(again.waitForStderr(QStringLiteral("library ready"), 60000));
    EXPECT_TRUE(again.stderrText().contains(QStringLiteral("(0 new, 0 changed, 0 removed)")))
        << again.stderrText().toStdString();
    EXPECT_EQ(search(again.url(), "Starlight"), firstAnswer);
}

TEST(LibraryServerCommandLine, HelpVersionAndUsageErrors)
{
    struct Case
    {
        QStringList args;
        int exitCode;
        const char *inStdout;
        const char *inStderr;
    };
    const QList<Case> cases{
        {{QStringLiteral("--help")}, 0, "--library", ""},
        {{QStringLiteral("--version")}, 0, "velmor-musicd ", ""},
        {{QStringLiteral("--bogus")}, 2, "", "bogus"},
        {{QStringLiteral("--port"), QStringLiteral("abc")}, 2, "", "abc"},
        {{QStringLiteral("--listen"), QStringLiteral("not-an-address")}, 2, "", "not-an-address"},
        {{QStringLiteral("--rescan"), QStringLiteral("-5")}, 2, "", "-5"},
        {{QStringLiteral("--key"), QStringLiteral("short")}, 2, "", "short"},
        {{QStringLiteral("--key"), QStringLiteral("has/slash_0123456789")}, 2, "", "slash"},
        {{QStringLiteral("stray")}, 2, "", "stray"},
    };
    for (const Case &c : cases) {
        QProcess p;
        p.start(QStringLiteral(VELMOR_MUSICD_PATH), c.args);
        ASSERT_TRUE(p.waitForFinished(15000));
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        const QString err = QString::fromUtf8(p.readAllStandardError());
        EXPECT_EQ(p.exitCode(), c.exitCode) << c.args.join(u' ').toStdString();
        EXPECT_TRUE(out.contains(QString::fromUtf8(c.inStdout))) << out.toStdString();
        EXPECT_TRUE(err.contains(QString::fromUtf8(c.inStderr))) << err.toStdString();
        if (c.exitCode != 0) {
            EXPECT_TRUE(out.isEmpty());
        }
    }
}

} // namespace

namespace {

// --listen binds the address given and the URL line names it; loopback
// addresses need no warning, others get one on stderr.
TEST(LibraryServerCommandLine, ListenNamesTheAddressServed)
{
    MusicdServer server;
    ASSERT_TRUE(server.start({QStringLiteral("--listen"), QStringLiteral("127.0.0.2")}));
    const QUrl url(server.url());
    EXPECT_EQ(url.host(), QStringLiteral("127.0.0.2"));
    httplib::Client http(url.host().toStdString(), url.port());
    const auto res = http.Get("/app/search/searchList.php?qword=starlight");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_NE(res->body.find("starlight"), std::string::npos);
    httplib::Client other("127.0.0.1", url.port());
    EXPECT_FALSE(other.Get("/app/search/searchList.php?qword=starlight"));
    EXPECT_FALSE(server.waitForStderr(QStringLiteral("serving the network"), 300));
}

// On a network address the player's protocol is served only under
// /k/KEY: the URL line carries it, velmor-cli given that URL searches and
// follows the links, lyrics and pictures the answers point at, and the
// same requests without the key find nothing. (The service listens on
// every address; the test talks to it on loopback only.)
TEST(LibraryServerCommandLine, TheNetworkIsServedUnderTheKey)
{
    const QString key = QStringLiteral("Test_key-0123456789abcdef");
    MusicdServer server;
    ASSERT_TRUE(server.start({QStringLiteral("--listen"), QStringLiteral("0.0.0.0"),
                              QStringLiteral("--key"), key, QStringLiteral("--no-auth")}));
    const QUrl url(server.url());
    EXPECT_EQ(url.path(), QStringLiteral("/k/") + key);
    EXPECT_TRUE(server.waitForStderr(QStringLiteral("serving the network"), 5000));
    const QString service = QStringLiteral("http://127.0.0.1:%1/k/%2").arg(url.port()).arg(key);

    const CliRun search = runCli(service, {QStringLiteral("search"), QStringLiteral("starlight")});
    EXPECT_EQ(search.exitCode, 0) << search.err.toStdString();
    EXPECT_EQ(search.out.size(), 61) << search.err.toStdString(); // every page followed
    const CliRun lyrics = runCli(service, {QStringLiteral("lyrics"), QStringLiteral("100001"),
                                           QStringLiteral("a"), QStringLiteral("b")});
    EXPECT_EQ(lyrics.exitCode, 0) << lyrics.err.toStdString();
    EXPECT_TRUE(lyrics.out.join(u'\n').contains(QStringLiteral("[ti:")))
        << lyrics.err.toStdString();
    const CliRun picture = runCli(service, {QStringLiteral("picture"), QStringLiteral("晴川")});
    EXPECT_EQ(picture.exitCode, 0) << picture.err.toStdString();

    httplib::Client http("127.0.0.1", url.port());
    const std::string base = "/k/" + key.toStdString();
    const auto link = http.Get(base + "/app/link/getLinks.php?songId=100001");
    ASSERT_TRUE(link);
    EXPECT_NE(link->body.find("\\/k\\/" + key.toStdString() + "\\/music\\/100001."),
              std::string::npos)
        << link->body;
    for (const std::string &path :
         {std::string("/app/search/searchList.php?qword=starlight"), std::string("/status"),
          std::string("/music/100001.wav"), "/k/x" + base + "/status"}) {
        const auto res = http.Get(path);
        ASSERT_TRUE(res) << path;
        EXPECT_EQ(res->status, 404) << path;
    }
    const CliRun keyless = runCli(QStringLiteral("http://127.0.0.1:%1").arg(url.port()),
                                  {QStringLiteral("search"), QStringLiteral("starlight")});
    EXPECT_NE(keyless.exitCode, 0);
    // The log shows what was asked, never the key.
    const QStringList log = server.waitForLogLine(QStringLiteral("getLinks.php"), 5000);
    ASSERT_FALSE(log.isEmpty());
    for (const QString &line : log) {
        EXPECT_FALSE(line.contains(key) && line.startsWith(QStringLiteral("GET /app")))
            << line.toStdString();
    }

    // Without --key a key of 128 random bits is made.
    MusicdServer keyed;
    ASSERT_TRUE(keyed.start(
        {QStringLiteral("--listen"), QStringLiteral("0.0.0.0"), QStringLiteral("--no-auth")}));
    const QString made = QUrl(keyed.url()).path();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^/k/[A-Za-z0-9_-]{22}$")).match(made).hasMatch())
        << made.toStdString();
}

} // namespace

namespace {

// A service killed outright while its first scan writes leaves an index
// that the next start opens as it is (nothing set aside) and completes.
TEST(LibraryServerRescan, KilledMidScanLeavesAUsableIndex)
{
    TestLibrary library;
    ASSERT_TRUE(library.build()) << library.error().toStdString();
    // Enough files that the scan takes a while: copies of one track under
    // "Artist - Title" names.
    const QString source = library.path(QStringLiteral("Eli Brooks - Paper Roads.mp3"));
    const int copies = 600;
    for (int i = 0; i < copies; ++i) {
        const QString dir = library.root() + QStringLiteral("/Bulk/Album %1").arg(i / 50);
        QDir().mkpath(dir);
        ASSERT_TRUE(QFile::copy(source, dir + QStringLiteral("/Bulk Singer - Copy %1.mp3").arg(i)));
    }
    QTemporaryDir work;
    const QString indexFile = work.filePath(QStringLiteral("index.sqlite"));
    for (const int killAfterMs : {30, 120, 300}) {
        QProcess p;
        p.start(QStringLiteral(VELMOR_MUSICD_PATH),
                {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--library"),
                 library.root(), QStringLiteral("--index"), indexFile});
        ASSERT_TRUE(p.waitForStarted(10000));
        QThread::msleep(killAfterMs);
        p.kill();
        p.waitForFinished(10000);
    }
    MusicdServer server;
    ASSERT_TRUE(server.start(
        {QStringLiteral("--library"), library.root(), QStringLiteral("--index"), indexFile}));
    ASSERT_TRUE(server.waitForStderr(QStringLiteral("library ready"), 60000));
    EXPECT_FALSE(server.stderrText().contains(QStringLiteral("set aside")))
        << server.stderrText().toStdString();
    EXPECT_TRUE(server.stderrText().contains(
        QStringLiteral("library ready: %1 tracks").arg(library.tracks().size() + copies)))
        << server.stderrText().toStdString();
    EXPECT_FALSE(QFileInfo::exists(indexFile + QStringLiteral(".broken")));
}

} // namespace
