// The Subsonic face of velmor-musicd without sockets: every endpoint's
// shape in XML and JSON against a library in memory, the error codes, the
// forms of logging in, the user's own state, and the media endpoints.
#include "MemoryApiLibrary.h"
#include "musicd/SubsonicApi.h"
#include "musicd/SubsonicUsers.h"
#include "musicd/http/RequestLog.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace musicd;

namespace {

using Params = QList<std::pair<QString, QString>>;

const QString kLoopback = QStringLiteral("127.0.0.1");
const QString kLan = QStringLiteral("192.168.1.20");

// An element of an XML answer: its path from the root, attributes and text.
struct XmlElement
{
    QString path;
    QXmlStreamAttributes attributes;
    QString text;
};

QList<XmlElement> parseXml(const QByteArray &bytes)
{
    QList<XmlElement> elements;
    QStringList stack;
    QList<qsizetype> open;
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            stack.append(xml.name().toString());
            open.append(elements.size());
            elements.append({stack.join(QLatin1Char('/')), xml.attributes(), QString()});
        } else if (xml.isCharacters() && !open.isEmpty()) {
            elements[open.last()].text += xml.text();
        } else if (xml.isEndElement()) {
            stack.removeLast();
            open.removeLast();
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString() << bytes.constData();
    return elements;
}

QList<XmlElement> elementsAt(const QList<XmlElement> &all, const QString &path)
{
    QList<XmlElement> found;
    for (const XmlElement &e : all) {
        if (e.path == path)
            found.append(e);
    }
    return found;
}

QJsonObject jsonRoot(const QByteArray &bytes)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << bytes.constData();
    return doc.object().value(QStringLiteral("subsonic-response")).toObject();
}

// The JSON value at a path of member names below subsonic-response.
QJsonValue jsonAt(const QJsonObject &root, const QString &path)
{
    QJsonValue value = root;
    for (const QString &step : path.split(QLatin1Char('/')))
        value = value.toObject().value(step);
    return value;
}

class SubsonicApiTest : public ::testing::Test
{
protected:
    SubsonicApiTest() { api = makeApi(std::nullopt, false); }

    std::unique_ptr<SubsonicApi> makeApi(std::optional<SubsonicUsers> users, bool openToAll)
    {
        return std::make_unique<SubsonicApi>(
            &library, media, std::make_unique<SubsonicAuth>(std::move(users), openToAll),
            QStringLiteral("9.9.9"));
    }

    SubsonicAnswer ask(const QString &endpoint, Params params, bool json = false,
                       const QString &peer = kLoopback, SubsonicApi *on = nullptr)
    {
        SubsonicRequest request;
        request.endpoint = endpoint;
        params.prepend({QStringLiteral("c"), QStringLiteral("test")});
        params.prepend({QStringLiteral("v"), QStringLiteral("1.16.1")});
        if (json)
            params.append({QStringLiteral("f"), QStringLiteral("json")});
        request.params = params;
        request.peerAddress = peer;
        request.host = QStringLiteral("music.lan:4040");
        SubsonicAnswer answer = (on ? on : api.get())->answer(request);
        // A kept answer comes as shared bytes: the body the client gets.
        if (answer.body.isEmpty() && answer.payload && answer.payload->bytes &&
            answer.payload->contentType == answer.contentType)
            answer.body = *answer.payload->bytes;
        return answer;
    }

    // The error code of a failed answer (in XML and JSON alike); -1 when ok.
    int errorOf(const QString &endpoint, const Params &params, const QString &peer = kLoopback,
                SubsonicApi *on = nullptr)
    {
        const QJsonObject json = jsonRoot(ask(endpoint, params, true, peer, on).body);
        const QList<XmlElement> xml = parseXml(ask(endpoint, params, false, peer, on).body);
        const QString status = xml.value(0).attributes.value(QStringLiteral("status")).toString();
        EXPECT_EQ(status, json.value(QStringLiteral("status")).toString());
        if (status == QLatin1String("ok"))
            return -1;
        const QList<XmlElement> error = elementsAt(xml, QStringLiteral("subsonic-response/error"));
        EXPECT_EQ(error.size(), 1);
        const int code = error.value(0).attributes.value(QStringLiteral("code")).toInt();
        EXPECT_EQ(code, jsonAt(json, QStringLiteral("error/code")).toInt(-2));
        EXPECT_FALSE(jsonAt(json, QStringLiteral("error/message")).toString().isEmpty());
        return code;
    }

    // For the endpoints that change something: asked once, in JSON.
    int changeOf(const QString &endpoint, const Params &params)
    {
        const QJsonObject json = jsonRoot(ask(endpoint, params, true).body);
        return json.value(QStringLiteral("status")).toString() == QLatin1String("ok")
                   ? -1
                   : jsonAt(json, QStringLiteral("error/code")).toInt(-2);
    }

