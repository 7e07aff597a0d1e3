// velmor-cli as a user runs it: the binary against the bundled service.
#include "musicd/MusicdQueries.h"
#include "tests/common/MusicdServer.h"
#include "tests/common/TestHttpServer.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <csignal>
#include <gtest/gtest.h>
#include <httplib.h>
#include <mutex>

namespace {

struct CliRun
{
    int exitCode = -1;
    QStringList out; // stdout lines
    QString err;
};

class VelmorCli : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_server = new MusicdServer;
        ASSERT_TRUE(s_server->start());
    }
    static void TearDownTestSuite()
    {
        delete s_server;
        s_server = nullptr;
    }

    static void finish(QProcess &p, CliRun &run)
    {
        EXPECT_TRUE(p.waitForFinished(60000));
        run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        run.out = QString::fromUtf8(p.readAllStandardOutput())
                      .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        run.err = QString::fromUtf8(p.readAllStandardError());
    }

    // Runs velmor-cli with --service pointing at the test service.
    static CliRun cli(const QStringList &args, bool withService = true)
    {
        QProcess p;
        p.setProgram(QStringLiteral(VELMOR_CLI_PATH));
        p.setArguments(
            withService ? QStringList{QStringLiteral("--service"), s_server->url()} + args : args);
        p.start();
        CliRun run;
        finish(p, run);
        return run;
    }

    static MusicdServer *s_server;
};

MusicdServer *VelmorCli::s_server = nullptr;

TEST_F(VelmorCli, SearchPrintsOneTsvLinePerSong)
{
    const CliRun run = cli({QStringLiteral("search"), QString::fromUtf8(musicd::kQueryThreePages)});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    ASSERT_EQ(run.out.size(), musicd::kQueryThreePagesCount);
    for (const QString &line : run.out)
        EXPECT_EQ(line.count(QLatin1Char('\t')), 3) << line.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("共找到3页,正在查找第3页资源信息。")));
    EXPECT_TRUE(run.err.contains(QStringLiteral("搜索结束,共找到：61条资源")));

    const CliRun none = cli({QStringLiteral("search"), QString::fromUtf8(musicd::kQueryNoMatch)});
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_TRUE(none.out.isEmpty());
}

TEST_F(VelmorCli, LinkLyricsPictureAndEncode)
{
    const CliRun link = cli({QStringLiteral("link"), QLatin1String(musicd::kSongSrcCutId),
                             QStringLiteral("晴川"), QStringLiteral("x")});
    EXPECT_EQ(link.exitCode, 0);
    ASSERT_EQ(link.out.size(), 1);
    EXPECT_TRUE(link.out[0].startsWith(s_server->url() + QStringLiteral("/music/")));
    EXPECT_FALSE(link.out[0].contains(QLatin1String("&src")));

    const CliRun lyrics = cli({QStringLiteral("lyrics"), QLatin1String(musicd::kSongWithLyricsId),
                               QStringLiteral("a"), QStringLiteral("b")});
    EXPECT_EQ(lyrics.exitCode, 0);
    ASSERT_GT(lyrics.out.size(), 3);
    for (const QString &line : lyrics.out)
        EXPECT_TRUE(line.startsWith(QLatin1Char('[')) && !line.contains(QLatin1Char('\r')));

    const CliRun noLyrics =
        cli({QStringLiteral("lyrics"), QLatin1String(musicd::kSongWithoutLyricsId),
             QStringLiteral("a"), QStringLiteral("b")});
    EXPECT_EQ(noLyrics.out, QStringList{QStringLiteral("暂无歌词")});

    const CliRun noLink = cli({QStringLiteral("link"), QLatin1String(musicd::kUnknownSongId),
                               QStringLiteral("a"), QStringLiteral("b")});
    EXPECT_EQ(noLink.exitCode, 3);
    EXPECT_TRUE(noLink.out.isEmpty());

    const CliRun pic =
        cli({QStringLiteral("picture"), QString::fromUtf8(musicd::kSingerWithPicture)});
    ASSERT_EQ(pic.out.size(), 1);
    EXPECT_TRUE(pic.out[0].endsWith(QLatin1String(".jpg")));
    EXPECT_EQ(
        cli({QStringLiteral("picture"), QString::fromUtf8(musicd::kSingerWithoutPicture)}).out,
        QStringList{QStringLiteral("无歌手信息")});

    EXPECT_EQ(cli({QStringLiteral("encode"), QStringLiteral("  ab 1-中 ")}, false).out,
              QStringList{QStringLiteral("ab%201%2D%E4%B8%AD")});
}

TEST_F(VelmorCli, ServiceFromTheEnvironment)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VELMOR_SERVICE_URL"), s_server->url());
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VELMOR_CLI_PATH),
            {QStringLiteral("picture"), QString::fromUtf8(musicd::kSingerWithPicture)});
    CliRun run;
    finish(p, run);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    ASSERT_EQ(run.out.size(), 1);
    EXPECT_TRUE(run.out[0].startsWith(s_server->url()));
}

