#include "musicd/SubsonicMedia.h"

#include "musicd/LyricText.h"
#include "musicd/SubsonicEntries.h"

#include <QBuffer>
#include <QImage>
#include <QUrl>

namespace musicd {

using namespace subsonic;

namespace {

constexpr qint64 kScaledCacheBytes = 16 * 1024 * 1024;
// Larger sizes are served as the largest: nobody shows a cover wider.
constexpr int kMaxPictureSide = 2048;
constexpr int kJpegQuality = 85;
// The picture sizes getArtistInfo offers.
constexpr int kSmallImage = 300;
constexpr int kMediumImage = 600;

const char kJpeg[] = "image/jpeg";

SubsonicResult missing(const char *name)
{
    return SubsonicResult::error(
        10, QStringLiteral("Required parameter is missing: %1").arg(QLatin1String(name)));
}

SubsonicResult notFound(const QString &what)
{
    return SubsonicResult::error(70, QStringLiteral("%1 not found").arg(what));
}

SubsonicResult payloadResult(Payload payload)
{
    SubsonicResult result;
    SubsonicAnswer answer;
    answer.contentType = payload.contentType;
    answer.payload = std::move(payload);
    result.raw = std::move(answer);
    return result;
}

} // namespace

SubsonicMedia::SubsonicMedia(ApiLibrary *library, MusicSource &media)
    : m_library(library), m_media(media), m_scaled(kScaledCacheBytes)
{
}

bool SubsonicMedia::answers(const QString &endpoint)
{
    static const QStringList names = {QStringLiteral("stream"),
                                      QStringLiteral("download"),
                                      QStringLiteral("getCoverArt"),
                                      QStringLiteral("getLyrics"),
                                      QStringLiteral("getLyricsBySongId"),
                                      QStringLiteral("getArtistInfo"),
                                      QStringLiteral("getArtistInfo2")};
    return names.contains(endpoint);
}

SubsonicResult SubsonicMedia::answer(const QString &endpoint, const SubsonicCall &call)
{
    if (endpoint == QLatin1String("stream") || endpoint == QLatin1String("download"))
        return stream(call);
    if (endpoint == QLatin1String("getCoverArt"))
        return coverArt(call);
    if (endpoint == QLatin1String("getLyrics"))
        return lyrics(call);
    if (endpoint == QLatin1String("getLyricsBySongId"))
        return lyricsBySongId(call);
    return artistInfo(call, endpoint == QLatin1String("getArtistInfo2"));
}

SubsonicResult SubsonicMedia::stream(const SubsonicCall &call)
{
    if (!call.request.has(QStringLiteral("id")))
        return missing("id");
    const EntityId id = parseId(call.request.value(QStringLiteral("id")));
    if (id.kind != ApiLibrary::Kind::Song || id.id == 0)
        return notFound(QStringLiteral("Song"));
    QString suffix = QStringLiteral("wav"); // all the built-in catalogue has
    if (m_library) {
        const std::optional<ApiSong> song = m_library->song(id.id, call.user);
        if (!song)
            return notFound(QStringLiteral("Song"));
        suffix = song->suffix;
    }
    std::optional<Payload> payload = m_media.audio(id.id, suffix);
    if (!payload)
        return notFound(QStringLiteral("Song"));
    return payloadResult(std::move(*payload));
}

qint64 SubsonicMedia::pictureSong(const QString &text, const QString &user) const
{
    const EntityId id = parseId(text);
    if (id.id == 0)
        return 0;
    if (!m_library)
        return id.kind == ApiLibrary::Kind::Song ? id.id : 0;
    switch (id.kind) {
    case ApiLibrary::Kind::Song: {
        const std::optional<ApiSong> song = m_library->song(id.id, user);
        return song && song->hasCover ? song->id : 0;
    }
    case ApiLibrary::Kind::Album: {
        const std::optional<ApiAlbum> album = m_library->album(id.id, user);
        return album ? album->coverSongId : 0;
    }
    case ApiLibrary::Kind::Artist: {
        const std::optional<ApiArtist> artist = m_library->artist(id.id, user);
        return artist ? artist->coverSongId : 0;
    }
    }
    return 0;
}

SubsonicResult SubsonicMedia::coverArt(const SubsonicCall &call)
{
    if (!call.request.has(QStringLiteral("id")))
        return missing("id");
    const qint64 songId = pictureSong(call.request.value(QStringLiteral("id")), call.user);
    std::optional<Payload> original = songId > 0 ? m_media.cover(songId) : std::nullopt;
    if (!original || !original->bytes)
        return notFound(QStringLiteral("Cover art"));
    const qint64 size = parseNumber(call.request.value(QStringLiteral("size")));
    if (size <= 0)
        return payloadResult(std::move(*original));
    const int side = int(std::min<qint64>(size, kMaxPictureSide));
    // Keyed by the original's bytes too: a changed picture is scaled anew.
    const std::string key = std::to_string(songId) + ":" + std::to_string(side) + ":" +
                            std::to_string(qHash(*original->bytes));
    if (ByteCache::Value cached = m_scaled.find(key))
        return payloadResult(Payload{cached, nullptr, kJpeg});
    QImage image = QImage::fromData(*original->bytes);
    if (image.isNull())
        return notFound(QStringLiteral("Cover art"));
    if (image.width() <= side && image.height() <= side)
        return payloadResult(std::move(*original)); // never scaled up
    image = image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (image.hasAlphaChannel())
        image = image.convertToFormat(QImage::Format_RGB32);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", kJpegQuality);
    return payloadResult(Payload{m_scaled.insert(key, std::move(jpeg)), nullptr, kJpeg});
}

SubsonicMedia::LyricLines SubsonicMedia::lyricLines(qint64 songId)
{
    // The lyric as written where the source keeps it: the lyric the player
    // gets has times spread over plain lines, which an app would take for
    // the singer's.
    QString text;
    if (const std::optional<QString> written = m_media.writtenLyric(songId)) {
        text = *written;
    } else if (const std::optional<Payload> payload = m_media.lyric(songId);
               payload && payload->bytes) {
        text = QString::fromUtf8(*payload->bytes);
    }
    LyricLines out;
    out.synced = LyricText::hasTimeTags(text);
    if (out.synced) {
        out.lines = LyricText::timedLines(text);
    } else {
        for (const QString &line : LyricText::plainLines(text))
            out.lines.append(LyricText::TimedLine{0, line});
    }
    return out;
}

SubsonicResult SubsonicMedia::lyrics(const SubsonicCall &call)
{
    const QString artist = call.request.value(QStringLiteral("artist")).trimmed();
    const QString title = call.request.value(QStringLiteral("title")).trimmed();
    SubsonicNode node(QStringLiteral("lyrics"));
    if (!m_library || title.isEmpty())
        return SubsonicResult::of(std::move(node));
    ApiSearch search;
    search.query = title;
    search.artistCount = 0;
    search.albumCount = 0;
    search.songCount = 50;
    for (const ApiSong &song : m_library->search(search, call.user).songs) {
        if (song.title.compare(title, Qt::CaseInsensitive) != 0 ||
            (!artist.isEmpty() && !song.artist.contains(artist, Qt::CaseInsensitive)))
            continue;
        QStringList lines;
        for (const LyricText::TimedLine &line : lyricLines(song.id).lines)
            lines.append(line.text);
        if (lines.isEmpty())
            continue;
        node.set(QStringLiteral("artist"), song.artist)
            .set(QStringLiteral("title"), song.title)
            .setText(lines.join(QLatin1Char('\n')));
        break;
    }
    return SubsonicResult::of(std::move(node));
}

SubsonicResult SubsonicMedia::lyricsBySongId(const SubsonicCall &call)
{
    if (!call.request.has(QStringLiteral("id")))
        return missing("id");
    const EntityId id = parseId(call.request.value(QStringLiteral("id")));
    std::optional<ApiSong> song;
    if (id.kind == ApiLibrary::Kind::Song && id.id > 0 && m_library)
        song = m_library->song(id.id, call.user);
    if (!song)
        return notFound(QStringLiteral("Song"));
    SubsonicNode list(QStringLiteral("lyricsList"));
    list.declareList(QStringLiteral("structuredLyrics"));
    const LyricLines lines = lyricLines(song->id);
    if (!lines.lines.isEmpty()) {
        SubsonicNode lyrics(QStringLiteral("structuredLyrics"), SubsonicNode::Shape::List);
        lyrics.set(QStringLiteral("displayArtist"), song->artist)
            .set(QStringLiteral("displayTitle"), song->title)
            .set(QStringLiteral("lang"), QStringLiteral("und"))
            .set(QStringLiteral("offset"), 0)
            .set(QStringLiteral("synced"), lines.synced);
        for (const LyricText::TimedLine &line : lines.lines) {
            SubsonicNode node(QStringLiteral("line"), SubsonicNode::Shape::List);
            if (lines.synced)
                node.set(QStringLiteral("start"), line.startMs);
            node.setText(line.text);
            lyrics.add(std::move(node));
        }
        list.add(std::move(lyrics));
    }
    return SubsonicResult::of(std::move(list));
}

SubsonicResult SubsonicMedia::artistInfo(const SubsonicCall &call, bool id3)
{
    if (!call.request.has(QStringLiteral("id")))
        return missing("id");
    const EntityId id = parseId(call.request.value(QStringLiteral("id")));
    std::optional<ApiArtist> artist;
    if (id.kind == ApiLibrary::Kind::Artist && m_library)
        artist = m_library->artist(id.id, call.user);
    if (!artist)
        return notFound(QStringLiteral("Artist"));
    SubsonicNode node(id3 ? QStringLiteral("artistInfo2") : QStringLiteral("artistInfo"));
    if (artist->coverSongId > 0) {
        // The app loads these as they are: they carry its own credentials,
        // as its getCoverArt requests would.
        QString query = QStringLiteral("id=") + artistId(artist->id);
        for (const char *name : {"u", "t", "s", "p", "apiKey", "v", "c"}) {
            const QString key = QLatin1String(name);
            if (call.request.has(key))
                query += QLatin1Char('&') + key + QLatin1Char('=') +
                         QString::fromLatin1(QUrl::toPercentEncoding(call.request.value(key)));
        }
        const QString base = QStringLiteral("http://%1/rest/getCoverArt?").arg(call.request.host);
        const QString all = query;
        for (const auto &[name, size] :
             {std::pair{"smallImageUrl", kSmallImage}, std::pair{"mediumImageUrl", kMediumImage},
              std::pair{"largeImageUrl", 0}}) {
            const QString url =
                base + all + (size > 0 ? QStringLiteral("&size=%1").arg(size) : QString());
            node.add(SubsonicNode(QLatin1String(name), SubsonicNode::Shape::Scalar).setText(url));
        }
    }
    return SubsonicResult::of(std::move(node));
}

} // namespace musicd