    MemoryApiLibrary library;
    MemoryMedia media;
    std::unique_ptr<SubsonicApi> api;
};

struct ShapeCase
{
    const char *endpoint;
    Params params;
    const char *list; // path below subsonic-response to the repeated element
    int count;
    QStringList required; // attributes each entry has
};

TEST_F(SubsonicApiTest, EveryEndpointAnswersItsShapeInXmlAndJson)
{
    const auto p = [](const char *name, const char *value) {
        return std::pair{QString::fromLatin1(name), QString::fromUtf8(value)};
    };
    const QStringList songAttrs = {QStringLiteral("id"),      QStringLiteral("isDir"),
                                   QStringLiteral("title"),   QStringLiteral("size"),
                                   QStringLiteral("suffix"),  QStringLiteral("contentType"),
                                   QStringLiteral("duration")};
    const QStringList album3 = {QStringLiteral("id"), QStringLiteral("name"),
                                QStringLiteral("songCount"), QStringLiteral("duration"),
                                QStringLiteral("created")};
    const QStringList childDir = {QStringLiteral("id"), QStringLiteral("isDir"),
                                  QStringLiteral("title")};
    const QStringList idName = {QStringLiteral("id"), QStringLiteral("name")};
    const ShapeCase cases[] = {
        {"getMusicFolders", {}, "musicFolders/musicFolder", 1, idName},
        {"getIndexes", {}, "indexes/index", 2, {QStringLiteral("name")}},
        {"getArtists", {}, "artists/index", 2, {QStringLiteral("name")}},
        {"getArtist", {p("id", "ar-1")}, "artist/album", 2, album3},
        {"getAlbum.view", {p("id", "al-10")}, "album/song", 2, songAttrs},
        {"getMusicDirectory", {p("id", "ar-1")}, "directory/child", 2, childDir},
        {"getMusicDirectory", {p("id", "al-30")}, "directory/child", 2, songAttrs},
        {"getAlbumList2", {p("type", "newest")}, "albumList2/album", 3, album3},
        {"getAlbumList",
         {p("type", "byGenre"), p("genre", "Rock")},
         "albumList/album",
         2,
         childDir},
        {"getAlbumList2", {p("type", "starred")}, "albumList2/album", 0, album3},
        {"getRandomSongs", {p("size", "2")}, "randomSongs/song", 2, songAttrs},
        {"getGenres",
         {},
         "genres/genre",
         2,
         {QStringLiteral("songCount"), QStringLiteral("albumCount")}},
        {"getSongsByGenre", {p("genre", "Jazz")}, "songsByGenre/song", 1, songAttrs},
        {"search3", {p("query", "Aster")}, "searchResult3/artist", 1, idName},
        {"search3",
         {p("query", "Aster"), p("songCount", "2"), p("songOffset", "1")},
         "searchResult3/song",
         2,
         songAttrs},
        {"search3", {p("query", "zzz")}, "searchResult3/album", 0, album3},
        {"search2", {p("query", "Gamma")}, "searchResult2/album", 1, childDir},
        {"getOpenSubsonicExtensions", {}, "openSubsonicExtensions", 3, {QStringLiteral("name")}},
        {"getStarred2", {}, "starred2/song", 0, songAttrs},
        {"getPlaylists", {}, "playlists/playlist", 0, idName},
    };
    for (const ShapeCase &c : cases) {
        SCOPED_TRACE(std::string(c.endpoint) + " " + c.list);
        const QString endpoint = QString::fromLatin1(c.endpoint);
        const SubsonicAnswer xmlAnswer = ask(endpoint, c.params);
        const SubsonicAnswer jsonAnswer = ask(endpoint, c.params, true);
        EXPECT_EQ(xmlAnswer.httpStatus, 200);
        EXPECT_EQ(xmlAnswer.contentType, "text/xml; charset=utf-8");
        EXPECT_EQ(jsonAnswer.contentType, "application/json; charset=utf-8");

        const QList<XmlElement> xml = parseXml(xmlAnswer.body);
        ASSERT_FALSE(xml.isEmpty());
        const QXmlStreamAttributes &root = xml.front().attributes;
        EXPECT_EQ(root.value(QStringLiteral("status")), QStringLiteral("ok"));
        EXPECT_EQ(root.value(QStringLiteral("version")), QStringLiteral("1.16.1"));
        EXPECT_EQ(root.value(QStringLiteral("type")), QStringLiteral("velmor"));
        EXPECT_EQ(root.value(QStringLiteral("openSubsonic")), QStringLiteral("true"));
        const QList<XmlElement> entries =
            elementsAt(xml, QStringLiteral("subsonic-response/") + QLatin1String(c.list));
        EXPECT_EQ(entries.size(), c.count);
        for (const XmlElement &e : entries) {
            for (const QString &name : c.required)
                EXPECT_TRUE(e.attributes.hasAttribute(name)) << name.toStdString();
        }

        const QJsonObject json = jsonRoot(jsonAnswer.body);
        EXPECT_EQ(json.value(QStringLiteral("status")).toString(), QStringLiteral("ok"));
        EXPECT_EQ(json.value(QStringLiteral("openSubsonic")), QJsonValue(true));
        EXPECT_EQ(json.value(QStringLiteral("serverVersion")).toString(), QStringLiteral("9.9.9"));
        const QJsonValue list = jsonAt(json, QString::fromLatin1(c.list));
        ASSERT_TRUE(list.isArray()) << jsonAnswer.body.constData();
        EXPECT_EQ(list.toArray().size(), c.count);
        for (const QJsonValue &entry : list.toArray()) {
            for (const QString &name : c.required)
                EXPECT_TRUE(entry.toObject().contains(name)) << name.toStdString();
        }
    }
}

