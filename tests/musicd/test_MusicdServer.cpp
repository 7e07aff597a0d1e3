// The running velmor-musicd read through the player's own client code: the
// scraper must find every advertised song on the search pages, the link and
// lyric cuts must give working URLs, and odd requests must not hurt it.
#include "musicd/MusicdQueries.h"
#include "net/HttpClient.h"
#include "net/UrlEncode.h"
#include "service/FetchPage.h"
#include "service/LoadLyrics.h"
#include "service/LoadNetPicture.h"
#include "service/ResolveSongLink.h"
#include "service/SearchPageParser.h"
#include "service/ServiceConfig.h"
#include "tests/common/MusicdServer.h"

#include <QImage>
#include <QProcess>
#include <QSet>
#include <QUrl>
#include <gtest/gtest.h>
#include <httplib.h>

using namespace musicservice;

namespace {

class MusicdServerTest : public MusicdSuite<>
{
protected:
    void SetUp() override { ServiceConfig::setHost(service->url()); }
    void TearDown() override { ServiceConfig::setHost(QString()); }

    static QString searchUrl(const QString &words, qint64 page = 0)
    {
        QString url = ServiceConfig::resource(101) + urlEncode(words);
        if (page > 0)
            url += ServiceConfig::resource(104) + QString::number(page);
        return url;
    }
    static QString linkAnswer(const QString &id)
    {
        return fetchPage(linkRequestUrl(id, QStringLiteral("x"), QStringLiteral("y")),
                         QStringLiteral("Utf-8"));
    }
    // A raw client for what the player's client cannot send (ranges, hosts).
    static httplib::Client rawClient()
    {
        const QUrl url(service->url());
        return httplib::Client(url.host().toStdString(), url.port());
    }
};

struct QueryCase
{
    const char *words;
    int count;
};

TEST_F(MusicdServerTest, EveryAdvertisedSongIsScrapedPageByPage)
{
    const QueryCase cases[] = {
        {musicd::kQueryOnePage, musicd::kQueryOnePageCount},
        {musicd::kQueryThreePages, musicd::kQueryThreePagesCount},
        {musicd::kQueryManyPages, musicd::kQueryManyPagesCount},
    };
    for (const QueryCase &c : cases) {
        SCOPED_TRACE(c.words);
        const QString words = QString::fromUtf8(c.words);
        const QString first = fetchPage(searchUrl(words), QStringLiteral("utf-8"));
        ASSERT_FALSE(isNoMatchPage(first));
        const int pages = pageCountFromFirstPage(first).toInt();
        EXPECT_EQ(pages, (c.count + kSongsPerPage - 1) / kSongsPerPage);

        QSet<QString> ids;
        qsizetype rows = 0;
        for (int p = 1; p <= pages; ++p) {
            const QString page =
                p == 1 ? first : fetchPage(searchUrl(words, p), QStringLiteral("utf-8"));
            const QList<SearchResult> found = parseSearchPage(page);
            // Full pages except the last one.
            EXPECT_EQ(found.size(),
                      p < pages ? kSongsPerPage : c.count - (pages - 1) * kSongsPerPage);
            for (const SearchResult &r : found) {
                ids.insert(r.songId);
                EXPECT_FALSE(r.title.isEmpty());
                EXPECT_FALSE(r.singer.isEmpty());
                EXPECT_TRUE(r.album.isEmpty() ||
                            (r.album.startsWith(u'《') && r.album.endsWith(u'》')));
            }
            rows += found.size();
        }
        EXPECT_EQ(rows, c.count);
        EXPECT_EQ(ids.size(), c.count);
    }
}

TEST_F(MusicdServerTest, LoadQueryComputesAThousandPages)
{
    const QString words = QLatin1String(musicd::kQueryLoad30000);
    const QString first = fetchPage(searchUrl(words), QStringLiteral("utf-8"));
    EXPECT_EQ(pageCountFromFirstPage(first), QStringLiteral("1000"));

    const QList<SearchResult> last =
        parseSearchPage(fetchPage(searchUrl(words, 1000), QStringLiteral("utf-8")));
    ASSERT_EQ(last.size(), kSongsPerPage);
    EXPECT_EQ(last.last().songId, QString::number(musicd::kLoadFirstSongId + 30000 - 1));
    // Rows on the page are the rows with those numbers, not a repeat of page 1.
    EXPECT_NE(last.first().songId, parseSearchPage(first).first().songId);
}

TEST_F(MusicdServerTest, PagesPastTheEndKeepTheirShapeWithoutRows)
{
    for (const qint64 page :
         {Q_INT64_C(3), Q_INT64_C(4), Q_INT64_C(1001), Q_INT64_C(99999999999)}) {
        const QString words =
            QLatin1String(page < 1000 ? musicd::kQueryThreePages : musicd::kQueryLoad30000);
        const QString text = fetchPage(searchUrl(words, page), QStringLiteral("utf-8"));
        EXPECT_FALSE(isNoMatchPage(text));
        EXPECT_TRUE(normaliseSearchPage(text).contains(QStringLiteral(">上一页</a"))) << page;
        EXPECT_EQ(parseSearchPage(text).isEmpty(), page != 3) << page;
    }
}

TEST_F(MusicdServerTest, NothingFoundGivesTheNoMatchPage)
{
    for (const char *words : {musicd::kQueryNoMatch, "load0", "很抱歉，没有找到与"}) {
        const QString page =
            fetchPage(searchUrl(QString::fromUtf8(words)), QStringLiteral("utf-8"));
        EXPECT_TRUE(isNoMatchPage(page)) << words;
        EXPECT_TRUE(parseSearchPage(page).isEmpty());
    }
}

TEST_F(MusicdServerTest, NamesWithEntitiesAndCommasScrapeAsThePlayerCutsThem)
{
    const QList<SearchResult> tom = parseSearchPage(
        fetchPage(searchUrl(QStringLiteral("Tom & Jerry")), QStringLiteral("utf-8")));
    ASSERT_FALSE(tom.isEmpty());
    for (const SearchResult &r : tom)
        EXPECT_EQ(r.singer, QStringLiteral("Tom  Jerry"));

    const QList<SearchResult> live = parseSearchPage(
        fetchPage(searchUrl(QStringLiteral("Remix, 2010")), QStringLiteral("utf-8")));
    ASSERT_EQ(live.size(), 1);
    EXPECT_EQ(live.first().title, QStringLiteral("Live (Remix)"));

    const QList<SearchResult> rock = parseSearchPage(
        fetchPage(searchUrl(QStringLiteral("Rock'n'Roll")), QStringLiteral("utf-8")));
    ASSERT_FALSE(rock.isEmpty());
    EXPECT_EQ(rock.first().singer, QStringLiteral("RocknRoll Band"));
}

TEST_F(MusicdServerTest, LinkAnswersGiveLinksAndLyricsThatWork)
{
    struct LinkCase
    {
        const char *id;
        bool lyrics;
    };
    const LinkCase cases[] = {
        {musicd::kSongSrcCutId, true},         {musicd::kSongQuoteCommaId, true},
        {musicd::kSongLyricFirstId, true},     {musicd::kSongUpperCaseLrcId, true},
        {musicd::kSongWithoutLyricsId, false},
    };
    for (const LinkCase &c : cases) {
        SCOPED_TRACE(c.id);
        const QString answer = linkAnswer(QString::fromLatin1(c.id));
        const QString link = cutSongLink(answer);
        EXPECT_TRUE(link.startsWith(service->url() + QStringLiteral("/music/") +
                                    QLatin1String(c.id) + QStringLiteral(".wav?xcode=")))
            << link.toStdString();
        EXPECT_FALSE(link.contains(u'\\') || link.contains(u'"') ||
                     link.contains(QStringLiteral("src=")));
        EXPECT_EQ(HttpClient::get(link).status, 200);

        const std::optional<QString> lyricUrl = cutLyricUrl(answer);
        ASSERT_TRUE(lyricUrl.has_value());
        EXPECT_EQ(isLrcUrl(*lyricUrl), c.lyrics);
        EXPECT_EQ(lyricUrl->isEmpty(), !c.lyrics);
        if (c.lyrics) {
            const QStringList entries = splitLrc(fetchPage(*lyricUrl, QStringLiteral("utf-8")));
            ASSERT_GT(entries.size(), 4);
            EXPECT_TRUE(entries.first().startsWith(QStringLiteral("[ti:")));
        }
    }
    // The shapes the IDs promise.
    EXPECT_TRUE(
        linkAnswer(QLatin1String(musicd::kSongSrcCutId)).contains(QStringLiteral("&src=\\")));
    EXPECT_TRUE(cutLyricUrl(linkAnswer(QLatin1String(musicd::kSongUpperCaseLrcId)))
                    ->endsWith(QStringLiteral(".LRC")));
    const QString lyricFirst = linkAnswer(QLatin1String(musicd::kSongLyricFirstId));
    EXPECT_LT(lyricFirst.indexOf(QStringLiteral("lyric_url")),
              lyricFirst.indexOf(QStringLiteral("\"url\":\"")));
}

TEST_F(MusicdServerTest, UnknownAndGarbageRequestsAreAnsweredQuietly)
{
    for (const char *id :
         {musicd::kUnknownSongId, "abc", "-1", "99999999999999999999", "%00", ""}) {
        const QString answer = linkAnswer(QString::fromLatin1(id));
        EXPECT_FALSE(answer.isEmpty()) << id;
        EXPECT_TRUE(cutSongLink(answer).isEmpty()) << id;
    }
    const char *paths[] = {
        "/app/search/searchList.php",
        "/app/search/searchList.php?qword=%FF%FE%E4&page=-7",
        "/app/search/searchList.php?qword=load30000&page=1e99",
        "/app/search/searchList.php?qword=load30000&page=99999999999999999999999",
        "/search/artist",
        "/search/artist?key=%E4%B8",
        "/lrc/99.lrc",
        "/lrc/100006.lrc",
        "/music/99.wav",
        "/ting/pic/item/0123456789abcdef.jpg",
        "/no/such/path",
    };
    httplib::Client client = rawClient();
    for (const char *path : paths) {
        const auto res = client.Get(path);
        ASSERT_TRUE(res) << path;
        EXPECT_TRUE(res->status == 200 || res->status == 404) << path;
    }
    // Still serving, and every request was logged.
    EXPECT_FALSE(parseSearchPage(fetchPage(searchUrl(QLatin1String(musicd::kQueryOnePage)),
                                           QStringLiteral("utf-8")))
                     .isEmpty());
    // The log line follows the answer from a writer thread of its own.
    const QStringList log = service->waitForLogLine(QStringLiteral("/no/such/path 404"), 10000);
    EXPECT_EQ(log.filter(QStringLiteral("/no/such/path 404")).size(), 1);
}

TEST_F(MusicdServerTest, PagesAreNeverBrotliCompressed)
{
    // Brotli at the library's top quality costs the service ~100 ms a page;
    // a client offering it gets gzip (or nothing) instead, with the same page.
    httplib::Client client = rawClient();
    const std::string path = "/app/search/searchList.php?qword=starlight";
    const auto plain = client.Get(path.c_str(), {{"Accept-Encoding", "identity"}});
    ASSERT_TRUE(plain);
    for (const char *offer : {"zstd, br, gzip, deflate", "br", "gzip, br;q=1.0"}) {
        const auto res = client.Get(path.c_str(), {{"Accept-Encoding", offer}});
        ASSERT_TRUE(res) << offer;
        EXPECT_NE(res->get_header_value("Content-Encoding"), "br") << offer;
        EXPECT_EQ(res->body, plain->body) << offer;
    }
}

TEST_F(MusicdServerTest, AudioAnswersRangeRequests)
{
    const std::string path = "/music/" + std::string(musicd::kSongWithLyricsId) + ".wav";
    httplib::Client client = rawClient();
    const auto whole = client.Get(path.c_str());
    ASSERT_TRUE(whole);
    ASSERT_EQ(whole->status, 200);
    EXPECT_EQ(whole->get_header_value("Content-Type"), "audio/wav");
    ASSERT_GT(whole->body.size(), 44u + 20u * 22050u * 2u);

    const size_t size = whole->body.size();
    const std::string total = "/" + std::to_string(size);
    struct RangeCase
    {
        std::string range;
        int status;
        size_t first; // of the bytes expected back
        size_t count;
        std::string contentRange;
    };
    const RangeCase cases[] = {
        {"bytes=1000-1999", 206, 1000, 1000, "bytes 1000-1999" + total},
        {"bytes=0-0", 206, 0, 1, "bytes 0-0" + total},
        {"bytes=-100", 206, size - 100, 100,
         "bytes " + std::to_string(size - 100) + "-" + std::to_string(size - 1) + total},
        // Open or overlong ends are clamped to the file.
        {"bytes=" + std::to_string(size - 10) + "-", 206, size - 10, 10,
         "bytes " + std::to_string(size - 10) + "-" + std::to_string(size - 1) + total},
        {"bytes=" + std::to_string(size - 10) + "-" + std::to_string(size + 500), 206, size - 10,
         10, "bytes " + std::to_string(size - 10) + "-" + std::to_string(size - 1) + total},
        // Past the end: refused, not announced as a huge body.
        {"bytes=" + std::to_string(size) + "-", 416, 0, 0, "bytes */" + std::to_string(size)},
        {"bytes=99999999999-", 416, 0, 0, "bytes */" + std::to_string(size)},
        // Across the pieces the file is streamed in (tens of KB).
        {"bytes=32767-98305", 206, 32767, 65539, "bytes 32767-98305" + total},
        {"bytes=4000-", 206, 4000, size - 4000, "bytes 4000-" + std::to_string(size - 1) + total},
        // Several ranges at once: the whole file.
        {"bytes=0-9,20-29", 200, 0, size, ""},
        // Ends too large for any number: clamped like any overlong end.
        {"bytes=0-99999999999999999999", 206, 0, size,
         "bytes 0-" + std::to_string(size - 1) + total},
        {"bytes=-99999999999999999999", 206, 0, size,
         "bytes 0-" + std::to_string(size - 1) + total},
        {"bytes=99999999999999999999-", 416, 0, 0, "bytes */" + std::to_string(size)},
        // A unit the service does not know, or a range that does not parse,
        // is ignored: the whole file.
        {"items=0-9", 200, 0, size, ""},
        {"bytes=9-0", 200, 0, size, ""},
        {"bytes=x-y", 200, 0, size, ""},
    };
    for (const RangeCase &c : cases) {
        SCOPED_TRACE(c.range);
        const auto res = client.Get(path.c_str(), {{"Range", c.range}});
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, c.status);
        EXPECT_EQ(res->get_header_value("Content-Range"), c.contentRange);
        if (c.status != 416) {
            EXPECT_EQ(res->body, whole->body.substr(c.first, c.count));
        }
        // HEAD announces the same answer and sends no body; the connection
        // then serves the next request.
        const auto head = client.Head(path.c_str(), {{"Range", c.range}});
        ASSERT_TRUE(head);
        EXPECT_EQ(head->status, c.status);
        EXPECT_EQ(head->get_header_value("Content-Range"), c.contentRange);
        EXPECT_TRUE(head->body.empty());
        if (c.status != 416) {
            EXPECT_EQ(head->get_header_value("Content-Length"), std::to_string(c.count));
        }
    }
}

