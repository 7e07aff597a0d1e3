// velmor-musicd's Subsonic API over HTTP on a generated library of real
// tagged files, with a user added through --add-user: the stream is the file
// byte for byte (a Range too), cover art, synced lyrics, playlists by form
// POST, stars and plays; refused logins are late and no secret is logged;
// a LAN address needs a users file or --no-auth.
#include "tests/common/MusicdServer.h"
#include "tests/common/TestLibrary.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>
#include <httplib.h>

namespace {

const QString kPassword = QStringLiteral("sé same");

class SubsonicServer : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_library = new TestLibrary;
        ASSERT_TRUE(s_library->build()) << s_library->error().toStdString();
        s_users = s_library->indexFile() + QStringLiteral(".users");
        // Not a terminal: the password is one line of stdin.
        QProcess add;
        add.start(QStringLiteral(VELMOR_MUSICD_PATH),
                  {QStringLiteral("--add-user"), QStringLiteral("al"), QStringLiteral("--users"),
                   s_users});
        add.write(kPassword.toUtf8() + "\n");
        add.closeWriteChannel();
        ASSERT_TRUE(add.waitForFinished(30000));
        ASSERT_EQ(add.exitCode(), 0) << add.readAllStandardError().constData();
        s_apiKey = QString::fromLatin1(add.readAllStandardOutput()).trimmed();
        ASSERT_EQ(s_apiKey.size(), 48);
        s_server = new MusicdServer;
        ASSERT_TRUE(s_server->start({QStringLiteral("--library"), s_library->root(),
                                     QStringLiteral("--index"), s_library->indexFile(),
                                     QStringLiteral("--users"), s_users}));
        ASSERT_TRUE(s_server->waitForStderr(QStringLiteral("library ready"), 60000))
            << s_server->stderrText().toStdString();
    }
    static void TearDownTestSuite()
    {
        delete s_server;
        delete s_library;
    }

    static httplib::Client client()
    {
        const QUrl url(s_server->url());
        httplib::Client c(url.host().toStdString(), url.port());
        c.set_read_timeout(30, 0);
        return c;
    }

    // A salted token login, as most apps send it.
    static std::string login()
    {
        const QByteArray salt = QByteArray::number(++s_salt) + "c19b2d";
        const QByteArray token =
            QCryptographicHash::hash(kPassword.toUtf8() + salt, QCryptographicHash::Md5).toHex();
        return "u=al&t=" + token.toStdString() + "&s=" + salt.toStdString() + "&v=1.16.1&c=test";
    }

    static httplib::Result get(const std::string &endpoint, const std::string &query,
                               const httplib::Headers &headers = {})
    {
        return client().Get("/rest/" + endpoint + "?" + login() + "&" + query, headers);
    }

    static QJsonObject json(const std::string &endpoint, const std::string &query)
    {
        const httplib::Result r = get(endpoint, query + "&f=json");
        EXPECT_TRUE(r && r->status == 200);
        return QJsonDocument::fromJson(r ? QByteArray::fromStdString(r->body) : QByteArray())
            .object()
            .value(QStringLiteral("subsonic-response"))
            .toObject();
    }

    // The song found by its title, as search3 gives it.
    static QJsonObject songTitled(const QString &title)
    {
        const QJsonObject found =
            json("search3", "songCount=50&query=" + QUrl::toPercentEncoding(title).toStdString());
        for (const QJsonValue &song :
             found[QLatin1String("searchResult3")].toObject()[QLatin1String("song")].toArray()) {
            if (song[QLatin1String("title")].toString() == title)
                return song.toObject();
        }
        ADD_FAILURE() << "no song " << title.toStdString();
        return {};
    }

    static TestLibrary::Track trackWith(bool TestLibrary::Track::*flag, const QString &suffix)
    {
        for (const TestLibrary::Track &t : s_library->tracks()) {
            if (t.*flag && t.relativePath.endsWith(suffix))
                return t;
        }
        return {};
    }

    static TestLibrary *s_library;
    static MusicdServer *s_server;
    static QString s_users;
    static QString s_apiKey;
    static int s_salt;
};

