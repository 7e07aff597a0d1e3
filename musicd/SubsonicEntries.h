// The Subsonic API's entries built from the library's records: a song as
// `song`/`child`/`entry`, an album as AlbumID3 or as a directory child, an
// artist as ArtistID3 or as an index entry, a playlist; and the IDs they
// carry. Songs keep their track ID ("123", as /music/123 serves them);
// albums and artists are told apart by a prefix ("al-7", "ar-3"), so one
// getMusicDirectory or getCoverArt ID says what it names.
#pragma once

#include "musicd/SubsonicNode.h"
#include "musicd/library/ApiLibrary.h"

namespace musicd::subsonic {

struct EntityId
{
    ApiLibrary::Kind kind = ApiLibrary::Kind::Song;
    qint64 id = 0; // 0: not an ID of ours
};

QString songId(qint64 id);
QString albumId(qint64 id);
QString artistId(qint64 id);
// "123", "al-7" or "ar-3"; id 0 for anything else.
EntityId parseId(const QString &text);
// Digits only, as playlist IDs and positions are; -1 otherwise.
qint64 parseNumber(const QString &text);

// xs:dateTime in UTC, as the API's dates are ("2024-05-01T10:00:00.000Z").
QString isoTime(qint64 secondsSinceEpoch);

SubsonicNode songNode(const ApiSong &song, const QString &elementName = QStringLiteral("song"));
SubsonicNode albumId3Node(const ApiAlbum &album,
                          const QString &elementName = QStringLiteral("album"));
// The album as a directory child (getAlbumList, getMusicDirectory, search2).
SubsonicNode albumChildNode(const ApiAlbum &album,
                            const QString &elementName = QStringLiteral("album"));
// An artist, in the ID3 lists and the plain ones (getIndexes, search2,
// getStarred) alike: the plain form's attributes are a subset.
SubsonicNode artistNode(const ApiArtist &artist);
SubsonicNode playlistNode(const ApiPlaylist &playlist, bool withEntries);

// The `index` groups of getIndexes and getArtists: by the first letter of
// the name after a leading article, "#" for the rest.
QChar indexLetter(QStringView name);
extern const char kIgnoredArticles[];

} // namespace musicd::subsonic
