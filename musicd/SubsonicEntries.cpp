#include "musicd/SubsonicEntries.h"

#include "musicd/LibrarySource.h"

#include <QDateTime>
#include <QStringList>

namespace musicd::subsonic {

const char kIgnoredArticles[] = "The El La Los Las Le Les";

namespace {

const QLatin1String kAlbumPrefix("al-");
const QLatin1String kArtistPrefix("ar-");

// Attributes the API leaves out when there is nothing to say.
QVariant positive(qint64 value)
{
    return value > 0 ? QVariant(value) : QVariant();
}

QVariant nonEmpty(const QString &text)
{
    return text.isEmpty() ? QVariant() : QVariant(text);
}

QVariant timeOrNothing(qint64 seconds)
{
    return seconds > 0 ? QVariant(isoTime(seconds)) : QVariant();
}

} // namespace

QString songId(qint64 id)
{
    return QString::number(id);
}

QString albumId(qint64 id)
{
    return kAlbumPrefix + QString::number(id);
}

QString artistId(qint64 id)
{
    return kArtistPrefix + QString::number(id);
}

qint64 parseNumber(const QString &text)
{
    if (text.isEmpty() || text.size() > 15)
        return -1;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
    }
    return text.toLongLong();
}

EntityId parseId(const QString &text)
{
    EntityId result;
    QString digits = text;
    if (text.startsWith(kAlbumPrefix)) {
        result.kind = ApiLibrary::Kind::Album;
        digits = text.mid(kAlbumPrefix.size());
    } else if (text.startsWith(kArtistPrefix)) {
        result.kind = ApiLibrary::Kind::Artist;
        digits = text.mid(kArtistPrefix.size());
    }
    const qint64 n = parseNumber(digits);
    result.id = n > 0 ? n : 0;
    return result;
}

QString isoTime(qint64 secondsSinceEpoch)
{
    return QDateTime::fromSecsSinceEpoch(secondsSinceEpoch, Qt::UTC).toString(Qt::ISODateWithMs);
}

SubsonicNode songNode(const ApiSong &song, const QString &elementName)
{
    SubsonicNode node(elementName, SubsonicNode::Shape::List);
    node.set(QStringLiteral("id"), songId(song.id))
        .set(QStringLiteral("parent"),
             song.albumId > 0 ? QVariant(albumId(song.albumId)) : QVariant())
        .set(QStringLiteral("isDir"), false)
        .set(QStringLiteral("title"), song.title)
        .set(QStringLiteral("album"), nonEmpty(song.album))
        .set(QStringLiteral("artist"), nonEmpty(song.artist))
        .set(QStringLiteral("track"), positive(song.track))
        .set(QStringLiteral("year"), positive(song.year))
        .set(QStringLiteral("genre"), nonEmpty(song.genre))
        .set(QStringLiteral("coverArt"), song.hasCover ? QVariant(songId(song.id)) : QVariant())
        .set(QStringLiteral("size"), song.size)
        .set(QStringLiteral("contentType"),
             QString::fromStdString(LibrarySource::contentTypeOf(song.suffix)))
        .set(QStringLiteral("suffix"), song.suffix)
        .set(QStringLiteral("duration"), song.durationSeconds)
        .set(QStringLiteral("bitRate"), positive(song.bitRateKbps))
        .set(QStringLiteral("path"), nonEmpty(song.path))
        .set(QStringLiteral("playCount"), song.playCount)
        .set(QStringLiteral("played"), timeOrNothing(song.lastPlayed))
        .set(QStringLiteral("discNumber"), positive(song.disc))
        .set(QStringLiteral("created"), timeOrNothing(song.created))
        .set(QStringLiteral("starred"), timeOrNothing(song.starred))
        .set(QStringLiteral("albumId"),
             song.albumId > 0 ? QVariant(albumId(song.albumId)) : QVariant())
        .set(QStringLiteral("artistId"),
             song.artistId > 0 ? QVariant(artistId(song.artistId)) : QVariant())
        .set(QStringLiteral("type"), QStringLiteral("music"))
        .set(QStringLiteral("mediaType"), QStringLiteral("song"))
        .set(QStringLiteral("isVideo"), false);
    return node;
}