TestLibrary *SubsonicServer::s_library = nullptr;
MusicdServer *SubsonicServer::s_server = nullptr;
QString SubsonicServer::s_users;
QString SubsonicServer::s_apiKey;
int SubsonicServer::s_salt = 0;

TEST_F(SubsonicServer, StreamsTheFileItselfWithRange)
{
    const TestLibrary::Track track = s_library->tracks().front();
    QFile file(s_library->path(track.relativePath));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const std::string id = songTitled(track.title)[QLatin1String("id")].toString().toStdString();

    const httplib::Result whole = get("stream.view", "id=" + id + "&maxBitRate=96&format=mp3");
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->status, 200);
    EXPECT_EQ(QByteArray::fromStdString(whole->body), bytes);
    const httplib::Result part = get("download", "id=" + id, {{"Range", "bytes=100-199"}});
    ASSERT_TRUE(part);
    EXPECT_EQ(part->status, 206);
    EXPECT_EQ(QByteArray::fromStdString(part->body), bytes.mid(100, 100));
    EXPECT_EQ(part->get_header_value("Content-Range"),
              "bytes 100-199/" + std::to_string(bytes.size()));
}

TEST_F(SubsonicServer, CoverArtAndSyncedLyricsOfRealFiles)
{
    // The library has a cover.jpg and embedded covers: some song shows one.
    std::string cover;
    const QJsonObject all = json("search3", "songCount=100&query=");
    for (const QJsonValue &song :
         all[QLatin1String("searchResult3")].toObject()[QLatin1String("song")].toArray()) {
        if (cover.empty())
            cover = song[QLatin1String("coverArt")].toString().toStdString();
    }
    ASSERT_FALSE(cover.empty());
    const httplib::Result whole = get("getCoverArt", "id=" + cover);
    ASSERT_TRUE(whole && whole->status == 200);
    const QImage image = QImage::fromData(QByteArray::fromStdString(whole->body));
    ASSERT_FALSE(image.isNull());
    const httplib::Result small = get("getCoverArt", "id=" + cover + "&size=32");
    ASSERT_TRUE(small && small->status == 200);
    const QImage scaled = QImage::fromData(QByteArray::fromStdString(small->body));
    EXPECT_EQ(std::max(scaled.width(), scaled.height()),
              std::min(32, std::max(image.width(), image.height())));

    // The mp3's GBK sidecar: two lines at 0.5 s and 1.5 s.
    const TestLibrary::Track timed = trackWith(&TestLibrary::Track::lyrics, QStringLiteral(".mp3"));
    const QJsonObject lyrics =
        json("getLyricsBySongId",
             "id=" + songTitled(timed.title)[QLatin1String("id")].toString().toStdString());
    const QJsonArray lines = lyrics[QLatin1String("lyricsList")]
                                 .toObject()[QLatin1String("structuredLyrics")]
                                 .toArray()
                                 .at(0)[QLatin1String("line")]
                                 .toArray();
    QStringList texts;
    QList<int> starts;
    for (const QJsonValue &line : lines) {
        texts.append(line[QLatin1String("value")].toString());
        starts.append(line[QLatin1String("start")].toInt());
    }
    EXPECT_EQ(starts, QList<int>({500, 1500}));
    EXPECT_EQ(texts, TestLibrary::timedLines(QStringLiteral("mp3")));
}