TEST_F(VelmorCli, FailuresHaveAStatusAndAMessage)
{
    struct Case
    {
        QStringList args;
        int exitCode;
        const char *inMessage;
    };
    const QString dead = QStringLiteral("http://127.0.0.1:1");
    const QList<Case> cases{
        {{}, 2, "no command"},
        {{QStringLiteral("play")}, 2, "unknown command"},
        {{QStringLiteral("link"), QStringLiteral("1")}, 2, "wrong number"},
        {{QStringLiteral("--bogus"), QStringLiteral("encode"), QStringLiteral("x")},
         2,
         "Unknown option 'bogus'"},
        {{QStringLiteral("search"), QStringLiteral("--bogus"), QStringLiteral("x")},
         2,
         "Unknown option 'bogus'"},
        {{QStringLiteral("--service"), QStringLiteral("ftp://127.0.0.1/"), QStringLiteral("search"),
          QStringLiteral("x")},
         2,
         "--service \"ftp://127.0.0.1/\" is refused: not an http:// or https:// URL"},
        {{QStringLiteral("--service"), QStringLiteral("127.0.0.1:18750"), QStringLiteral("encode"),
          QStringLiteral("x")},
         2,
         "is refused"},
        {{QStringLiteral("--service=http://"), QStringLiteral("encode"), QStringLiteral("x")},
         2,
         "names no host"},
        {{QStringLiteral("search"), QStringLiteral("   ")},
         2,
         "请输入要搜索的歌名、歌手或者专辑！"},
        {{QStringLiteral("--service"), dead, QStringLiteral("search"), QStringLiteral("x")},
         1,
         "网络错误"},
        {{QStringLiteral("--service"), dead, QStringLiteral("link"), QStringLiteral("1"),
          QStringLiteral("a"), QStringLiteral("b")},
         1,
         "网络错误"},
        {{QStringLiteral("--service=") + dead, QStringLiteral("lyrics"), QStringLiteral("1"),
          QStringLiteral("a"), QStringLiteral("b")},
         1,
         "网络错误"},
        {{QStringLiteral("--service"), dead, QStringLiteral("picture"), QStringLiteral("x")},
         1,
         "网络错误"},
    };
    for (const Case &c : cases) {
        const CliRun run = cli(c.args, false);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.args.join(u' ').toStdString();
        EXPECT_TRUE(run.err.contains(QString::fromUtf8(c.inMessage))) << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty());
    }
    const CliRun help = cli({QStringLiteral("--help")}, false);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.join(u'\n').contains(QLatin1String("search WORDS")));
}

TEST_F(VelmorCli, CtrlCStopsAtAPageBoundary)
{
    QProcess p;
    p.start(QStringLiteral(VELMOR_CLI_PATH),
            {QStringLiteral("--service"), s_server->url(), QStringLiteral("search"),
             QLatin1String(musicd::kQueryLoad30000)});
    ASSERT_TRUE(p.waitForStarted());
    QByteArray seen;
    while (!seen.contains('\n') && p.waitForReadyRead(30000))
        seen += p.readAllStandardOutput();
    ASSERT_TRUE(seen.contains('\n'));
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);

    ASSERT_TRUE(p.waitForFinished(60000));
    CliRun run;
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.out = QString::fromUtf8(seen + p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    run.err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_EQ(run.exitCode, 130);
    // Whole pages only, and far from all 1,000 of them.
    EXPECT_EQ(run.out.size() % 30, 0);
    EXPECT_LT(run.out.size(), 30000);
    EXPECT_TRUE(run.err.contains(QStringLiteral("搜索结束,共找到：%1条资源").arg(run.out.size())))
        << run.err.toStdString();
}

// Help and version go to stdout with status 0 and run no command; a
// command's --help is its help, and after "--" it is a word to search.
TEST_F(VelmorCli, HelpAndVersionRunNothing)
{
    struct Case
    {
        QStringList args;
        const char *inOut;
    };
    const QList<Case> cases{
        {{QStringLiteral("--help")}, "search WORDS"},
        {{QStringLiteral("-h")}, "--service <URL>"},
        {{QStringLiteral("--version")}, "velmor-cli 1."},
        {{QStringLiteral("search"), QStringLiteral("--help")}, "Usage: velmor-cli search"},
        {{QStringLiteral("search"), QStringLiteral("x"), QStringLiteral("-h")},
         "Usage: velmor-cli search"},
        {{QStringLiteral("link"), QStringLiteral("--help")}, "ID ARTIST TITLE"},
        {{QStringLiteral("encode"), QStringLiteral("--help")}, "Usage: velmor-cli encode"},
    };
    for (const Case &c : cases) {
        const CliRun run = cli(c.args);
        const QString out = run.out.join(u'\n');
        EXPECT_EQ(run.exitCode, 0) << c.args.join(u' ').toStdString();
        EXPECT_TRUE(out.contains(QString::fromUtf8(c.inOut))) << out.toStdString();
        // No command ran: a search would report its end on stderr.
        EXPECT_FALSE(run.err.contains(QStringLiteral("搜索结束"))) << run.err.toStdString();
    }

    const CliRun words =
        cli({QStringLiteral("search"), QStringLiteral("--"), QStringLiteral("--help")});
    EXPECT_EQ(words.exitCode, 0) << words.err.toStdString();
    EXPECT_TRUE(words.err.contains(QStringLiteral("搜索结束"))) << words.err.toStdString();
    EXPECT_EQ(cli({QStringLiteral("encode"), QStringLiteral("--"), QStringLiteral("-a")}).out,
              QStringList{QStringLiteral("%2Da")});
}