TEST_F(SubsonicApiTest, SingleEntitiesAreObjectsWithTypedMembers)
{
    const QJsonObject album = jsonRoot(
        ask(QStringLiteral("getAlbum"), {{QStringLiteral("id"), QStringLiteral("al-10")}}, true)
            .body);
    EXPECT_TRUE(jsonAt(album, QStringLiteral("album")).isObject());
    EXPECT_EQ(jsonAt(album, QStringLiteral("album/name")).toString(),
              QStringLiteral("Alpha & <Omega>"));
    EXPECT_EQ(jsonAt(album, QStringLiteral("album/songCount")), QJsonValue(2));
    EXPECT_EQ(jsonAt(album, QStringLiteral("album/coverArt")).toString(), QStringLiteral("al-10"));
    EXPECT_EQ(jsonAt(album, QStringLiteral("album/artistId")).toString(), QStringLiteral("ar-1"));

    const QJsonObject song = jsonRoot(
        ask(QStringLiteral("getSong"), {{QStringLiteral("id"), QStringLiteral("31")}}, true).body);
    EXPECT_TRUE(jsonAt(song, QStringLiteral("song")).isObject());
    EXPECT_EQ(jsonAt(song, QStringLiteral("song/isDir")), QJsonValue(false));
    EXPECT_EQ(jsonAt(song, QStringLiteral("song/parent")).toString(), QStringLiteral("al-30"));
    // A control character in a tag cannot go into XML: both forms say a space.
    EXPECT_EQ(jsonAt(song, QStringLiteral("song/title")).toString(), QStringLiteral("Four   bell"));
    const QList<XmlElement> xml = parseXml(
        ask(QStringLiteral("getSong"), {{QStringLiteral("id"), QStringLiteral("31")}}).body);
    EXPECT_EQ(elementsAt(xml, QStringLiteral("subsonic-response/song"))
                  .value(0)
                  .attributes.value(QStringLiteral("title")),
              QStringLiteral("Four   bell"));

    const QJsonObject genres = jsonRoot(ask(QStringLiteral("getGenres"), {}, true).body);
    EXPECT_EQ(jsonAt(genres, QStringLiteral("genres/genre"))
                  .toArray()
                  .at(1)
                  .toObject()
                  .value(QStringLiteral("value"))
                  .toString(),
              QStringLiteral("Rock"));
    const QJsonObject extensions =
        jsonRoot(ask(QStringLiteral("getOpenSubsonicExtensions"), {}, true).body);
    EXPECT_EQ(jsonAt(extensions, QStringLiteral("openSubsonicExtensions"))
                  .toArray()
                  .at(0)
                  .toObject()
                  .value(QStringLiteral("versions")),
              QJsonValue(QJsonArray{1}));
    const QJsonObject user = jsonRoot(ask(QStringLiteral("getUser"), {}, true).body);
    EXPECT_EQ(jsonAt(user, QStringLiteral("user/username")).toString(), QStringLiteral("velmor"));
    EXPECT_EQ(jsonAt(user, QStringLiteral("user/streamRole")), QJsonValue(true));
    EXPECT_EQ(jsonAt(user, QStringLiteral("user/folder")), QJsonValue(QJsonArray{1}));
}

struct ErrorCase
{
    const char *endpoint;
    Params params;
    int code;
};

