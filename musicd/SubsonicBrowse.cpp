#include "musicd/SubsonicBrowse.h"

#include "musicd/SubsonicEntries.h"

#include <QDateTime>
#include <algorithm>
#include <array>
#include <climits>
#include <vector>

namespace musicd {

using namespace subsonic;

namespace {

// The most entries one list request gets, as the API documents for its lists.
constexpr int kMaxListSize = 500;

SubsonicResult missing(const char *name)
{
    return SubsonicResult::error(
        10, QStringLiteral("Required parameter is missing: %1").arg(QLatin1String(name)));
}

SubsonicResult notFound(const QString &what)
{
    return SubsonicResult::error(70, QStringLiteral("%1 not found").arg(what));
}

SubsonicResult badValue(const char *name)
{
    return SubsonicResult::error(
        0, QStringLiteral("Invalid value for parameter %1").arg(QLatin1String(name)));
}

// An optional whole-number parameter, clamped; nullopt when present but not
// a number.
std::optional<int> number(const SubsonicRequest &request, const char *name, int fallback,
                          int lowest, int highest)
{
    const QString text = request.value(QLatin1String(name));
    if (text.isEmpty())
        return fallback;
    bool ok = false;
    const qint64 n = text.toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return int(std::clamp<qint64>(n, lowest, highest));
}

bool isTrue(const QString &text)
{
    return text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

} // namespace

bool SubsonicBrowse::answers(const QString &endpoint)
{
    static const QStringList names = {QStringLiteral("getMusicFolders"),
                                      QStringLiteral("getIndexes"),
                                      QStringLiteral("getArtists"),
                                      QStringLiteral("getArtist"),
                                      QStringLiteral("getAlbum"),
                                      QStringLiteral("getSong"),
                                      QStringLiteral("getMusicDirectory"),
                                      QStringLiteral("getAlbumList"),
                                      QStringLiteral("getAlbumList2"),
                                      QStringLiteral("getRandomSongs"),
                                      QStringLiteral("getGenres"),
                                      QStringLiteral("getSongsByGenre"),
                                      QStringLiteral("search2"),
                                      QStringLiteral("search3"),
                                      QStringLiteral("getPlaylists"),
                                      QStringLiteral("getPlaylist"),
                                      QStringLiteral("createPlaylist"),
                                      QStringLiteral("updatePlaylist"),
                                      QStringLiteral("deletePlaylist"),
                                      QStringLiteral("star"),
                                      QStringLiteral("unstar"),
                                      QStringLiteral("getStarred"),
                                      QStringLiteral("getStarred2"),
                                      QStringLiteral("scrobble")};
    return names.contains(endpoint);
}

SubsonicResult SubsonicBrowse::answer(const QString &e, const SubsonicCall &call)
{
    if (e == QLatin1String("getMusicFolders"))
        return musicFolders();
    if (e == QLatin1String("getIndexes"))
        return indexes(call, false);
    if (e == QLatin1String("getArtists"))
        return indexes(call, true);
    if (e == QLatin1String("getArtist"))
        return artist(call);
    if (e == QLatin1String("getAlbum"))
        return album(call);
    if (e == QLatin1String("getSong"))
        return song(call);
    if (e == QLatin1String("getMusicDirectory"))
        return directory(call);
    if (e == QLatin1String("getAlbumList"))
        return albumList(call, false);
    if (e == QLatin1String("getAlbumList2"))
        return albumList(call, true);
    if (e == QLatin1String("getRandomSongs"))
        return randomSongs(call);
    if (e == QLatin1String("getGenres"))
        return genres();
    if (e == QLatin1String("getSongsByGenre"))
        return songsByGenre(call);
    if (e == QLatin1String("search2"))
        return search(call, false);
    if (e == QLatin1String("search3"))
        return search(call, true);
    if (e == QLatin1String("getPlaylists"))
        return playlists(call);
    if (e == QLatin1String("getPlaylist"))
        return playlist(call);
    if (e == QLatin1String("createPlaylist"))
        return createPlaylist(call);
    if (e == QLatin1String("updatePlaylist"))
        return updatePlaylist(call);
    if (e == QLatin1String("deletePlaylist"))
        return deletePlaylist(call);
    if (e == QLatin1String("star"))
        return star(call, true);
    if (e == QLatin1String("unstar"))
        return star(call, false);
    if (e == QLatin1String("getStarred"))
        return starredList(call, false);
    if (e == QLatin1String("getStarred2"))
        return starredList(call, true);
    return scrobble(call);
}

SubsonicResult SubsonicBrowse::musicFolders() const
{
    SubsonicNode folders(QStringLiteral("musicFolders"));
    folders.add(SubsonicNode(QStringLiteral("musicFolder"), SubsonicNode::Shape::List)
                    .set(QStringLiteral("id"), kFolderId)
                    .set(QStringLiteral("name"), QStringLiteral("Music")));
    return SubsonicResult::of(std::move(folders));
}

SubsonicResult SubsonicBrowse::indexes(const SubsonicCall &call, bool id3) const
{
    // Letters in order, "#" (names that start otherwise) last; each
    // letter's artists in the list's own order.
    const QList<ApiArtist> artists = m_library.artists(call.user);
    constexpr int kLetters = 27;
    std::array<std::vector<qsizetype>, kLetters> groups;
    for (qsizetype i = 0; i < artists.size(); ++i) {
        const QChar letter = indexLetter(artists.at(i).name);
        groups[letter == QLatin1Char('#') ? kLetters - 1 : letter.unicode() - 'A'].push_back(i);
    }
    SubsonicNode node(id3 ? QStringLiteral("artists") : QStringLiteral("indexes"));
    node.set(QStringLiteral("ignoredArticles"), QString::fromLatin1(kIgnoredArticles));
    if (!id3)
        node.set(QStringLiteral("lastModified"), QDateTime::currentMSecsSinceEpoch());
    node.declareList(QStringLiteral("index"));
    for (int letter = 0; letter < kLetters; ++letter) {
        if (groups[letter].empty())
            continue;
        SubsonicNode index(QStringLiteral("index"), SubsonicNode::Shape::List);
        index.set(QStringLiteral("name"),
                  letter == kLetters - 1 ? QStringLiteral("#") : QString(QChar('A' + letter)));
        for (const qsizetype i : groups[letter])
            index.add(artistNode(artists.at(i)));
        node.add(std::move(index));
    }
    return SubsonicResult::of(std::move(node));
}

SubsonicResult SubsonicBrowse::artist(const SubsonicCall &call) const
{
    if (!call.request.has(QStringLiteral("id")))
        return missing("id");
    const EntityId id = parseId(call.request.value(QStringLiteral("id")));
    const std::optional<ApiArtist> artist =
        id.kind == ApiLibrary::Kind::Artist ? m_library.artist(id.id, call.user) : std::nullopt;
    if (!artist)
        return notFound(QStringLiteral("Artist"));
    SubsonicNode node = artistNode(*artist).asObject();
    node.declareList(QStringLiteral("album"));
    for (const ApiAlbum &album : m_library.albumsOfArtist(artist->id, call.user))
        node.add(albumId3Node(album));
    return SubsonicResult::of(std::move(node));
}

SubsonicResult SubsonicBrowse::album(const SubsonicCall &call) const
{
    if (!call.request.has(QStringLiteral("id")))
        return missing("id");
    const EntityId id = parseId(call.request.value(QStringLiteral("id")));
    const std::optional<ApiAlbum> album =
        id.kind == ApiLibrary::Kind::Album ? m_library.album(id.id, call.user) : std::nullopt;
    if (!album)
        return notFound(QStringLiteral("Album"));
    SubsonicNode node = albumId3Node(*album).asObject();
    node.declareList(QStringLiteral("song"));
    for (const ApiSong &song : m_library.songsOfAlbum(album->id, call.user))
        node.add(songNode(song));
    return SubsonicResult::of(std::move(node));
}

SubsonicResult SubsonicBrowse::song(const SubsonicCall &call) const
{
    if (!call.request.has(QStringLiteral("id")))
        return missing("id");
    const EntityId id = parseId(call.request.value(QStringLiteral("id")));
    const std::optional<ApiSong> song =
        id.kind == ApiLibrary::Kind::Song ? m_library.song(id.id, call.user) : std::nullopt;
    if (!song)
        return notFound(QStringLiteral("Song"));
    return SubsonicResult::of(songNode(*song).asObject());
}

SubsonicResult SubsonicBrowse::directory(const SubsonicCall &call) const
{
    if (!call.request.has(QStringLiteral("id")))
        return missing("id");
    const EntityId id = parseId(call.request.value(QStringLiteral("id")));
    SubsonicNode node(QStringLiteral("directory"));
    node.declareList(QStringLiteral("child"));
    if (id.kind == ApiLibrary::Kind::Artist) {
        const std::optional<ApiArtist> artist = m_library.artist(id.id, call.user);
        if (!artist)
            return notFound(QStringLiteral("Directory"));
        node.set(QStringLiteral("id"), artistId(artist->id))
            .set(QStringLiteral("name"), artist->name)
            .set(QStringLiteral("starred"),
                 artist->starred > 0 ? QVariant(isoTime(artist->starred)) : QVariant());
        for (const ApiAlbum &album : m_library.albumsOfArtist(artist->id, call.user))
            node.add(albumChildNode(album, QStringLiteral("child")));
        return SubsonicResult::of(std::move(node));
    }
    const std::optional<ApiAlbum> album =
        id.kind == ApiLibrary::Kind::Album ? m_library.album(id.id, call.user) : std::nullopt;
    if (!album)
        return notFound(QStringLiteral("Directory"));
    node.set(QStringLiteral("id"), albumId(album->id))
        .set(QStringLiteral("parent"),
             album->artistId > 0 ? QVariant(artistId(album->artistId)) : QVariant())
        .set(QStringLiteral("name"), album->name)
        .set(QStringLiteral("starred"),
             album->starred > 0 ? QVariant(isoTime(album->starred)) : QVariant());
    for (const ApiSong &song : m_library.songsOfAlbum(album->id, call.user))
        node.add(songNode(song, QStringLiteral("child")));
    return SubsonicResult::of(std::move(node));
}

SubsonicResult SubsonicBrowse::albumList(const SubsonicCall &call, bool id3) const
{
    static const QList<std::pair<QString, AlbumOrder>> kTypes = {
        {QStringLiteral("newest"), AlbumOrder::Newest},
        {QStringLiteral("alphabeticalByName"), AlbumOrder::AlphabeticalByName},
        {QStringLiteral("alphabeticalByArtist"), AlbumOrder::AlphabeticalByArtist},
        {QStringLiteral("random"), AlbumOrder::Random},
        {QStringLiteral("byYear"), AlbumOrder::ByYear},
        {QStringLiteral("byGenre"), AlbumOrder::ByGenre},
        {QStringLiteral("frequent"), AlbumOrder::Frequent},
        {QStringLiteral("recent"), AlbumOrder::Recent},
        {QStringLiteral("starred"), AlbumOrder::Starred},
        // "highest" (by rating) has no ratings to go by here: the most
        // played stand in for the best liked.
        {QStringLiteral("highest"), AlbumOrder::Frequent},
    };
    const SubsonicRequest &r = call.request;
    if (!r.has(QStringLiteral("type")))
        return missing("type");
    AlbumQuery query;
    const QString type = r.value(QStringLiteral("type"));
    bool known = false;
    for (const auto &[name, order] : kTypes) {
        if (name == type) {
            query.order = order;
            known = true;
        }
    }
    if (!known)
        return badValue("type");
    const std::optional<int> size = number(r, "size", 10, 1, kMaxListSize);
    const std::optional<int> offset = number(r, "offset", 0, 0, INT_MAX);
    if (!size || !offset)
        return badValue(size ? "offset" : "size");
    query.size = *size;
    query.offset = *offset;
    if (query.order == AlbumOrder::ByYear) {
        if (!r.has(QStringLiteral("fromYear")) || !r.has(QStringLiteral("toYear")))
            return missing(r.has(QStringLiteral("fromYear")) ? "toYear" : "fromYear");
        const std::optional<int> from = number(r, "fromYear", 0, 0, 9999);
        const std::optional<int> to = number(r, "toYear", 0, 0, 9999);
        if (!from || !to)
            return badValue(from ? "toYear" : "fromYear");
        query.fromYear = *from;
        query.toYear = *to;
    }
    if (query.order == AlbumOrder::ByGenre) {
        if (!r.has(QStringLiteral("genre")))
            return missing("genre");
        query.genre = r.value(QStringLiteral("genre"));
    }
    SubsonicNode node(id3 ? QStringLiteral("albumList2") : QStringLiteral("albumList"));
    node.declareList(QStringLiteral("album"));
    for (const ApiAlbum &album : m_library.albumList(query, call.user))
        node.add(id3 ? albumId3Node(album) : albumChildNode(album));
    return SubsonicResult::of(std::move(node));
}

SubsonicResult SubsonicBrowse::randomSongs(const SubsonicCall &call) const
{
    const SubsonicRequest &r = call.request;
    const std::optional<int> size = number(r, "size", 10, 1, kMaxListSize);
    const std::optional<int> from = number(r, "fromYear", 0, 0, 9999);
    const std::optional<int> to = number(r, "toYear", 0, 0, 9999);
    if (!size || !from || !to)
        return badValue(!size ? "size" : !from ? "fromYear" : "toYear");
    SubsonicNode node(QStringLiteral("randomSongs"));
    node.declareList(QStringLiteral("song"));
    for (const ApiSong &song :
         m_library.randomSongs(*size, r.value(QStringLiteral("genre")), *from, *to, call.user))
        node.add(songNode(song));
    return SubsonicResult::of(std::move(node));
}

SubsonicResult SubsonicBrowse::genres() const
{
    SubsonicNode node(QStringLiteral("genres"));
    node.declareList(QStringLiteral("genre"));
    for (const ApiGenre &genre : m_library.genres())
        node.add(SubsonicNode(QStringLiteral("genre"), SubsonicNode::Shape::List)
                     .set(QStringLiteral("songCount"), genre.songCount)
                     .set(QStringLiteral("albumCount"), genre.albumCount)
                     .setText(genre.name));
    return SubsonicResult::of(std::move(node));
}

SubsonicResult SubsonicBrowse::songsByGenre(const SubsonicCall &call) const
{
    const SubsonicRequest &r = call.request;
    if (!r.has(QStringLiteral("genre")))
        return missing("genre");
    const std::optional<int> count = number(r, "count", 10, 1, kMaxListSize);
    const std::optional<int> offset = number(r, "offset", 0, 0, INT_MAX);
    if (!count || !offset)
        return badValue(count ? "offset" : "count");
    SubsonicNode node(QStringLiteral("songsByGenre"));
    node.declareList(QStringLiteral("song"));
    for (const ApiSong &song :
         m_library.songsByGenre(r.value(QStringLiteral("genre")), *count, *offset, call.user))
        node.add(songNode(song));
    return SubsonicResult::of(std::move(node));
}

SubsonicResult SubsonicBrowse::search(const SubsonicCall &call, bool id3) const
{
    const SubsonicRequest &r = call.request;
    ApiSearch search;
    search.query = r.value(QStringLiteral("query")).trimmed();
    // Some apps ask for everything with a query of two quote marks.
    if (search.query == QLatin1String("\"\""))
        search.query.clear();
    const std::optional<int> artistCount = number(r, "artistCount", 20, 0, kMaxListSize);
    const std::optional<int> artistOffset = number(r, "artistOffset", 0, 0, INT_MAX);
    const std::optional<int> albumCount = number(r, "albumCount", 20, 0, kMaxListSize);
    const std::optional<int> albumOffset = number(r, "albumOffset", 0, 0, INT_MAX);
    const std::optional<int> songCount = number(r, "songCount", 20, 0, kMaxListSize);
    const std::optional<int> songOffset = number(r, "songOffset", 0, 0, INT_MAX);
    if (!artistCount || !artistOffset || !albumCount || !albumOffset || !songCount || !songOffset)
        return SubsonicResult::error(0, QStringLiteral("Invalid count or offset"));
    search.artistCount = *artistCount;
    search.artistOffset = *artistOffset;
    search.albumCount = *albumCount;
    search.albumOffset = *albumOffset;
    search.songCount = *songCount;
    search.songOffset = *songOffset;
    const ApiSearchResult found = m_library.search(search, call.user);
    SubsonicNode node(id3 ? QStringLiteral("searchResult3") : QStringLiteral("searchResult2"));
    node.declareList(QStringLiteral("artist"))
        .declareList(QStringLiteral("album"))
        .declareList(QStringLiteral("song"));
    for (const ApiArtist &artist : found.artists)
        node.add(artistNode(artist));
    for (const ApiAlbum &album : found.albums)
        node.add(id3 ? albumId3Node(album) : albumChildNode(album));
    for (const ApiSong &song : found.songs)
        node.add(songNode(song));
    return SubsonicResult::of(std::move(node));
}

SubsonicResult SubsonicBrowse::playlists(const SubsonicCall &call) const
{
    SubsonicNode node(QStringLiteral("playlists"));
    node.declareList(QStringLiteral("playlist"));
    for (const ApiPlaylist &playlist : m_library.playlists(call.user))
        node.add(playlistNode(playlist, false));
    return SubsonicResult::of(std::move(node));
}

SubsonicResult SubsonicBrowse::playlist(const SubsonicCall &call) const
{
    if (!call.request.has(QStringLiteral("id")))
        return missing("id");
    const qint64 id = parseNumber(call.request.value(QStringLiteral("id")));
    const std::optional<ApiPlaylist> playlist =
        id > 0 ? m_library.playlist(id, call.user) : std::nullopt;
    if (!playlist)
        return notFound(QStringLiteral("Playlist"));
    return SubsonicResult::of(playlistNode(*playlist, true));
}

namespace {

// The song IDs of a repeated parameter; false when one is not a song's.
bool songIds(const SubsonicRequest &r, const QString &name, QList<qint64> *ids)
{
    for (const QString &text : r.values(name)) {
        const EntityId id = parseId(text);
        if (id.kind != ApiLibrary::Kind::Song || id.id == 0)
            return false;
        ids->append(id.id);
    }
    return true;
}

} // namespace

SubsonicResult SubsonicBrowse::playlistRefusal(const SubsonicCall &call, qint64 id) const
{
    const std::optional<ApiPlaylist> playlist =
        id > 0 ? m_library.playlist(id, call.user) : std::nullopt;
    if (playlist && playlist->owner != call.user)
        return SubsonicResult::error(50, QStringLiteral("User is not authorized for the given "
                                                        "operation."));
    return notFound(QStringLiteral("Playlist"));
}

SubsonicResult SubsonicBrowse::createPlaylist(const SubsonicCall &call)
{
    const SubsonicRequest &r = call.request;
    QList<qint64> ids;
    if (!songIds(r, QStringLiteral("songId"), &ids))
        return notFound(QStringLiteral("Song"));
    qint64 id = 0;
    if (r.has(QStringLiteral("playlistId"))) {
        // The older way to replace a playlist's songs (and maybe its name).
        id = parseNumber(r.value(QStringLiteral("playlistId")));
        ApiLibrary::PlaylistChange change;
        if (r.has(QStringLiteral("name")))
            change.name = r.value(QStringLiteral("name"));
        change.replaceSongs = ids;
        if (id <= 0 || !m_library.updatePlaylist(call.user, id, change))
            return playlistRefusal(call, id);
    } else {
        if (!r.has(QStringLiteral("name")))
            return missing("name");
        id = m_library.createPlaylist(call.user, r.value(QStringLiteral("name")), ids);
        if (id <= 0)
            return SubsonicResult::error(0, QStringLiteral("The playlist could not be made"));
    }
    const std::optional<ApiPlaylist> made = m_library.playlist(id, call.user);
    if (!made)
        return notFound(QStringLiteral("Playlist"));
    return SubsonicResult::of(playlistNode(*made, true));
}

SubsonicResult SubsonicBrowse::updatePlaylist(const SubsonicCall &call)
{
    const SubsonicRequest &r = call.request;
    if (!r.has(QStringLiteral("playlistId")))
        return missing("playlistId");
    const qint64 id = parseNumber(r.value(QStringLiteral("playlistId")));
    ApiLibrary::PlaylistChange change;
    if (r.has(QStringLiteral("name")))
        change.name = r.value(QStringLiteral("name"));
    if (r.has(QStringLiteral("comment")))
        change.comment = r.value(QStringLiteral("comment"));
    if (r.has(QStringLiteral("public")))
        change.isPublic = isTrue(r.value(QStringLiteral("public")));
    if (!songIds(r, QStringLiteral("songIdToAdd"), &change.songIdsToAdd))
        return notFound(QStringLiteral("Song"));
    for (const QString &text : r.values(QStringLiteral("songIndexToRemove"))) {
        const qint64 index = parseNumber(text);
        if (index < 0 || index > INT_MAX)
            return badValue("songIndexToRemove");
        change.indexesToRemove.append(int(index));
    }
    if (id <= 0 || !m_library.updatePlaylist(call.user, id, change))
        return playlistRefusal(call, id);
    return SubsonicResult::ok();
}

SubsonicResult SubsonicBrowse::deletePlaylist(const SubsonicCall &call)
{
    if (!call.request.has(QStringLiteral("id")))
        return missing("id");
    const qint64 id = parseNumber(call.request.value(QStringLiteral("id")));
    if (id <= 0 || !m_library.deletePlaylist(call.user, id))
        return playlistRefusal(call, id);
    return SubsonicResult::ok();
}

SubsonicResult SubsonicBrowse::star(const SubsonicCall &call, bool starred)
{
    const SubsonicRequest &r = call.request;
    // id names songs (or, with our prefixes, albums and artists); albumId
    // and artistId name the ID3 album and artist.
    QList<EntityId> targets;
    for (const QString &text : r.values(QStringLiteral("id")))
        targets.append(parseId(text));
    for (const QString &text : r.values(QStringLiteral("albumId"))) {
        EntityId id = parseId(text);
        if (id.kind == ApiLibrary::Kind::Song) // a bare number
            id.kind = ApiLibrary::Kind::Album;
        targets.append(id.kind == ApiLibrary::Kind::Album ? id : EntityId{});
    }
    for (const QString &text : r.values(QStringLiteral("artistId"))) {
        EntityId id = parseId(text);
        if (id.kind == ApiLibrary::Kind::Song)
            id.kind = ApiLibrary::Kind::Artist;
        targets.append(id.kind == ApiLibrary::Kind::Artist ? id : EntityId{});
    }
    if (targets.isEmpty())
        return missing("id");
    bool allFound = true;
    for (const EntityId &target : targets)
        allFound = target.id > 0 &&
                   m_library.setStarred(call.user, target.kind, target.id, starred) && allFound;
    return allFound ? SubsonicResult::ok() : notFound(QStringLiteral("Item"));
}

SubsonicResult SubsonicBrowse::starredList(const SubsonicCall &call, bool id3) const
{
    const ApiStarred starred = m_library.starred(call.user);
    SubsonicNode node(id3 ? QStringLiteral("starred2") : QStringLiteral("starred"));
    node.declareList(QStringLiteral("artist"))
        .declareList(QStringLiteral("album"))
        .declareList(QStringLiteral("song"));
    for (const ApiArtist &artist : starred.artists)
        node.add(artistNode(artist));
    for (const ApiAlbum &album : starred.albums)
        node.add(id3 ? albumId3Node(album) : albumChildNode(album));
    for (const ApiSong &song : starred.songs)
        node.add(songNode(song));
    return SubsonicResult::of(std::move(node));
}

SubsonicResult SubsonicBrowse::scrobble(const SubsonicCall &call)
{
    const SubsonicRequest &r = call.request;
    const QStringList ids = r.values(QStringLiteral("id"));
    if (ids.isEmpty())
        return missing("id");
    const QStringList times = r.values(QStringLiteral("time"));
    // "Now playing" notices (submission=false) are not plays: not counted.
    const bool submission =
        !r.has(QStringLiteral("submission")) || isTrue(r.value(QStringLiteral("submission")));
    for (qsizetype i = 0; i < ids.size(); ++i) {
        const EntityId id = parseId(ids.at(i));
        if (id.kind != ApiLibrary::Kind::Song || id.id == 0 || !m_library.song(id.id, call.user))
            return notFound(QStringLiteral("Song"));
        if (!submission)
            continue;
        // time is in milliseconds; without it the play is now.
        const qint64 ms = parseNumber(times.value(i));
        const qint64 when = ms > 0 ? ms / 1000 : QDateTime::currentSecsSinceEpoch();
        if (!m_library.scrobble(call.user, id.id, when))
            return notFound(QStringLiteral("Song"));
    }
    return SubsonicResult::ok();
}

} // namespace musicd