TEST_F(VelmorCli, AServiceFromTheEnvironmentIsCheckedToo)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VELMOR_SERVICE_URL"), QStringLiteral("localhost"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VELMOR_CLI_PATH), {QStringLiteral("search"), QStringLiteral("x")});
    CliRun run;
    finish(p, run);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains(QStringLiteral("VELMOR_SERVICE_URL \"localhost\" is refused")))
        << run.err.toStdString();
}

// A service that is not there is named with the URL tried and how to
// start the bundled one; a server that is no music service is an error,
// not a search without results.
TEST_F(VelmorCli, AServiceThatIsNotThereOrNotAMusicService)
{
    const CliRun dead = cli({QStringLiteral("--service"), QStringLiteral("http://127.0.0.1:1"),
                             QStringLiteral("search"), QStringLiteral("abc")},
                            false);
    EXPECT_EQ(dead.exitCode, 1);
    EXPECT_TRUE(dead.err.contains(
        QStringLiteral("cannot reach the music service at http://127.0.0.1:1 (tried "
                       "http://127.0.0.1:1/app/search/searchList.php?qword=abc)")))
        << dead.err.toStdString();
    EXPECT_TRUE(dead.err.contains(QStringLiteral("velmor-musicd --port 1")))
        << dead.err.toStdString();

    TestHttpServer other;
    other.http().Get(".*", [](const httplib::Request &, httplib::Response &res) {
        res.status = 404;
        res.set_content("<html><body>Not Found</body></html>", "text/html");
    });
    ASSERT_TRUE(other.start());
    const CliRun notFound = cli(
        {QStringLiteral("--service"), other.url(), QStringLiteral("search"), QStringLiteral("abc")},
        false);
    EXPECT_EQ(notFound.exitCode, 1);
    EXPECT_TRUE(notFound.out.isEmpty());
    EXPECT_TRUE(notFound.err.contains(QStringLiteral("answered HTTP 404")))
        << notFound.err.toStdString();
    EXPECT_TRUE(notFound.err.contains(other.url())) << notFound.err.toStdString();
}

// An error status on a later page of a search is an error too, not a
// shorter list: the search stops at that page, the songs before it stay on
// stdout and the message names the page's URL.
TEST_F(VelmorCli, AnErrorOnALaterSearchPageIsAnError)
{
    struct Case
    {
        int page;
        int status;
    };
    for (const Case c : {Case{2, 404}, Case{3, 503}}) {
        // Passes every request on to the bundled service, except the one page.
        std::mutex lock;
        QList<int> pagesAsked;
        TestHttpServer proxy;
        proxy.http().Get(".*", [&](const httplib::Request &req, httplib::Response &res) {
            const int page = req.has_param("page") ? std::stoi(req.get_param_value("page")) : 1;
            {
                const std::lock_guard<std::mutex> guard(lock);
                pagesAsked.append(page);
            }
            if (page == c.page) {
                res.status = c.status;
                res.set_content("<html><body>gone</body></html>", "text/html");
                return;
            }
            httplib::Client service(s_server->url().toStdString());
            const httplib::Result answer = service.Get(req.target);
            if (!answer) {
                res.status = 502;
                return;
            }
            res.status = answer->status;
            res.set_content(answer->body, answer->get_header_value("Content-Type"));
        });
        ASSERT_TRUE(proxy.start());

        const CliRun run = cli({QStringLiteral("--service"), proxy.url(), QStringLiteral("search"),
                                QString::fromUtf8(musicd::kQueryThreePages)},
                               false);
        EXPECT_EQ(run.exitCode, 1) << c.page << ": " << run.err.toStdString();
        // Whole pages of 30 before the failing one.
        EXPECT_EQ(run.out.size(), 30 * (c.page - 1)) << run.err.toStdString();
        const QString url = proxy.url() + QStringLiteral("/app/search/searchList.php?qword=") +
                            QString::fromUtf8(musicd::kQueryThreePages) +
                            QStringLiteral("&page=%1").arg(c.page);
        EXPECT_TRUE(run.err.contains(
            QStringLiteral("answered HTTP %1 to %2 (page %3)").arg(c.status).arg(url).arg(c.page)))
            << run.err.toStdString();
        proxy.stop();
        EXPECT_EQ(pagesAsked.size(), c.page) << "no page after the failing one is asked for";
    }
}

} // namespace
