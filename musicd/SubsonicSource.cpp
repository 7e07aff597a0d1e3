#include "musicd/SubsonicSource.h"

#include "musicd/LyricText.h"
#include "musicd/SingerPage.h"

namespace musicd {
namespace {

using subsonic::Reply;
using subsonic::SongFacts;
using subsonic::SubsonicAnswer;

// Songs (and cover pictures) whose numbers are remembered at most.
constexpr size_t kKnownSongs = 200000;
constexpr size_t kKnownCovers = 20000;
constexpr qint64 kPictureCacheBytes = 4 * 1024 * 1024;
// A search's batches together may take this long; what has come by then
// is the result (the player gives up on a page after 15 s).
constexpr auto kSearchTime = std::chrono::seconds(8);
// The size asked of getCoverArt, as large as the served pictures.
constexpr int kPictureSide = 300;
// Matches a singer page looks through.
constexpr int kSingerSongsAsked = 100;
constexpr int kSingerArtistsAsked = 20;

const char kText[] = "text/plain; charset=utf-8";
const char kJpeg[] = "image/jpeg";

// Names compare ignoring case and everything but letters and digits, as
// the catalogue's and the library's singer pages do.
QString looseKey(const QString &name)
{
    QString key;
    for (const QChar c : name.toCaseFolded()) {
        if (c.isLetterOrNumber())
            key += c;
    }
    return key;
}

QJsonObject resultOf(const Reply &reply)
{
    return reply.body.value(QStringLiteral("searchResult3")).toObject();
}

} // namespace

SubsonicSource::SubsonicSource(std::unique_ptr<subsonic::SubsonicClient> client)
    : m_client(std::move(client)), m_songs(kKnownSongs), m_covers(kKnownCovers),
      m_pictures(kPictureCacheBytes)
{
}

QString SubsonicSource::check(subsonic::SubsonicClient &client, const QString &baseUrl,
                              const QString &user)
{
    const Reply reply = client.call(QStringLiteral("ping"), {});
    switch (reply.status) {
    case Reply::Status::Ok:
        return QString();
    case Reply::Status::Unreachable:
        return QStringLiteral("cannot reach the Subsonic server at %1: %2")
            .arg(baseUrl, reply.message);
    case Reply::Status::Untrusted:
        return QStringLiteral("cannot reach the Subsonic server at %1: %2; if the server is "
                              "yours, give its certificate (PEM) with --subsonic-ca-file")
            .arg(baseUrl, reply.message);
    case Reply::Status::Garbage:
        return QStringLiteral("%1 does not answer as a Subsonic server (%2)")
            .arg(baseUrl, reply.message);
    case Reply::Status::Failed:
        break;
    }
    if (reply.errorCode == subsonic::kWrongCredentials)
        return QStringLiteral("the Subsonic server at %1 refused user %2: wrong user name or "
                              "password")
            .arg(baseUrl, user);
    return QStringLiteral("the Subsonic server at %1 refused the bridge: %2 (error %3)")
        .arg(baseUrl, reply.message)
        .arg(reply.errorCode);
}

std::unique_ptr<SubsonicSource> SubsonicSource::open(const QString &baseUrl, const QString &user,
                                                     const QString &passwordFile,
                                                     const QString &caFile, QString *error)
{
    *error = subsonic::SubsonicClient::checkBaseUrl(baseUrl);
    if (!error->isEmpty())
        return nullptr;
    subsonic::SubsonicClient::Settings settings;
    if (!caFile.isEmpty()) {
        if (!baseUrl.startsWith(QLatin1String("https://"), Qt::CaseInsensitive)) {
            *error = QStringLiteral("--subsonic-ca-file goes with an https:// server");
            return nullptr;
        }
        const std::optional<QByteArray> pem =
            subsonic::SubsonicClient::readCertificateFile(caFile, error);
        if (!pem)
            return nullptr;
        settings.trustedCertificates = *pem;
    }
    if (user.isEmpty()) {
        *error = QStringLiteral("--subsonic needs --user NAME");
        return nullptr;
    }
    if (passwordFile.isEmpty()) {
        *error = QStringLiteral("--subsonic needs --password-file FILE (the password on its first "
                                "line, the file readable by you alone)");
        return nullptr;
    }
    const std::optional<QString> password =
        subsonic::SubsonicClient::readPasswordFile(passwordFile, error);
    if (!password)
        return nullptr;
    settings.baseUrl = baseUrl;
    settings.user = user;
    settings.password = *password;
    auto client = std::make_unique<subsonic::SubsonicClient>(settings);
    *error = check(*client, baseUrl, user);
    if (!error->isEmpty())
        return nullptr;
    return std::make_unique<SubsonicSource>(std::move(client));
}

Song SubsonicSource::songOf(qint64 id, const SongFacts &facts) const
{
    Song song;
    song.id = id;
    song.title = facts.title;
    song.singer = facts.artist;
    song.album = facts.album;
    // The link answer names a format; a server that says none streams its
    // default, which is MP3 for the servers we know.
    song.audioSuffix = facts.suffix.isEmpty() ? QStringLiteral("mp3") : facts.suffix;
    song.durationSeconds = facts.durationSeconds;
    song.audioBytes = std::max<qint64>(facts.size, 0);
    return song;
}

Song SubsonicSource::remember(const SongFacts &facts) const
{
    return songOf(m_songs.remember(facts.id, facts), facts);
}

// The result's total is exact up to kMaxListed: the server gives none, so
// the matches are asked for in batches until one comes back short (each
// batch is kept a while by the client, so the next pages cost nothing).
SearchPage SubsonicSource::search(const QString &query, qint64 page, int rowsPerPage) const
{
    SearchPage out;
    const QString words = query.simplified();
    if (words.isEmpty() || rowsPerPage <= 0)
        return out;
    const auto deadline = subsonic::SubsonicClient::Clock::now() + kSearchTime;
    QList<Song> all;
    for (int offset = 0; offset < kMaxListed; offset += kBatch) {
        const Reply reply = m_client->call(QStringLiteral("search3"),
                                           {{QStringLiteral("query"), words},
                                            {QStringLiteral("songCount"), QString::number(kBatch)},
                                            {QStringLiteral("songOffset"), QString::number(offset)},
                                            {QStringLiteral("artistCount"), QStringLiteral("0")},
                                            {QStringLiteral("albumCount"), QStringLiteral("0")}},
                                           deadline);
        if (!reply.ok())
            break;
        const QList<SongFacts> songs =
            SubsonicAnswer::songs(resultOf(reply), QStringLiteral("song"));
        for (const SongFacts &facts : songs) {
            if (all.size() < kMaxListed)
                all.append(remember(facts));
        }
        if (songs.size() < kBatch)
            break;
    }
    out.total = all.size();
    const qint64 first = (std::max<qint64>(page, 1) - 1) * rowsPerPage;
    if (first < all.size())
        out.rows = all.mid(first, rowsPerPage);
    return out;
}

QByteArray SubsonicSource::lyricOf(const QString &serverId, const SongFacts &facts) const
{
    const Reply synced =
        m_client->call(QStringLiteral("getLyricsBySongId"), {{QStringLiteral("id"), serverId}});
    QString text;
    if (synced.ok())
        text = SubsonicAnswer::structuredLyrics(synced.body);
    // A server without the OpenSubsonic call says so in an answer; one that
    // answered nothing at all is not asked again for this lyric.
    if (text.isEmpty() && synced.status != Reply::Status::Unreachable &&
        synced.status != Reply::Status::Untrusted) {
        const Reply plain =
            m_client->call(QStringLiteral("getLyrics"), {{QStringLiteral("artist"), facts.artist},
                                                         {QStringLiteral("title"), facts.title}});
        if (plain.ok())
            text = SubsonicAnswer::plainLyrics(plain.body);
    }
    return LyricText::served(text, facts.durationSeconds);
}

std::optional<Song> SubsonicSource::songById(qint64 id) const
{
    const auto known = m_songs.find(id);
    if (!known)
        return std::nullopt;
    Song song = songOf(id, known->facts);
    song.audioUrl =
        m_client->signedUrl(QStringLiteral("stream"), {{QStringLiteral("id"), known->serverId}});
    // The link says whether there is a lyric; the answer is kept, so the
    // player's request for it right after costs the server nothing.
    song.hasLyrics = !lyricOf(known->serverId, known->facts).isEmpty();
    return song;
}

std::optional<Payload> SubsonicSource::lyric(qint64 id)
{
    const auto known = m_songs.find(id);
    if (!known)
        return std::nullopt;
    QByteArray lrc = lyricOf(known->serverId, known->facts);
    if (lrc.isEmpty())
        return std::nullopt;
    return Payload{std::make_shared<const QByteArray>(std::move(lrc)), nullptr, kText};
}

std::optional<Payload> SubsonicSource::audio(qint64, const QString &)
{
    return std::nullopt;
}

// The singer's picture is the artist's cover art, else that of the first
// listed song. getArtistInfo2 is not asked: its image URLs point at sites
// outside the user's server, which the bridge does not contact.
std::optional<SingerEntry> SubsonicSource::singerByName(const QString &name) const
{
    const QString key = looseKey(name);
    if (key.isEmpty())
        return std::nullopt;
    const Reply reply =
        m_client->call(QStringLiteral("search3"),
                       {{QStringLiteral("query"), name.simplified()},
                        {QStringLiteral("artistCount"), QString::number(kSingerArtistsAsked)},
                        {QStringLiteral("songCount"), QString::number(kSingerSongsAsked)},
                        {QStringLiteral("albumCount"), QStringLiteral("0")}});
    if (!reply.ok())
        return std::nullopt;
    const QJsonObject result = resultOf(reply);
    std::optional<subsonic::ArtistFacts> artist;
    for (const subsonic::ArtistFacts &a :
         SubsonicAnswer::artists(result, QStringLiteral("artist"))) {
        if (looseKey(a.name) == key) {
            artist = a;
            break;
        }
    }
    SingerEntry entry;
    QString cover = artist ? artist->coverArt : QString();
    for (const SongFacts &facts : SubsonicAnswer::songs(result, QStringLiteral("song"))) {
        if (looseKey(facts.artist) != key || entry.songs.size() >= kSongsListed)
            continue;
        entry.songs.append(remember(facts));
        if (cover.isEmpty())
            cover = facts.coverArt;
    }
    if (!artist && entry.songs.isEmpty())
        return std::nullopt;
    entry.singer.name = artist ? artist->name : entry.songs.constFirst().singer;
    entry.singer.hasPicture = !cover.isEmpty();
    entry.singer.pictureKey = QString::number(
        cover.isEmpty() ? subsonic::SubsonicIds<int>::hashed(key) : m_covers.remember(cover, 0),
        16);
    return entry;
}

std::optional<Payload> SubsonicSource::picture(const QString &key)
{
    bool ok = false;
    const qint64 number = key.toLongLong(&ok, 16);
    const auto cover = ok ? m_covers.find(number) : std::nullopt;
    if (!cover)
        return std::nullopt;
    const std::string cacheKey = key.toStdString();
    if (ByteCache::Value value = m_pictures.find(cacheKey))
        return Payload{value, nullptr, kJpeg};
    const std::optional<QByteArray> bytes = m_client->picture(cover->serverId, kPictureSide);
    QByteArray jpeg = bytes ? singerPictureFromImage(*bytes) : QByteArray();
    if (jpeg.isEmpty())
        return std::nullopt;
    return Payload{m_pictures.insert(cacheKey, std::move(jpeg)), nullptr, kJpeg};
}

} // namespace musicd