TEST_F(SubsonicApiTest, ErrorsCarryTheApiCodes)
{
    const auto p = [](const char *name, const char *value) {
        return std::pair{QString::fromLatin1(name), QString::fromUtf8(value)};
    };
    library.createPlaylist(QStringLiteral("someone"), QStringLiteral("theirs"), {11});
    const ErrorCase cases[] = {
        {"ping", {}, -1},
        {"getAlbum", {}, 10},
        {"getAlbum", {p("id", "al-99")}, 70},
        {"getAlbum", {p("id", "11")}, 70},
        {"getSong", {p("id", "garbage")}, 70},
        {"getArtist", {p("id", "al-10")}, 70},
        {"getAlbumList2", {}, 10},
        {"getAlbumList2", {p("type", "sideways")}, 0},
        {"getAlbumList2", {p("type", "byYear"), p("fromYear", "1990")}, 10},
        {"getAlbumList2", {p("type", "byGenre")}, 10},
        {"getAlbumList2", {p("type", "newest"), p("size", "many")}, 0},
        {"getSongsByGenre", {}, 10},
        {"getPlaylist", {p("id", "1")}, 70},
        {"updatePlaylist", {p("playlistId", "1"), p("name", "mine")}, 70},
        {"deletePlaylist", {}, 10},
        {"star", {}, 10},
        {"star", {p("id", "999")}, 70},
        {"scrobble", {p("id", "999")}, 70},
        {"stream", {p("id", "999")}, 70},
        {"getCoverArt", {p("id", "12")}, 70},
        {"getLyricsBySongId", {}, 10},
        {"noSuchThing", {}, 0},
        {"getUser", {p("username", "other")}, 70},
    };
    for (const ErrorCase &c : cases) {
        SCOPED_TRACE(c.endpoint);
        Params params = c.params;
        EXPECT_EQ(errorOf(QString::fromLatin1(c.endpoint), params), c.code);
    }
    // Versions: the major must match, the minor be no later than ours; v is required.
    const auto versioned = [this](const char *v) {
        SubsonicRequest request;
        request.endpoint = QStringLiteral("ping");
        if (v)
            request.params.append({QStringLiteral("v"), QString::fromLatin1(v)});
        request.params.append({QStringLiteral("f"), QStringLiteral("json")});
        request.peerAddress = kLoopback;
        return jsonAt(jsonRoot(api->answer(request).body), QStringLiteral("error/code")).toInt(-1);
    };
    EXPECT_EQ(versioned(nullptr), 10);
    EXPECT_EQ(versioned("0.9.0"), 20);
    EXPECT_EQ(versioned("2.0.0"), 30);
    EXPECT_EQ(versioned("1.17.0"), 30);
    EXPECT_EQ(versioned("1.2.0"), -1);
}

struct AuthCase
{
    const char *name;
    Params params;
    QString peer;
    int code; // -1: accepted
};

TEST_F(SubsonicApiTest, LogsInByTokenPasswordAndApiKeyOnly)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("users"));
    QString error;
    const QString key =
        SubsonicUsers::addUser(path, QStringLiteral("alice"), QStringLiteral("sésame"), &error);
    ASSERT_FALSE(key.isEmpty()) << error.toStdString();
    std::optional<SubsonicUsers> users = SubsonicUsers::load(path, &error);
    ASSERT_TRUE(users) << error.toStdString();
    const auto p = [](const char *name, const QString &value) {
        return std::pair{QString::fromLatin1(name), value};
    };
    const QString token = QString::fromLatin1(
        QCryptographicHash::hash(QStringLiteral("sésamesalt1").toUtf8(), QCryptographicHash::Md5)
            .toHex());
    const QString enc =
        QStringLiteral("enc:") + QString::fromLatin1(QStringLiteral("sésame").toUtf8().toHex());
    const QString alice = QStringLiteral("alice");
    const AuthCase cases[] = {
        {"token", {p("u", alice), p("t", token), p("s", QStringLiteral("salt1"))}, kLan, -1},
        {"token upper case",
         {p("u", alice), p("t", token.toUpper()), p("s", QStringLiteral("salt1"))},
         kLan,
         -1},
        {"plain", {p("u", alice), p("p", QStringLiteral("sésame"))}, kLan, -1},
        {"enc", {p("u", alice), p("p", enc)}, kLan, -1},
        {"api key", {p("apiKey", key)}, kLan, -1},
        {"wrong token", {p("u", alice), p("t", token), p("s", QStringLiteral("salt2"))}, kLan, 40},
        {"wrong plain", {p("u", alice), p("p", QStringLiteral("sesame"))}, kLoopback, 40},
        {"unknown user",
         {p("u", QStringLiteral("bob")), p("p", QStringLiteral("sésame"))},
         kLan,
         40},
        {"wrong key", {p("apiKey", key + QLatin1Char('0'))}, kLan, 44},
        {"key with user", {p("apiKey", key), p("u", alice)}, kLan, 43},
        {"no secret", {p("u", alice)}, kLan, 10},
        {"salt without token", {p("u", alice), p("s", QStringLiteral("salt1"))}, kLan, 10},
        {"nothing, even on loopback", {}, kLoopback, 10},
    };
    for (const AuthCase &c : cases) {
        SCOPED_TRACE(c.name);
        // A fresh API each time: refusals slow an address down, see below.
        const std::unique_ptr<SubsonicApi> withUsers = makeApi(users, false);
        EXPECT_EQ(errorOf(QStringLiteral("ping"), c.params, c.peer, withUsers.get()), c.code);
        const SubsonicAnswer answer =
            ask(QStringLiteral("ping"), c.params, false, c.peer, withUsers.get());
        EXPECT_EQ(answer.delay.count() > 0, c.code == 40 || c.code == 43 || c.code == 44);
    }
    // The caller is the user logged in, not an admin.
    const std::unique_ptr<SubsonicApi> withUsers = makeApi(users, false);
    const QJsonObject user = jsonRoot(
        ask(QStringLiteral("getUser"), {p("apiKey", key)}, true, kLan, withUsers.get()).body);
    EXPECT_EQ(jsonAt(user, QStringLiteral("user/username")).toString(), alice);
    EXPECT_EQ(jsonAt(user, QStringLiteral("user/adminRole")), QJsonValue(false));

    // Without a users file: this computer only (no credentials), unless open to all.
    const std::unique_ptr<SubsonicApi> open = makeApi(std::nullopt, true);
    EXPECT_EQ(errorOf(QStringLiteral("ping"), {}, kLoopback), -1);
    EXPECT_EQ(errorOf(QStringLiteral("ping"), {}, QStringLiteral("::1")), -1);
    EXPECT_EQ(errorOf(QStringLiteral("ping"), {}, kLan), 50);
    EXPECT_EQ(errorOf(QStringLiteral("ping"), {p("u", alice), p("p", QStringLiteral("x"))}, kLan),
              50);
    EXPECT_EQ(errorOf(QStringLiteral("ping"), {}, kLan, open.get()), -1);
    // The extension list is open to anyone, so an app can learn how to log in.
    EXPECT_EQ(errorOf(QStringLiteral("getOpenSubsonicExtensions"), {}, kLan), -1);
}