TEST_F(MusicdServerTest, SingerPagesLeadToDecodablePictures)
{
    const QString prefix = ServiceConfig::pictureServerPrefix();
    QList<QImage> pictures;
    for (const char *singer : {musicd::kSingerWithPicture, musicd::kSingerLatinWithPicture}) {
        const QString page =
            fetchPage(ServiceConfig::singerPageUrl() + urlEncode(QString::fromUtf8(singer)),
                      QStringLiteral("utf-8"));
        const QString url = LoadNetPicture::cutSingerPictureUrl(page, prefix);
        ASSERT_TRUE(url.startsWith(prefix) && url.endsWith(QStringLiteral(".jpg")))
            << url.toStdString();
        const HttpResult r = HttpClient::get(url);
        ASSERT_EQ(r.status, 200);
        QImage image;
        ASSERT_TRUE(image.loadFromData(r.body, "JPG"));
        EXPECT_EQ(image.size(), QSize(300, 300));
        pictures.append(image);
    }
    EXPECT_NE(pictures.at(0).pixel(10, 10), pictures.at(1).pixel(10, 10));

    for (const char *singer : {musicd::kSingerWithoutPicture, "Nobody Here", ""}) {
        const QString page =
            fetchPage(ServiceConfig::singerPageUrl() + urlEncode(QString::fromUtf8(singer)),
                      QStringLiteral("utf-8"));
        EXPECT_EQ(LoadNetPicture::cutSingerPictureUrl(page, prefix), LoadNetPicture::kNoSingerInfo)
            << singer;
    }
}

