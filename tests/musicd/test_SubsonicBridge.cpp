// The Subsonic bridge's source in this process, against a fake Subsonic
// server: result pages and their totals, the link the player gets (the
// server's own stream URL, signed), lyrics by each route, singer pictures,
// hostile servers, the checks made at start, and https servers.
#include "musicd/LinkAnswer.h"
#include "musicd/SubsonicSource.h"
#include "net/NetworkBackend.h"
#include "service/ResolveSongLink.h"
#include "tests/common/TestCertificate.h"
#include "tests/common/TestHttpServer.h"
#include "tests/musicd/FakeSubsonic.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <gtest/gtest.h>
#include <httplib.h>

using musicd::SubsonicSource;
using subsonic::SubsonicClient;

namespace {

constexpr int kRowsPerPage = 30;

QString numbered(const QString &word, int i)
{
    return QStringLiteral("%1 %2").arg(word).arg(i, 4, 10, QLatin1Char('0'));
}

class SubsonicBridge : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Pages of every shape: several batches and a short one, exactly one
        // full batch, a handful, more than is ever listed.
        const QList<QPair<QString, int>> groups{{QStringLiteral("alpha"), 450},
                                                {QStringLiteral("beta"), SubsonicSource::kBatch},
                                                {QStringLiteral("gamma"), 3},
                                                {QStringLiteral("omega"), 2100}};
        for (const auto &[word, count] : groups) {
            for (int i = 0; i < count; ++i)
                m_fake.songs().append({QStringLiteral("%1-%2").arg(word).arg(i), numbered(word, i),
                                       QStringLiteral("Band ") + word, QStringLiteral("Album"), 200,
                                       QString(), QString(), QString()});
        }
        m_fake.songs()[0].synced = QStringLiteral("1500|first line\n62250|second line");
        m_fake.songs()[0].coverArt = QStringLiteral("al-alpha");
        m_fake.songs()[1].plain = QStringLiteral("one\ntwo\nthree\nfour");
        ASSERT_TRUE(m_fake.start());
    }

    std::unique_ptr<SubsonicSource>
    source(const QString &password = QString::fromUtf8(FakeSubsonic::kPassword))
    {
        return std::make_unique<SubsonicSource>(
            std::make_unique<SubsonicClient>(settings(password)));
    }
    SubsonicClient::Settings settings(const QString &password)
    {
        SubsonicClient::Settings s;
        s.baseUrl = m_fake.url() + QStringLiteral("/");
        s.user = QLatin1String(FakeSubsonic::kUser);
        s.password = password;
        s.waitMs = 400;
        s.totalMs = 1500;
        return s;
    }
    // The number the bridge gave the song with this title in a search.
    static qint64 idOf(SubsonicSource &src, const QString &word, const QString &title)
    {
        for (qint64 page = 1;; ++page) {
            const musicd::SearchPage p = src.search(word, page, kRowsPerPage);
            if (p.rows.isEmpty())
                return 0;
            for (const musicd::Song &s : p.rows) {
                if (s.title == title)
                    return s.id;
            }
        }
    }

    FakeSubsonic m_fake;
};

TEST_F(SubsonicBridge, SearchPagesCarryTheCountedTotal)
{
    struct Case
    {
        QString words;
        qint64 page;
        qint64 total;
        int rows;
        QString firstTitle;
    };
    const QList<Case> cases{
        {QStringLiteral("alpha"), 1, 450, 30, numbered(QStringLiteral("alpha"), 0)},
        {QStringLiteral("alpha"), 2, 450, 30, numbered(QStringLiteral("alpha"), 30)},
        {QStringLiteral("alpha"), 15, 450, 30, numbered(QStringLiteral("alpha"), 420)},
        {QStringLiteral("alpha"), 16, 450, 0, QString()},
        {QStringLiteral("ALPHA 0449"), 1, 1, 1, numbered(QStringLiteral("alpha"), 449)},
        {QStringLiteral("beta"), 7, SubsonicSource::kBatch, 20,
         numbered(QStringLiteral("beta"), 180)},
        {QStringLiteral("gamma"), 1, 3, 3, numbered(QStringLiteral("gamma"), 0)},
        {QStringLiteral("omega"), 67, SubsonicSource::kMaxListed, 20,
         numbered(QStringLiteral("omega"), 1980)},
        {QStringLiteral("nothing"), 1, 0, 0, QString()},
        {QStringLiteral("  "), 1, 0, 0, QString()},
    };
    auto src = source();
    for (const Case &c : cases) {
        const musicd::SearchPage page = src->search(c.words, c.page, kRowsPerPage);
        EXPECT_EQ(page.total, c.total) << c.words.toStdString() << " page " << c.page;
        ASSERT_EQ(page.rows.size(), c.rows) << c.words.toStdString() << " page " << c.page;
        if (c.rows > 0) {
            EXPECT_EQ(page.rows.first().title, c.firstTitle) << c.words.toStdString();
            EXPECT_EQ(page.rows.first().audioSuffix, QStringLiteral("mp3"));
            EXPECT_EQ(page.rows.first().durationSeconds, 200);
        }
    }
    // The batches are kept: asking every alpha page again costs no request.
    const int before = m_fake.calls(QStringLiteral("search3"));
    for (qint64 page = 1; page <= 15; ++page)
        src->search(QStringLiteral("alpha"), page, kRowsPerPage);
    EXPECT_EQ(m_fake.calls(QStringLiteral("search3")), before);
}

