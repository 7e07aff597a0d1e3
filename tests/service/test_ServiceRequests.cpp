// The service client against a loopback server that answers what the tests
// need: link answers, lyric files, pictures and search pages, including the
// broken and slow ones the bundled service never sends.
#include "net/HttpClient.h"
#include "service/LoadLyrics.h"
#include "service/LoadNetPicture.h"
#include "service/ResolveSongLink.h"
#include "service/SearchSongs.h"
#include "service/SearchState.h"
#include "service/ServiceConfig.h"
#include "tests/common/TestHttpServer.h"
#include "tests/service/FakeSearchPages.h"
#include "tests/service/RecordingViews.h"

#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <httplib.h>
#include <mutex>
#include <thread>

using namespace musicservice;

namespace {

const char kLrc[] = "[ti:夜曲]\r\n[00:01.00]第一行\r\n[00:05.00][00:09.00]重复\r\n";

class ServiceRequests : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto &h = server.http();
        h.Get("/lrc/a.lrc", [](const httplib::Request &, httplib::Response &res) {
            res.set_content(kLrc, "text/plain; charset=utf-8");
        });
        h.Get("/lrc/empty.LRC", [](const httplib::Request &, httplib::Response &res) {
            res.set_content("   ", "text/plain");
        });
        // Lyric files of a size the test names: /lrc/size-N.lrc.
        h.Get(R"(/lrc/size-(\d+)\.lrc)", [](const httplib::Request &req, httplib::Response &res) {
            const size_t size = std::stoul(req.matches[1]);
            const std::string line = "[00:01.00]一行歌词\r\n";
            std::string text;
            text.reserve(size);
            while (text.size() + line.size() <= size)
                text += line;
            text.resize(size, ' ');
            res.set_content(text, "text/plain; charset=utf-8");
        });
        h.Get("/app/link/getLinks.php",
              [this](const httplib::Request &req, httplib::Response &res) {
                  {
                      std::lock_guard<std::mutex> lock(m_mutex);
                      m_linkQueries.push_back(req.target);
                  }
                  const std::string id = req.get_param_value("songId");
                  std::string body;
                  if (id == "1")
                      body = R"({"lyric_url":")" + escaped(m_base + "/lrc/a.lrc") +
                             R"(","url":"http:\/\/media.test\/1.mp3?x=1&src=\/t","id":1})";
                  else if (id == "2")
                      body = R"({"url":"http:\/\/media.test\/2.mp3","lyric_url":"","n":0})";
                  else if (id == "3")
                      body = R"({"lyric_url":")" + escaped(m_base + "/lrc/missing.lrc") +
                             R"(","url":"http:\/\/media.test\/3.mp3","n":0})";
                  else if (id == "4")
                      body = R"({"lyric_url":")" + escaped(m_base + "/lrc/empty.LRC") + R"("})";
                  else if (id.rfind("lrc:", 0) == 0) // a lyric of the size named
                      body = R"({"lyric_url":")" +
                             escaped(m_base + "/lrc/size-" + id.substr(4) + ".lrc") +
                             R"(","url":"http:\/\/media.test\/5.mp3"})";
                  else if (id.rfind("link:", 0) == 0) // the link as the test names it
                      body = R"({"url":")" + escaped(id.substr(5)) + R"(","n":0})";
                  else
                      body = R"({"error":"no such song"})";
                  res.set_content(body, "application/json");
              });
        ASSERT_TRUE(server.start());
        m_base = server.url().toStdString();
        ServiceConfig::setHost(server.url());
    }
    void TearDown() override { ServiceConfig::setHost(QString()); }

    static std::string escaped(std::string url)
    {
        std::string out;
        for (char c : url) {
            if (c == '/')
                out += '\\';
            out += c;
        }
        return out;
    }

    TestHttpServer server;
    std::mutex m_mutex;
    std::vector<std::string> m_linkQueries;
    std::string m_base;
};