TEST_F(SubsonicApiTest, RepeatedRefusalsTurnAnAddressAwayForAWhile)
{
    QTemporaryDir dir;
    QString error;
    const QString path = dir.filePath(QStringLiteral("users"));
    ASSERT_FALSE(
        SubsonicUsers::addUser(path, QStringLiteral("al"), QStringLiteral("pw"), &error).isEmpty());
    auto auth = std::make_unique<SubsonicAuth>(SubsonicUsers::load(path, &error), false);
    SubsonicAuth &check = *auth;
    SubsonicApi withUsers(&library, media, std::move(auth), QStringLiteral("1"));
    const Params wrong = {{QStringLiteral("u"), QStringLiteral("al")},
                          {QStringLiteral("p"), QStringLiteral("no")}};
    const Params right = {{QStringLiteral("u"), QStringLiteral("al")},
                          {QStringLiteral("p"), QStringLiteral("pw")}};
    // Each errorOf asks twice (XML and JSON): three failures, then turned away.
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(errorOf(QStringLiteral("ping"), wrong, kLan, &withUsers), 40);
    // Even the right password is turned away unheard now, from that address only.
    EXPECT_EQ(errorOf(QStringLiteral("ping"), right, kLan, &withUsers), 40);
    EXPECT_EQ(check.turnedAwayFor(kLan), std::chrono::seconds(2));
    EXPECT_EQ(check.turnedAwayFor(QStringLiteral("192.168.1.21")), std::chrono::seconds(0));
    // Turned away at once: a flood of them holds no request thread.
    Params versioned = right;
    versioned.append({QStringLiteral("v"), QStringLiteral("1.16.1")});
    const SubsonicAnswer away =
        withUsers.answer({QStringLiteral("ping"), versioned, kLan, QString()});
    EXPECT_TRUE(away.body.contains("code=\"40\"")) << away.body.constData();
    EXPECT_EQ(away.delay.count(), 0);
    EXPECT_EQ(errorOf(QStringLiteral("ping"), right, QStringLiteral("192.168.1.21"), &withUsers),
              -1);
}