TEST_F(SubsonicBridge, LinkSendsThePlayerToTheServersSignedStream)
{
    auto src = source();
    const qint64 id = idOf(*src, QStringLiteral("alpha"), numbered(QStringLiteral("alpha"), 7));
    ASSERT_GT(id, 0);
    // Not known before a search showed it; the same number in a new run.
    auto restarted = source();
    EXPECT_FALSE(restarted->songById(id));
    EXPECT_EQ(idOf(*restarted, QStringLiteral("alpha 0007"), numbered(QStringLiteral("alpha"), 7)),
              id);

    QStringList salts;
    for (int round = 0; round < 2; ++round) {
        const std::optional<musicd::Song> song = src->songById(id);
        ASSERT_TRUE(song);
        const QString json =
            QString::fromUtf8(musicd::linkAnswerJson(song, QStringLiteral("127.0.0.1:9")));
        // What the player cuts from the answer is the server's URL itself.
        const QUrl url(musicservice::cutSongLink(json));
        EXPECT_EQ(url.host(), QStringLiteral("127.0.0.1"));
        EXPECT_EQ(url.port(), m_fake.port());
        EXPECT_EQ(url.path(), QStringLiteral("/rest/stream.view"));
        const QUrlQuery q(url);
        EXPECT_EQ(q.queryItemValue(QStringLiteral("id")), QStringLiteral("alpha-7"));
        EXPECT_EQ(q.queryItemValue(QStringLiteral("c")), QStringLiteral("velmor"));
        EXPECT_FALSE(q.queryItemValue(QStringLiteral("v")).isEmpty());
        const QString salt = q.queryItemValue(QStringLiteral("s"));
        const QString token = QString::fromLatin1(
            QCryptographicHash::hash((QString::fromUtf8(FakeSubsonic::kPassword) + salt).toUtf8(),
                                     QCryptographicHash::Md5)
                .toHex());
        EXPECT_EQ(q.queryItemValue(QStringLiteral("t")), token);
        EXPECT_EQ(q.queryItemValue(QStringLiteral("u")), QLatin1String(FakeSubsonic::kUser));
        EXPECT_FALSE(json.contains(QStringLiteral("/music/")));
        salts.append(salt);
    }
    EXPECT_NE(salts.at(0), salts.at(1));
    EXPECT_FALSE(src->songById(id + 1));
    EXPECT_FALSE(src->audio(id, QStringLiteral("mp3")));
}

TEST_F(SubsonicBridge, LyricsComeSyncedThenPlainThenNone)
{
    struct Case
    {
        int song;
        QStringList lines; // as served, CR LF ends dropped
    };
    const QList<Case> cases{
        {0, {QStringLiteral("[00:01.50]first line"), QStringLiteral("[01:02.25]second line")}},
        // Plain text spread over the song's 200 s.
        {1,
         {QStringLiteral("[00:00.00]one"), QStringLiteral("[00:50.00]two"),
          QStringLiteral("[01:40.00]three"), QStringLiteral("[02:30.00]four")}},
        {2, {}},
    };
    auto src = source();
    for (const Case &c : cases) {
        const qint64 id =
            idOf(*src, QStringLiteral("alpha"), numbered(QStringLiteral("alpha"), c.song));
        const std::optional<musicd::Song> song = src->songById(id);
        ASSERT_TRUE(song);
        EXPECT_EQ(song->hasLyrics, !c.lines.isEmpty()) << c.song;
        const std::optional<musicd::Payload> lrc = src->lyric(id);
        ASSERT_EQ(lrc.has_value(), !c.lines.isEmpty()) << c.song;
        if (lrc) {
            EXPECT_EQ(
                QString::fromUtf8(*lrc->bytes).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts),
                c.lines);
        }
    }
}