TEST_F(SubsonicServer, PlaylistsStarsAndPlaysByFormPost)
{
    const TestLibrary::Track first = s_library->tracks().at(0);
    const TestLibrary::Track second = s_library->tracks().at(1);
    const std::string a = songTitled(first.title)[QLatin1String("id")].toString().toStdString();
    const std::string b = songTitled(second.title)[QLatin1String("id")].toString().toStdString();
    const httplib::Result made =
        client().Post("/rest/createPlaylist.view",
                      login() + "&f=json&name=" +
                          QUrl::toPercentEncoding(QStringLiteral("路上 & more")).toStdString() +
                          "&songId=" + b + "&songId=" + a,
                      "application/x-www-form-urlencoded");
    ASSERT_TRUE(made && made->status == 200);
    const QJsonObject playlist = QJsonDocument::fromJson(QByteArray::fromStdString(made->body))
                                     .object()[QLatin1String("subsonic-response")]
                                     .toObject()[QLatin1String("playlist")]
                                     .toObject();
    EXPECT_EQ(playlist[QLatin1String("name")].toString(), QStringLiteral("路上 & more"));
    QStringList order;
    for (const QJsonValue &entry : playlist[QLatin1String("entry")].toArray())
        order.append(entry[QLatin1String("id")].toString());
    EXPECT_EQ(order, QStringList({QString::fromStdString(b), QString::fromStdString(a)}));

    ASSERT_TRUE(get("star", "id=" + a));
    const QJsonArray starred = json("getStarred2", "")[QLatin1String("starred2")]
                                   .toObject()[QLatin1String("song")]
                                   .toArray();
    ASSERT_EQ(starred.size(), 1);
    EXPECT_EQ(starred.at(0)[QLatin1String("id")].toString().toStdString(), a);

    ASSERT_TRUE(get("scrobble", "id=" + b + "&submission=false"));
    EXPECT_EQ(json("getSong", "id=" + b)[QLatin1String("song")][QLatin1String("playCount")].toInt(),
              0);
    ASSERT_TRUE(get("scrobble", "id=" + b));
    EXPECT_EQ(json("getSong", "id=" + b)[QLatin1String("song")][QLatin1String("playCount")].toInt(),
              1);
}

TEST_F(SubsonicServer, RefusesLateAndLogsNoSecret)
{
    httplib::Client c = client();
    QElapsedTimer timer;
    timer.start();
    const httplib::Result wrong = c.Get("/rest/ping?u=al&p=wrongpass&v=1.16.1&c=t&f=json");
    ASSERT_TRUE(wrong);
    EXPECT_GE(timer.elapsed(), 400);
    EXPECT_EQ(wrong->status, 200);
    EXPECT_NE(wrong->body.find("\"code\":40"), std::string::npos) << wrong->body;
    const httplib::Result key =
        c.Get("/rest/ping?apiKey=" + s_apiKey.toStdString() + "&v=1.16.1&c=t&f=json");
    ASSERT_TRUE(key);
    EXPECT_NE(key->body.find("\"status\":\"ok\""), std::string::npos) << key->body;

    const QString all = s_server->waitForLogLine(QStringLiteral("apiKey=-"), 5000).join(u'\n');
    EXPECT_TRUE(all.contains(QStringLiteral("p=-&v=1.16.1")));
    EXPECT_FALSE(all.contains(QStringLiteral("wrongpass")));
    EXPECT_FALSE(all.contains(s_apiKey));
}

TEST(SubsonicServerStart, AnAddressOffThisComputerNeedsUsersOrNoAuth)
{
    QTemporaryDir dir;
    QProcess refused;
    refused.start(QStringLiteral(VELMOR_MUSICD_PATH),
                  {QStringLiteral("--listen"), QStringLiteral("0.0.0.0"), QStringLiteral("--port"),
                   QStringLiteral("0"), QStringLiteral("--users"),
                   dir.filePath(QStringLiteral("none"))});
    ASSERT_TRUE(refused.waitForFinished(30000));
    // A users file named but missing is no users file: it stops the service.
    EXPECT_EQ(refused.exitCode(), 1);
    EXPECT_TRUE(refused.readAllStandardOutput().isEmpty());

    const QString emptyConfig = dir.filePath(QStringLiteral("config"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), emptyConfig);
    QProcess lan;
    lan.setProcessEnvironment(env);
    lan.start(QStringLiteral(VELMOR_MUSICD_PATH),
              {QStringLiteral("--listen"), QStringLiteral("0.0.0.0"), QStringLiteral("--port"),
               QStringLiteral("0")});
    ASSERT_TRUE(lan.waitForFinished(30000));
    EXPECT_EQ(lan.exitCode(), 2);
    EXPECT_TRUE(lan.readAllStandardError().contains("--no-auth"));

    MusicdServer open;
    ASSERT_TRUE(open.start(
        {QStringLiteral("--listen"), QStringLiteral("0.0.0.0"), QStringLiteral("--no-auth")}));
    EXPECT_TRUE(open.waitForStderr(QStringLiteral("--no-auth: serving the network"), 10000));
}

} // namespace