// Users who starred no artist share one artist list, which their plays
// leave as it is; it is written again ahead of the apps once the library
// changed, and only the lists apps asked for (getArtists in JSON from the
// start).
TEST_F(SubsonicApiTest, TheArtistListIsSharedAndWrittenAhead)
{
    QTemporaryDir dir;
    QString error;
    const QString path = dir.filePath(QStringLiteral("users"));
    for (const char *name : {"al", "bo"})
        ASSERT_FALSE(
            SubsonicUsers::addUser(path, QString::fromLatin1(name), QStringLiteral("pw"), &error)
                .isEmpty());
    SubsonicApi shared(&library, media,
                       std::make_unique<SubsonicAuth>(SubsonicUsers::load(path, &error), false),
                       QStringLiteral("1"));
    const auto as = [&](const char *user, const char *endpoint, bool json = true,
                        Params more = {}) {
        more.append({{QStringLiteral("u"), QString::fromLatin1(user)},
                     {QStringLiteral("p"), QStringLiteral("pw")}});
        return ask(QString::fromLatin1(endpoint), more, json, kLan, &shared);
    };
    const auto bytesOf = [](const SubsonicAnswer &answer) {
        return answer.payload ? answer.payload->bytes.get() : nullptr;
    };

    const SubsonicAnswer first = as("al", "getArtists");
    ASSERT_TRUE(bytesOf(first));
    EXPECT_FALSE(first.body.contains("starred"));
    EXPECT_EQ(as("al", "scrobble", true, {{QStringLiteral("id"), QStringLiteral("11")}})
                  .body.contains("\"ok\""),
              true);
    const int read = library.artistListsRead;
    EXPECT_EQ(bytesOf(as("bo", "getArtists")), bytesOf(first));
    EXPECT_EQ(library.artistListsRead, read);

    // A starred artist makes al's list al's own; bo's stays the shared one.
    ASSERT_TRUE(as("al", "star", true, {{QStringLiteral("artistId"), QStringLiteral("ar-1")}})
                    .body.contains("\"ok\""));
    EXPECT_TRUE(as("al", "getArtists").body.contains("starred"));
    EXPECT_EQ(bytesOf(as("bo", "getArtists")), bytesOf(first));

    // A change of the library: the asked lists are written ahead, the
    // others wait for their first app.
    library.renameArtist(0, QStringLiteral("Aster Renamed"));
    as("bo", "getIndexes", false);
    library.renameArtist(0, QStringLiteral("Aster Again"));
    const int before = library.artistListsRead;
    shared.writeAhead();
    EXPECT_EQ(library.artistListsRead, before + 2); // getArtists JSON, getIndexes XML
    const SubsonicAnswer json = as("bo", "getArtists");
    const SubsonicAnswer xml = as("bo", "getIndexes", false);
    EXPECT_TRUE(json.body.contains("Aster Again"));
    EXPECT_TRUE(xml.body.contains("Aster Again"));
    EXPECT_EQ(library.artistListsRead, before + 2);
    as("bo", "getArtists", false);
    EXPECT_EQ(library.artistListsRead, before + 3);
}

TEST_F(SubsonicApiTest, StarsPlaysAndPlaylistsAreTheCallers)
{
    const auto p = [](const char *name, const char *value) {
        return std::pair{QString::fromLatin1(name), QString::fromLatin1(value)};
    };
    // The whole artist list is written once and given again, but never
    // after something it shows changed, and never another format's.
    const auto artistStarred = [&](const char *endpoint, bool json) {
        const QByteArray body = ask(QString::fromLatin1(endpoint), {}, json).body;
        EXPECT_EQ(body.startsWith('{'), json) << endpoint;
        return body.contains("starred");
    };
    for (const bool json : {true, false}) {
        EXPECT_FALSE(artistStarred("getArtists", json));
        EXPECT_FALSE(artistStarred("getIndexes", json));
    }
    EXPECT_EQ(changeOf(QStringLiteral("star"),
                       {p("id", "11"), p("albumId", "al-20"), p("artistId", "ar-2")}),
              -1);
    for (const bool json : {true, false}) {
        EXPECT_TRUE(artistStarred("getArtists", json));
        EXPECT_TRUE(artistStarred("getIndexes", json));
    }
    QJsonObject starred = jsonRoot(ask(QStringLiteral("getStarred2"), {}, true).body);
    EXPECT_EQ(jsonAt(starred, QStringLiteral("starred2/song")).toArray().size(), 1);
    EXPECT_EQ(jsonAt(starred, QStringLiteral("starred2/album"))
                  .toArray()
                  .at(0)[QLatin1String("id")]
                  .toString(),
              QStringLiteral("al-20"));
    EXPECT_EQ(jsonAt(starred, QStringLiteral("starred2/artist"))
                  .toArray()
                  .at(0)[QLatin1String("starred")]
                  .toString(),
              QStringLiteral("2023-11-14T22:13:20.000Z"));
    EXPECT_EQ(changeOf(QStringLiteral("unstar"), {p("id", "11")}), -1);
    starred = jsonRoot(ask(QStringLiteral("getStarred"), {}, true).body);
    EXPECT_EQ(jsonAt(starred, QStringLiteral("starred/song")).toArray().size(), 0);
    EXPECT_EQ(
        jsonAt(starred, QStringLiteral("starred/album")).toArray().at(0)[QLatin1String("isDir")],
        QJsonValue(true));

    // "Now playing" is not a play; a submission is.
    EXPECT_EQ(changeOf(QStringLiteral("scrobble"), {p("id", "12"), p("submission", "false")}), -1);
    EXPECT_EQ(library.song(12, QStringLiteral("velmor"))->playCount, 0);
    EXPECT_EQ(changeOf(QStringLiteral("scrobble"), {p("id", "12"), p("time", "1700000000000")}),
              -1);
    EXPECT_EQ(library.song(12, QStringLiteral("velmor"))->playCount, 1);

    const QJsonObject made = jsonRoot(
        ask(QStringLiteral("createPlaylist"),
            {p("name", "Mix"), p("songId", "11"), p("songId", "32"), p("songId", "11")}, true)
            .body);
    const QString id = jsonAt(made, QStringLiteral("playlist/id")).toString();
    EXPECT_EQ(jsonAt(made, QStringLiteral("playlist/entry")).toArray().size(), 3);
    EXPECT_EQ(changeOf(QStringLiteral("updatePlaylist"), {{QStringLiteral("playlistId"), id},
                                                          p("name", "Mix 2"),
                                                          p("public", "true"),
                                                          p("songIndexToRemove", "0"),
                                                          p("songIndexToRemove", "1"),
                                                          p("songIdToAdd", "21")}),
              -1);
    const QJsonObject changed =
        jsonRoot(ask(QStringLiteral("getPlaylist"), {{QStringLiteral("id"), id}}, true).body);
    EXPECT_EQ(jsonAt(changed, QStringLiteral("playlist/name")).toString(), QStringLiteral("Mix 2"));
    EXPECT_EQ(jsonAt(changed, QStringLiteral("playlist/public")), QJsonValue(true));
    QStringList order;
    for (const QJsonValue &e : jsonAt(changed, QStringLiteral("playlist/entry")).toArray())
        order.append(e[QLatin1String("id")].toString());
    EXPECT_EQ(order, QStringList({QStringLiteral("11"), QStringLiteral("21")}));
    // Someone else's public playlist may be read but not changed.
    const qint64 theirs = library.createPlaylist(QStringLiteral("bob"), QStringLiteral("b"), {});
    library.updatePlaylist(QStringLiteral("bob"), theirs,
                           {std::nullopt, std::nullopt, true, {}, {}, std::nullopt});
    EXPECT_EQ(changeOf(QStringLiteral("deletePlaylist"),
                       {{QStringLiteral("id"), QString::number(theirs)}}),
              50);
    EXPECT_EQ(changeOf(QStringLiteral("deletePlaylist"), {{QStringLiteral("id"), id}}), -1);
    EXPECT_EQ(errorOf(QStringLiteral("getPlaylist"), {{QStringLiteral("id"), id}}), 70);
}