TEST_F(SubsonicBridge, SingerPageAndPictureComeFromTheServer)
{
    auto src = source();
    const std::optional<musicd::SingerEntry> singer =
        src->singerByName(QStringLiteral("band  ALPHA"));
    ASSERT_TRUE(singer);
    EXPECT_EQ(singer->singer.name, QStringLiteral("Band alpha"));
    EXPECT_TRUE(singer->singer.hasPicture);
    EXPECT_FALSE(singer->songs.isEmpty());
    const std::optional<musicd::Payload> picture = src->picture(singer->singer.pictureKey);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->contentType, "image/jpeg");
    const QImage image = QImage::fromData(*picture->bytes, "JPEG");
    EXPECT_EQ(image.size(), QSize(300, 200));
    EXPECT_GT(qRed(image.pixel(150, 100)), 150);

    const std::optional<musicd::SingerEntry> gamma =
        src->singerByName(QStringLiteral("Band gamma"));
    ASSERT_TRUE(gamma);
    EXPECT_FALSE(gamma->singer.hasPicture);
    EXPECT_FALSE(src->singerByName(QStringLiteral("Nobody")));
    EXPECT_FALSE(src->picture(QStringLiteral("abc")));
}

// Whatever the server does, each call ends within its bound with the
// player's usual empty outcome, and nothing crashes.
TEST_F(SubsonicBridge, HostileServersGiveEmptyAnswersInTime)
{
    auto src = source();
    const qint64 id = idOf(*src, QStringLiteral("alpha"), numbered(QStringLiteral("alpha"), 3));
    const std::optional<musicd::SingerEntry> singer =
        src->singerByName(QStringLiteral("Band alpha"));
    ASSERT_TRUE(singer);
    // The answers above are kept a while; a new source on the same server
    // asks it again.
    const QList<FakeSubsonic::Mode> modes{
        FakeSubsonic::Mode::Garbage,     FakeSubsonic::Mode::Failed,
        FakeSubsonic::Mode::Huge,        FakeSubsonic::Mode::Slow,
        FakeSubsonic::Mode::Trickle,     FakeSubsonic::Mode::WrongTypes,
        FakeSubsonic::Mode::DeepNesting, FakeSubsonic::Mode::HttpError};
    for (const FakeSubsonic::Mode mode : modes) {
        m_fake.mode = mode;
        auto fresh = source();
        QElapsedTimer timer;
        timer.start();
        const musicd::SearchPage page = fresh->search(QStringLiteral("alpha"), 1, kRowsPerPage);
        // Wrong types: the one song with a usable ID is listed, with
        // nothing of the absurd values.
        if (mode == FakeSubsonic::Mode::WrongTypes) {
            ASSERT_EQ(page.total, 1);
            EXPECT_EQ(page.rows.first().title, QStringLiteral("7")); // a number as text
            EXPECT_EQ(page.rows.first().durationSeconds, -1);
            EXPECT_EQ(page.rows.first().audioBytes, 0);
        } else {
            EXPECT_EQ(page.total, 0) << int(mode);
        }
        EXPECT_FALSE(fresh->singerByName(QStringLiteral("Band alpha"))) << int(mode);
        // Song 3 has no lyric, so nothing was kept for it before.
        EXPECT_FALSE(src->lyric(id)) << int(mode);
        // Two requests (synced, then plain) at most, each within its bound.
        EXPECT_LT(timer.elapsed(), 3 * 1500 + 1000) << int(mode);
    }
    // The picture is fetched for the first time from a server that trickles.
    m_fake.mode = FakeSubsonic::Mode::Trickle;
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(src->picture(singer->singer.pictureKey));
    EXPECT_LT(timer.elapsed(), 1500 + 1000);
}