TEST_F(MusicdServerTest, AbsoluteUrlsFollowTheHostTheClientUsed)
{
    const QUrl url(service->url());
    const std::string host = "localhost:" + std::to_string(url.port());
    httplib::Client client = rawClient();
    const httplib::Headers headers{{"Host", host}};

    const auto page = client.Get("/search/artist?key=%E6%99%B4%E5%B7%9D", headers);
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("http://" + host + "/ting/pic/item/"), std::string::npos);

    const auto answer = client.Get(
        (std::string("/app/link/getLinks.php?songId=") + musicd::kSongWithLyricsId).c_str(),
        headers);
    ASSERT_TRUE(answer);
    EXPECT_NE(answer->body.find("http:\\/\\/" + host + "\\/music\\/"), std::string::npos);

    // A Host header that is no host name never reaches the page.
    const auto forged = client.Get("/search/artist?key=%E6%99%B4%E5%B7%9D", {{"Host", "x\"><b>y"}});
    ASSERT_TRUE(forged);
    EXPECT_EQ(forged->body.find("x\"><b>"), std::string::npos);
    EXPECT_NE(forged->body.find(service->url().toStdString() + "/ting/pic/item/"),
              std::string::npos);
}

// Start-up and shutdown give clear outcomes: the URL line, a clean exit on
// SIGTERM, and a refusal (no URL, non-zero status) for a busy port or bad
// arguments.
TEST(MusicdProcess, StartsStopsAndRefusesClearly)
{
    QProcess first;
    first.start(QStringLiteral(VELMOR_MUSICD_PATH),
                {QStringLiteral("--port"), QStringLiteral("0")});
    ASSERT_TRUE(first.waitForReadyRead(15000));
    const QUrl url(QString::fromUtf8(first.readLine()).trimmed());
    ASSERT_EQ(url.host(), QStringLiteral("127.0.0.1"));
    ASSERT_GT(url.port(), 0);

    const QStringList refused[] = {
        {QStringLiteral("--port"), QString::number(url.port())},
        {QStringLiteral("--port"), QStringLiteral("70000")},
        {QStringLiteral("--port"), QStringLiteral("abc")},
        {QStringLiteral("--bogus")},
    };
    for (const QStringList &args : refused) {
        QProcess p;
        p.start(QStringLiteral(VELMOR_MUSICD_PATH), args);
        ASSERT_TRUE(p.waitForFinished(15000)) << args.join(u' ').toStdString();
        EXPECT_NE(p.exitCode(), 0) << args.join(u' ').toStdString();
        EXPECT_TRUE(p.readAllStandardOutput().isEmpty());
    }

    first.terminate();
    ASSERT_TRUE(first.waitForFinished(15000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
}

// Whoever started the service may leave its stdout unread (no event loop
// runs here, so QProcess reads nothing): the log must then drop lines, never
// hold up a request.
TEST(MusicdProcess, UnreadLogNeverStallsRequests)
{
    QProcess process;
    process.start(QStringLiteral(VELMOR_MUSICD_PATH),
                  {QStringLiteral("--port"), QStringLiteral("0")});
    ASSERT_TRUE(process.waitForReadyRead(15000));
    const QUrl url(QString::fromUtf8(process.readLine()).trimmed());

    httplib::Client client(url.host().toStdString(), url.port());
    client.set_read_timeout(10, 0);
    // Long targets make long log lines: far more than a pipe holds.
    const std::string target = "/app/search/searchList.php?qword=" + std::string(4000, 'q');
    for (int i = 0; i < 300; ++i) {
        const auto res = client.Get(target.c_str());
        ASSERT_TRUE(res) << "request " << i;
        ASSERT_EQ(res->status, 200);
    }
    process.terminate();
    ASSERT_TRUE(process.waitForFinished(15000));
    EXPECT_EQ(process.exitCode(), 0);
}

} // namespace