TEST_F(ServiceRequests, LinkAndLyricsOfOneAnswer)
{
    RecordingLyricsView lyrics;
    ResolveErrors errors;
    EXPECT_EQ(resolveSongLink(QStringLiteral("1"), QStringLiteral("林 夕"), QStringLiteral("夜曲"),
                              lyrics, &errors),
              QStringLiteral("http://media.test/1.mp3?x=1"));
    EXPECT_TRUE(errors.link.isEmpty());
    EXPECT_TRUE(errors.lyrics.isEmpty());
    EXPECT_EQ(lyrics.list,
              (QStringList{QStringLiteral("[ti:夜曲]\r\n"), QStringLiteral("[00:01.00]第一行\r\n"),
                           QStringLiteral("[00:05.00]"), QStringLiteral("[00:09.00]重复\r\n")}));
    EXPECT_EQ(lyrics.text5, QStringLiteral("\r\n") + lyrics.list.join(QStringLiteral("\r\n")));
    EXPECT_TRUE(lyrics.text3.isEmpty()); // the lyric box is the display's, not ours
    ASSERT_EQ(m_linkQueries.size(), 1u);
    EXPECT_EQ(m_linkQueries[0], "/app/link/getLinks.php?songId=1&songArtist=%E6%9E%97%20%E5%A4%95"
                                "&songTitle=%E5%A4%9C%E6%9B%B2");
}

TEST_F(ServiceRequests, NoLyricRules)
{
    RecordingLyricsView lyrics;
    lyrics.list = {QStringLiteral("[00:01]old")};
    lyrics.text5 = QStringLiteral("old text");

    // An answer that says nothing about lyrics leaves everything alone.
    EXPECT_TRUE(resolveSongLink(QStringLiteral("9"), {}, {}, lyrics).isEmpty());
    EXPECT_EQ(lyrics.list, QStringList{QStringLiteral("[00:01]old")});
    EXPECT_EQ(lyrics.text5, QStringLiteral("old text"));

    // An empty file: the list empties, the information text stays.
    EXPECT_TRUE(resolveSongLink(QStringLiteral("4"), {}, {}, lyrics).isEmpty());
    EXPECT_TRUE(lyrics.list.isEmpty());
    EXPECT_EQ(lyrics.text5, QStringLiteral("old text"));

    // An empty lyric URL: "暂无歌词" in both boxes.
    lyrics.list = {QStringLiteral("[00:01]old")};
    EXPECT_EQ(resolveSongLink(QStringLiteral("2"), {}, {}, lyrics),
              QStringLiteral("http://media.test/2.mp3"));
    EXPECT_TRUE(lyrics.list.isEmpty());
    EXPECT_EQ(lyrics.text5, kNoLyrics);
    EXPECT_EQ(lyrics.text3, kNoLyrics);

    // A lyric file that is not there (404 page): its body holds no tag.
    RecordingLyricsView other;
    ResolveErrors errors;
    EXPECT_EQ(resolveSongLink(QStringLiteral("3"), {}, {}, other, &errors),
              QStringLiteral("http://media.test/3.mp3"));
    EXPECT_TRUE(errors.lyrics.isEmpty());
}

// Only http and https links of the service reach the player: a local
// file, a device or a FIFO named by a remote answer would otherwise be
// opened (and a FIFO hangs the play at "正在连接…").
TEST_F(ServiceRequests, OnlyWebLinksFromTheServiceArePassedOn)
{
    const struct
    {
        const char *link;
        bool passed;
    } cases[] = {
        {"http://media.test/a.mp3", true},
        {"HTTPS://media.test/a b.mp3", true},
        {"file:///etc/passwd", false},
        {"FILE:///tmp/fifo", false},
        {"/tmp/fifo", false},
        {"//media.test/a.mp3", false},
        {"http:///a.mp3", false},
        {"lavfi://sine", false},
        {"rtsp://media.test/a", false},
        {"av://v4l2:/dev/video0", false},
    };
    for (const auto &c : cases) {
        RecordingLyricsView lyrics;
        const QString link =
            resolveSongLink(QStringLiteral("link:") + QString::fromUtf8(c.link), {}, {}, lyrics);
        EXPECT_EQ(!link.isEmpty(), c.passed) << c.link << " gave " << link.toStdString();
    }
}

// A lyric is a few KB; one over the cap is refused before it is decoded
// and split, like a file that cannot be read.
TEST_F(ServiceRequests, LyricOverTheCapIsRefused)
{
    const qint64 sizes[] = {kMaxLyricBytes - 4096, kMaxLyricBytes + 1, 60 * 1024 * 1024};
    for (const qint64 size : sizes) {
        SCOPED_TRACE(size);
        RecordingLyricsView lyrics;
        lyrics.list = {QStringLiteral("[00:01]old")};
        ResolveErrors errors;
        EXPECT_EQ(resolveSongLink(QStringLiteral("lrc:%1").arg(size), {}, {}, lyrics, &errors),
                  QStringLiteral("http://media.test/5.mp3"));
        if (size <= kMaxLyricBytes) {
            EXPECT_GT(lyrics.list.size(), 10000);
            EXPECT_TRUE(errors.lyrics.isEmpty());
        } else {
            EXPECT_TRUE(lyrics.list.isEmpty());
            EXPECT_EQ(lyrics.text3, kNoLyrics);
            EXPECT_FALSE(errors.lyrics.isEmpty());
        }
    }
}