TEST_F(SubsonicBridge, StartCheckSaysWhatIsWrong)
{
    struct Case
    {
        QString url;
        QString password;
        FakeSubsonic::Mode mode;
        QString says; // empty: accepted
    };
    const QString good = QString::fromUtf8(FakeSubsonic::kPassword);
    const QList<Case> cases{
        {m_fake.url(), good, FakeSubsonic::Mode::Normal, QString()},
        {m_fake.url(), QStringLiteral("wrong"), FakeSubsonic::Mode::Normal,
         QStringLiteral("wrong user name or password")},
        {QStringLiteral("http://127.0.0.1:1"), good, FakeSubsonic::Mode::Normal,
         QStringLiteral("cannot reach")},
        {m_fake.url(), good, FakeSubsonic::Mode::Garbage,
         QStringLiteral("does not answer as a Subsonic server")},
        {m_fake.url(), good, FakeSubsonic::Mode::Slow, QStringLiteral("no answer in time")},
        {m_fake.url(), good, FakeSubsonic::Mode::Trickle, QStringLiteral("no answer in time")},
        {m_fake.url(), good, FakeSubsonic::Mode::Failed, QStringLiteral("Something broke")},
    };
    for (const Case &c : cases) {
        m_fake.mode = c.mode;
        SubsonicClient::Settings s = settings(c.password);
        s.baseUrl = c.url;
        SubsonicClient client(s);
        const QString says = SubsonicSource::check(client, c.url, QStringLiteral("velmor"));
        if (c.says.isEmpty()) {
            EXPECT_TRUE(says.isEmpty()) << says.toStdString();
        } else {
            EXPECT_TRUE(says.contains(c.says)) << says.toStdString();
        }
    }
    EXPECT_TRUE(
        SubsonicClient::checkBaseUrl(QStringLiteral("https://music.example/sub")).isEmpty());
    EXPECT_TRUE(SubsonicClient::checkBaseUrl(QStringLiteral("http://host:4533/sub")).isEmpty());
    EXPECT_FALSE(SubsonicClient::checkBaseUrl(QStringLiteral("ftp://host")).isEmpty());
    // Only https loads the network module; every request above was http.
    EXPECT_FALSE(NetworkBackend::ifLoaded());
}