TEST_F(SubsonicApiTest, MediaComeAsTheyAreOrScaledAndLyricsAsLines)
{
    const SubsonicAnswer stream =
        ask(QStringLiteral("stream"), {{QStringLiteral("id"), QStringLiteral("21")},
                                       {QStringLiteral("maxBitRate"), QStringLiteral("128")}});
    ASSERT_TRUE(stream.payload);
    EXPECT_EQ(*stream.payload->bytes, MemoryMedia::audioOf(21));
    EXPECT_EQ(stream.payload->contentType, "audio/mpeg");
    EXPECT_TRUE(
        ask(QStringLiteral("download"), {{QStringLiteral("id"), QStringLiteral("12")}}).payload);

    // The song's, its album's and its artist's picture; scaled keeping its shape.
    for (const char *id : {"11", "al-10", "ar-1"}) {
        const SubsonicAnswer whole =
            ask(QStringLiteral("getCoverArt"), {{QStringLiteral("id"), QLatin1String(id)}});
        ASSERT_TRUE(whole.payload) << id;
        EXPECT_EQ(QImage::fromData(*whole.payload->bytes).size(), QSize(400, 200));
    }
    const SubsonicAnswer small =
        ask(QStringLiteral("getCoverArt"), {{QStringLiteral("id"), QStringLiteral("al-10")},
                                            {QStringLiteral("size"), QStringLiteral("100")}});
    ASSERT_TRUE(small.payload);
    EXPECT_EQ(small.payload->contentType, "image/jpeg");
    EXPECT_EQ(QImage::fromData(*small.payload->bytes).size(), QSize(100, 50));
    const SubsonicAnswer big =
        ask(QStringLiteral("getCoverArt"), {{QStringLiteral("id"), QStringLiteral("11")},
                                            {QStringLiteral("size"), QStringLiteral("1000")}});
    EXPECT_EQ(QImage::fromData(*big.payload->bytes).size(), QSize(400, 200));

    const QJsonObject structured =
        jsonRoot(ask(QStringLiteral("getLyricsBySongId"),
                     {{QStringLiteral("id"), QStringLiteral("11")}}, true)
                     .body);
    const QJsonArray lyrics =
        jsonAt(structured, QStringLiteral("lyricsList/structuredLyrics")).toArray();
    ASSERT_EQ(lyrics.size(), 1);
    EXPECT_EQ(lyrics.at(0)[QLatin1String("synced")], QJsonValue(true));
    QList<std::pair<int, QString>> lines;
    for (const QJsonValue &line : lyrics.at(0)[QLatin1String("line")].toArray())
        lines.append(
            {line[QLatin1String("start")].toInt(), line[QLatin1String("value")].toString()});
    const QList<std::pair<int, QString>> expected = {{1500, QStringLiteral("First line")},
                                                     {3000, QStringLiteral("Chorus & more")},
                                                     {5000, QStringLiteral("Middle")},
                                                     {7250, QStringLiteral("Chorus & more")}};
    EXPECT_EQ(lines, expected);
    const QJsonObject none = jsonRoot(ask(QStringLiteral("getLyricsBySongId"),
                                          {{QStringLiteral("id"), QStringLiteral("12")}}, true)
                                          .body);
    EXPECT_EQ(jsonAt(none, QStringLiteral("lyricsList/structuredLyrics")).toArray().size(), 0);
    // Plain lines are not synced, and have no times, though the player's
    // copy has them spread over the song.
    const QJsonArray plainLyrics =
        jsonAt(jsonRoot(ask(QStringLiteral("getLyricsBySongId"),
                            {{QStringLiteral("id"), QStringLiteral("21")}}, true)
                            .body),
               QStringLiteral("lyricsList/structuredLyrics"))
            .toArray();
    ASSERT_EQ(plainLyrics.size(), 1);
    EXPECT_EQ(plainLyrics.at(0)[QLatin1String("synced")], QJsonValue(false));
    QStringList plainLines;
    for (const QJsonValue &line : plainLyrics.at(0)[QLatin1String("line")].toArray()) {
        EXPECT_FALSE(line.toObject().contains(QLatin1String("start")));
        plainLines.append(line[QLatin1String("value")].toString());
    }
    EXPECT_EQ(plainLines, QStringList({QStringLiteral("Plain one"), QStringLiteral("Plain two")}));

    const QList<XmlElement> plain = parseXml(
        ask(QStringLiteral("getLyrics"), {{QStringLiteral("artist"), QStringLiteral("aster")},
                                          {QStringLiteral("title"), QStringLiteral("one")}})
            .body);
    const XmlElement found = elementsAt(plain, QStringLiteral("subsonic-response/lyrics")).value(0);
    EXPECT_EQ(found.attributes.value(QStringLiteral("title")), QStringLiteral("One"));
    EXPECT_EQ(found.text, QStringLiteral("First line\nChorus & more\nMiddle\nChorus & more"));

    const QJsonObject info = jsonRoot(ask(QStringLiteral("getArtistInfo2"),
                                          {{QStringLiteral("id"), QStringLiteral("ar-1")}}, true)
                                          .body);
    EXPECT_TRUE(
        jsonAt(info, QStringLiteral("artistInfo2/smallImageUrl"))
            .toString()
            .startsWith(QStringLiteral(
                "http://music.lan:4040/rest/getCoverArt?id=ar-1&v=1.16.1&c=test&size=300")));
}