TEST_F(ServiceRequests, InjectedSongIdStaysOneParameter)
{
    RecordingLyricsView lyrics;
    resolveSongLink(QStringLiteral("1&songArtist=evil"), QStringLiteral("a"), QStringLiteral("b"),
                    lyrics);
    ASSERT_EQ(m_linkQueries.size(), 1u);
    EXPECT_EQ(m_linkQueries[0],
              "/app/link/getLinks.php?songId=1%26songArtist%3Devil&songArtist=a&songTitle=b");
}

TEST_F(ServiceRequests, UnreachableServiceIsReportedAndLeavesLyricsAlone)
{
    RecordingLyricsView lyrics;
    lyrics.list = {QStringLiteral("[00:01]old")};
    server.stop();
    ResolveErrors errors;
    EXPECT_TRUE(resolveSongLink(QStringLiteral("1"), {}, {}, lyrics, &errors).isEmpty());
    EXPECT_FALSE(errors.link.isEmpty());
    EXPECT_EQ(lyrics.list, QStringList{QStringLiteral("[00:01]old")});
}

TEST_F(ServiceRequests, UnreadableLyricFileShowsNoLyrics)
{
    RecordingLyricsView lyrics;
    lyrics.text5 = QStringLiteral("old text");
    QString error;
    const QString answer =
        QStringLiteral(R"({"lyric_url":"http:\/\/127.0.0.1:1\/x.lrc","url":""})");
    EXPECT_FALSE(loadLyrics(answer, lyrics, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(lyrics.list.isEmpty());
    EXPECT_EQ(lyrics.text5, kNoLyrics);
    EXPECT_EQ(lyrics.text3, kNoLyrics);
}

QByteArray pngBytes(QColor colour)
{
    QImage img(4, 3, QImage::Format_RGB32);
    img.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    img.save(&buffer, "PNG");
    return bytes;
}

TEST_F(ServiceRequests, SingerPicture)
{
    const std::string prefix = m_base + "/ting/pic/item/";
    const QByteArray png = pngBytes(Qt::red);
    server.http().Get("/search/artist", [&](const httplib::Request &req, httplib::Response &res) {
        const std::string key = req.get_param_value("key");
        if (key == "王 菲")
            res.set_content("<div class=\"cover-img\"><img src=\"" + prefix + "wf.jpg\"></div>",
                            "text/html");
        else
            res.set_content("<p>没有找到</p>", "text/html");
    });
    server.http().Get(
        "/ting/pic/item/wf.jpg", [&](const httplib::Request &, httplib::Response &res) {
            res.set_content(png.toStdString(), "image/png"); // content, not extension, decides
        });
    server.http().Get("/ting/pic/item/broken.jpg",
                      [](const httplib::Request &, httplib::Response &res) {
                          res.set_content("\xFF\xD8 not really", "image/jpeg");
                      });

    const QString url = LoadNetPicture::singerPictureUrl(QStringLiteral("王 菲"));
    EXPECT_EQ(url, QString::fromStdString(prefix + "wf.jpg"));
    const QImage img = LoadNetPicture::loadPictureFromPath(url);
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(img.size(), QSize(4, 3));
    EXPECT_EQ(img.pixelColor(1, 1), QColor(Qt::red));

    EXPECT_EQ(LoadNetPicture::singerPictureUrl(QStringLiteral("nobody")),
              LoadNetPicture::kNoSingerInfo);
    for (const QString &bad :
         {LoadNetPicture::kNoSingerInfo, QString(), QStringLiteral("/no/such/file.jpg"),
          QString::fromStdString(prefix + "broken.jpg"),
          QString::fromStdString(prefix + "gone.jpg"), QStringLiteral("http://127.0.0.1:1/x.jpg")})
        EXPECT_TRUE(LoadNetPicture::loadPictureFromPath(bad).isNull()) << bad.toStdString();

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("歌手.png"));
    QImage(2, 2, QImage::Format_RGB32).save(file, "PNG");
    EXPECT_FALSE(LoadNetPicture::loadPictureFromPath(file).isNull());
    EXPECT_FALSE(
        LoadNetPicture::loadPictureFromPath(QUrl::fromLocalFile(file).toString()).isNull());
}

} // namespace