// The bridge in front of https servers: one trusted through the
// certificate it was given answers everything; a certificate not trusted is
// refused with its reason; a server that takes the connection and then
// stalls, trickles or floods ends each call within its bound.
TEST(SubsonicHttps, TrustedServersAnswerOthersAreRefusedInTime)
{
    const TestCertificate certificate;
    const TestCertificate otherName(QStringLiteral("DNS:music.example.org"));
    ASSERT_TRUE(certificate.isValid()) << certificate.error().toStdString();
    ASSERT_TRUE(otherName.isValid()) << otherName.error().toStdString();
    const auto pem = [](const TestCertificate &c) {
        QFile f(c.certificateFile());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    FakeSubsonic server(certificate);
    FakeSubsonic misnamed(otherName);
    // A proxy's usual front: every http request moved to https.
    TestHttpServer moving;
    moving.http().Get(R"(/rest/.*)",
                      [&server](const httplib::Request &req, httplib::Response &res) {
                          res.set_redirect((server.url().toStdString() + req.target).c_str());
                      });
    ASSERT_TRUE(moving.start());
    for (FakeSubsonic *fake : {&server, &misnamed}) {
        fake->songs().append({QStringLiteral("so-1"), QStringLiteral("Harbour lights"),
                              QStringLiteral("晴川"), QStringLiteral("海"), 200,
                              QStringLiteral("2000|灯火 line"), QString(), QStringLiteral("al-1")});
        ASSERT_TRUE(fake->start());
    }
    struct Case
    {
        const char *name;
        FakeSubsonic *fake;
        QByteArray trusted;
        FakeSubsonic::Mode mode;
        QString says; // empty: everything answers
        QString url;  // the bridge's address, when not the fake's own
    };
    // What must end within its bound is given a short one; what must come
    // through (or be refused, or fill the cap) a bound a machine busy with
    // other tests and a sanitizer cannot reach.
    const auto boundOf = [](FakeSubsonic::Mode mode) {
        return mode == FakeSubsonic::Mode::Slow || mode == FakeSubsonic::Mode::Trickle ? 2000
                                                                                       : 15000;
    };
    const QList<Case> cases{
        {"trusted", &server, pem(certificate), FakeSubsonic::Mode::Normal, QString(), QString()},
        {"moved from http", &server, pem(certificate), FakeSubsonic::Mode::Normal, QString(),
         moving.url()},
        {"self-signed, not given", &server, QByteArray(), FakeSubsonic::Mode::Normal,
         QStringLiteral("self-signed"), QString()},
        {"given, but for another name", &misnamed, pem(otherName), FakeSubsonic::Mode::Normal,
         QStringLiteral("host name did not match"), QString()},
        {"stalls", &server, pem(certificate), FakeSubsonic::Mode::Slow,
         QStringLiteral("no answer in time"), QString()},
        {"trickles", &server, pem(certificate), FakeSubsonic::Mode::Trickle,
         QStringLiteral("no answer in time"), QString()},
        {"floods", &server, pem(certificate), FakeSubsonic::Mode::Huge,
         QStringLiteral("answer too large"), QString()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        c.fake->mode = c.mode;
        const int totalMs = boundOf(c.mode);
        SubsonicClient::Settings s;
        s.baseUrl = c.url.isEmpty() ? c.fake->url() : c.url;
        s.user = QLatin1String(FakeSubsonic::kUser);
        s.password = QString::fromUtf8(FakeSubsonic::kPassword);
        s.trustedCertificates = c.trusted;
        s.waitMs = totalMs / 2;
        s.totalMs = totalMs;
        auto client = std::make_unique<SubsonicClient>(s);
        QElapsedTimer timer;
        timer.start();
        const QString says = SubsonicSource::check(*client, s.baseUrl, QStringLiteral("velmor"));
        EXPECT_LT(timer.elapsed(), totalMs + 1000);
        SubsonicSource source(std::move(client));
        timer.restart();
        const musicd::SearchPage page = source.search(QStringLiteral("harbour"), 1, kRowsPerPage);
        EXPECT_LT(timer.elapsed(), totalMs + 1000);
        if (!c.says.isEmpty()) {
            EXPECT_TRUE(says.contains(c.says)) << says.toStdString();
            if (c.mode == FakeSubsonic::Mode::Normal) {
                EXPECT_TRUE(says.contains(QStringLiteral("127.0.0.1"))) << says.toStdString();
                EXPECT_TRUE(says.contains(QStringLiteral("--subsonic-ca-file")));
            }
            EXPECT_EQ(page.total, 0);
            continue;
        }
        EXPECT_TRUE(says.isEmpty()) << says.toStdString();
        ASSERT_EQ(page.rows.size(), 1);
        const qint64 id = page.rows.first().id;
        const QUrl link(musicservice::cutSongLink(QString::fromUtf8(
            musicd::linkAnswerJson(source.songById(id), QStringLiteral("127.0.0.1:9")))));
        // The server's own address, as the bridge was given it.
        EXPECT_EQ(link.scheme(), QUrl(s.baseUrl).scheme());
        EXPECT_EQ(link.port(), QUrl(s.baseUrl).port());
        EXPECT_EQ(QUrlQuery(link).queryItemValue(QStringLiteral("id")), QStringLiteral("so-1"));
        const std::optional<musicd::Payload> lrc = source.lyric(id);
        ASSERT_TRUE(lrc);
        EXPECT_TRUE(QString::fromUtf8(*lrc->bytes).contains(QStringLiteral("[00:02.00]灯火 line")));
        const std::optional<musicd::SingerEntry> singer =
            source.singerByName(QStringLiteral("晴川"));
        ASSERT_TRUE(singer);
        const std::optional<musicd::Payload> picture = source.picture(singer->singer.pictureKey);
        ASSERT_TRUE(picture);
        EXPECT_EQ(QImage::fromData(*picture->bytes, "JPEG").size(), QSize(300, 200));
    }
}

TEST(SubsonicPasswordFile, OnlyAPrivateFirstLineIsTaken)
{
    struct Case
    {
        QByteArray bytes;
        QFile::Permissions mode;
        std::optional<QString> password;
    };
    const auto owner = QFile::ReadOwner | QFile::WriteOwner;
    const QList<Case> cases{
        {"pa ss\r\nsecond\n", owner, QStringLiteral("pa ss")},
        {"\xe5\xaf\x86\xe7\xa0\x81", owner, QString::fromUtf8("\xe5\xaf\x86\xe7\xa0\x81")},
        {"pass\n", owner | QFile::ReadGroup, std::nullopt},
        {"pass\n", owner | QFile::ReadOther, std::nullopt},
        {"\nlater\n", owner, std::nullopt},
    };
    QTemporaryDir dir;
    for (const Case &c : cases) {
        const QString path = dir.filePath(QStringLiteral("pw"));
        QFile::remove(path);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(c.bytes);
        f.close();
        f.setPermissions(c.mode);
        QString error;
        EXPECT_EQ(SubsonicClient::readPasswordFile(path, &error), c.password) << c.bytes.data();
        EXPECT_EQ(error.isEmpty(), c.password.has_value()) << error.toStdString();
    }
    QString error;
    EXPECT_FALSE(SubsonicClient::readPasswordFile(dir.filePath(QStringLiteral("none")), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("cannot read")));
}

} // namespace