SubsonicNode albumId3Node(const ApiAlbum &album, const QString &elementName)
{
    SubsonicNode node(elementName, SubsonicNode::Shape::List);
    node.set(QStringLiteral("id"), albumId(album.id))
        .set(QStringLiteral("name"), album.name)
        .set(QStringLiteral("artist"), nonEmpty(album.artist))
        .set(QStringLiteral("artistId"),
             album.artistId > 0 ? QVariant(artistId(album.artistId)) : QVariant())
        .set(QStringLiteral("coverArt"),
             album.coverSongId > 0 ? QVariant(albumId(album.id)) : QVariant())
        .set(QStringLiteral("songCount"), album.songCount)
        .set(QStringLiteral("duration"), album.durationSeconds)
        .set(QStringLiteral("playCount"), album.playCount)
        .set(QStringLiteral("played"), timeOrNothing(album.lastPlayed))
        .set(QStringLiteral("created"), isoTime(album.created))
        .set(QStringLiteral("starred"), timeOrNothing(album.starred))
        .set(QStringLiteral("year"), positive(album.year))
        .set(QStringLiteral("genre"), nonEmpty(album.genre));
    return node;
}

SubsonicNode albumChildNode(const ApiAlbum &album, const QString &elementName)
{
    SubsonicNode node(elementName, SubsonicNode::Shape::List);
    node.set(QStringLiteral("id"), albumId(album.id))
        .set(QStringLiteral("parent"),
             album.artistId > 0 ? QVariant(artistId(album.artistId)) : QVariant())
        .set(QStringLiteral("isDir"), true)
        .set(QStringLiteral("title"), album.name)
        .set(QStringLiteral("album"), album.name)
        .set(QStringLiteral("artist"), nonEmpty(album.artist))
        .set(QStringLiteral("year"), positive(album.year))
        .set(QStringLiteral("genre"), nonEmpty(album.genre))
        .set(QStringLiteral("coverArt"),
             album.coverSongId > 0 ? QVariant(albumId(album.id)) : QVariant())
        .set(QStringLiteral("duration"), album.durationSeconds)
        .set(QStringLiteral("playCount"), album.playCount)
        .set(QStringLiteral("created"), isoTime(album.created))
        .set(QStringLiteral("starred"), timeOrNothing(album.starred))
        .set(QStringLiteral("albumId"), albumId(album.id))
        .set(QStringLiteral("artistId"),
             album.artistId > 0 ? QVariant(artistId(album.artistId)) : QVariant());
    return node;
}

SubsonicNode artistNode(const ApiArtist &artist)
{
    SubsonicNode node(QStringLiteral("artist"), SubsonicNode::Shape::List);
    node.set(QStringLiteral("id"), artistId(artist.id))
        .set(QStringLiteral("name"), artist.name)
        .set(QStringLiteral("coverArt"),
             artist.coverSongId > 0 ? QVariant(artistId(artist.id)) : QVariant())
        .set(QStringLiteral("albumCount"), artist.albumCount)
        .set(QStringLiteral("starred"), timeOrNothing(artist.starred));
    return node;
}

SubsonicNode playlistNode(const ApiPlaylist &playlist, bool withEntries)
{
    SubsonicNode node(QStringLiteral("playlist"),
                      withEntries ? SubsonicNode::Shape::Object : SubsonicNode::Shape::List);
    node.set(QStringLiteral("id"), QString::number(playlist.id))
        .set(QStringLiteral("name"), playlist.name)
        .set(QStringLiteral("comment"), nonEmpty(playlist.comment))
        .set(QStringLiteral("owner"), playlist.owner)
        .set(QStringLiteral("public"), playlist.isPublic)
        .set(QStringLiteral("songCount"), playlist.songCount)
        .set(QStringLiteral("duration"), playlist.durationSeconds)
        .set(QStringLiteral("created"), isoTime(playlist.created))
        .set(QStringLiteral("changed"), isoTime(playlist.changed));
    if (withEntries) {
        node.declareList(QStringLiteral("entry"));
        for (const ApiSong &song : playlist.entries)
            node.add(songNode(song, QStringLiteral("entry")));
    }
    return node;
}

QChar indexLetter(QStringView name)
{
    // Read once: the list is asked for 50,000 names at a time.
    static const QStringList kArticles =
        QString::fromLatin1(kIgnoredArticles).split(QLatin1Char(' '));
    QStringView rest = name.trimmed();
    for (const QString &article : kArticles) {
        if (rest.size() > article.size() + 1 && rest.at(article.size()) == QLatin1Char(' ') &&
            rest.startsWith(article, Qt::CaseInsensitive)) {
            rest = rest.mid(article.size() + 1).trimmed();
            break;
        }
    }
    const QChar first = rest.isEmpty() ? QChar() : rest.front().toUpper();
    return first >= QLatin1Char('A') && first <= QLatin1Char('Z') ? first : QLatin1Char('#');
}

} // namespace musicd::subsonic