TEST(SubsonicUsersFile, IsPrivateAndKeepsTheKeyOnANewPassword)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sub/users"));
    QString error;
    const QString key =
        SubsonicUsers::addUser(path, QStringLiteral("al"), QStringLiteral("one"), &error);
    ASSERT_EQ(key.size(), 48) << error.toStdString();
    struct stat st
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(SubsonicUsers::addUser(path, QStringLiteral("al"), QStringLiteral("two"), &error),
              key);
    EXPECT_NE(SubsonicUsers::addUser(path, QStringLiteral("bo"), QStringLiteral("x"), &error), key);
    const std::optional<SubsonicUsers> users = SubsonicUsers::load(path, &error);
    ASSERT_TRUE(users);
    EXPECT_EQ(users->size(), 2);
    EXPECT_EQ(users->byName(QStringLiteral("al"))->password, QStringLiteral("two"));
    EXPECT_EQ(users->byApiKey(key)->name, QStringLiteral("al"));
    EXPECT_TRUE(
        SubsonicUsers::addUser(path, QStringLiteral(" al"), QStringLiteral("x"), &error).isEmpty());

    // Readable by others: neither read nor written.
    ::chmod(QFile::encodeName(path).constData(), 0644);
    EXPECT_FALSE(SubsonicUsers::load(path, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("chmod 600"))) << error.toStdString();
    EXPECT_TRUE(
        SubsonicUsers::addUser(path, QStringLiteral("cy"), QStringLiteral("x"), &error).isEmpty());
}

TEST(SubsonicRequestLog, LeavesNoSecretInTheLog)
{
    const std::pair<const char *, const char *> cases[] = {
        {"/rest/ping.view?u=al&t=abc&s=xyz&v=1.16.1&c=app",
         "/rest/ping.view?u=al&t=-&s=-&v=1.16.1&c=app"},
        {"/rest/stream?id=1&p=enc:7365&apiKey=k", "/rest/stream?id=1&p=-&apiKey=-"},
        {"/rest/ping?pp=1&sp=2&p", "/rest/ping?pp=1&sp=2&p=-"},
        {"/music/1.mp3?t=keep", "/music/1.mp3?t=keep"},
        {"/rest/ping", "/rest/ping"},
    };
    for (const auto &[target, logged] : cases)
        EXPECT_EQ(RequestLog::redacted(target), logged);
}

} // namespace
