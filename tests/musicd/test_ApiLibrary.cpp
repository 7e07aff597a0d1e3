// The library's Subsonic face over a real index: a folder of tagged MP3,
// FLAC and Ogg files (album artists, a multi-valued artist, the same album
// name by two artists, discs, years, genres, an ID3v1-only file, Chinese
// titles) scanned into the index, then browsed, searched, starred, played
// and put on playlists by two users; and an index of the older schema
// brought up to date in place.
#include "musicd/library/IndexLibrary.h"
#include "musicd/library/LibraryIndex.h"
#include "musicd/library/LibraryScanner.h"
#include "musicd/library/SqliteStatement.h"
#include "tests/common/TestLibrary.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <set>
#include <sqlite3.h>
#include <sys/stat.h>
#include <taglib/fileref.h>
#include <taglib/id3v1tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>
#include <utime.h>

using namespace musicd;
using namespace Qt::StringLiterals;

namespace {

AlbumQuery list(AlbumOrder order, int size = 10, int offset = 0, int fromYear = 0, int toYear = 0,
                const QString &genre = {})
{
    AlbumQuery q;
    q.order = order;
    q.size = size;
    q.offset = offset;
    q.fromYear = fromYear;
    q.toYear = toYear;
    q.genre = genre;
    return q;
}

ApiSearch find(const QString &query, int artistCount = 20, int artistOffset = 0,
               int albumCount = 20, int albumOffset = 0, int songCount = 20, int songOffset = 0)
{
    return ApiSearch{query,       artistCount, artistOffset, albumCount,
                     albumOffset, songCount,   songOffset};
}

TagLib::String tl(const QString &text)
{
    return TagLib::String(text.toStdString(), TagLib::String::UTF8);
}

struct FileTags
{
    QString path; // under the root
    QString title;
    QStringList artists;
    QString albumArtist;
    QString album;
    int track;
    int disc;
    int year;
    QString genre;
};

// The library: two albums named "Road" by two artists (one track of the
// first has two artists), a compilation over two discs, an ID3v1 file.
const QList<FileTags> kFiles{
    {u"A/Road/01.mp3"_s, u"Morning"_s, {u"Ann Lee"_s}, u""_s, u"Road"_s, 1, 1, 2001, u"Rock"_s},
    {u"A/Road/02.flac"_s,
     u"Evening"_s,
     {u"Ann Lee"_s, u"Bo Chen"_s},
     u""_s,
     u"Road"_s,
     2,
     1,
     2001,
     u"Rock"_s},
    {u"B/Road/01.ogg"_s, u"Road Song"_s, {u"Bo Chen"_s}, u""_s, u"Road"_s, 1, 0, 1999, u"Jazz"_s},
    {u"C/Hits/01.mp3"_s,
     u"晴川"_s,
     {u"Cai"_s},
     u"Various Artists"_s,
     u"Hits"_s,
     1,
     2,
     2010,
     u"Pop"_s},
    {u"C/Hits/02.ogg"_s,
     u"爱的故事"_s,
     {u"Dee"_s},
     u"Various Artists"_s,
     u"Hits"_s,
     3,
     1,
     2010,
     u"Pop"_s},
};
const QString kOldFile = u"E/Oldie.mp3"_s;

bool writeTags(const QString &file, const FileTags &t)
{
    TagLib::FileRef ref(QFile::encodeName(file).constData());
    if (ref.isNull())
        return false;
    TagLib::PropertyMap map;
    map["TITLE"] = TagLib::StringList(tl(t.title));
    TagLib::StringList artists;
    for (const QString &a : t.artists)
        artists.append(tl(a));
    map["ARTIST"] = artists;
    if (!t.albumArtist.isEmpty())
        map["ALBUMARTIST"] = TagLib::StringList(tl(t.albumArtist));
    map["ALBUM"] = TagLib::StringList(tl(t.album));
    map["TRACKNUMBER"] = TagLib::StringList(tl(QString::number(t.track) + QStringLiteral("/9")));
    if (t.disc > 0)
        map["DISCNUMBER"] = TagLib::StringList(tl(QString::number(t.disc)));
    map["DATE"] = TagLib::StringList(tl(QString::number(t.year) + QStringLiteral("-05-01")));
    map["GENRE"] = TagLib::StringList(tl(t.genre));
    ref.file()->setProperties(map);
    return ref.save();
}

// An MP3 with an ID3v1 tag only: its genre is stored as a number.
bool writeId3v1(const QString &file)
{
    TagLib::MPEG::File mp3(QFile::encodeName(file).constData());
    TagLib::ID3v1::Tag *tag = mp3.ID3v1Tag(true);
    tag->setTitle("Oldie");
    tag->setArtist("Eve");
    tag->setAlbum("Gold");
    tag->setYear(1980);
    tag->setGenre("Jazz");
    return mp3.save(TagLib::MPEG::File::ID3v1, TagLib::File::StripOthers);
}

class ApiLibraryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        QString error;
        const QByteArray wav = TestLibrary::toneWav(1.0, 440);
        for (const QString &suffix : {u"mp3"_s, u"flac"_s, u"ogg"_s}) {
            ASSERT_TRUE(TestLibrary::encode(wav, m_dir.filePath(u"tone."_s + suffix), &error))
                << error.toStdString();
        }
        for (const FileTags &t : kFiles)
            ASSERT_TRUE(place(t.path) && writeTags(path(t.path), t)) << t.path.toStdString();
        ASSERT_TRUE(place(kOldFile) && writeId3v1(path(kOldFile)));
    }

    QString root() const { return m_dir.filePath(u"music"_s); }
    QString path(const QString &relative) const { return root() + QLatin1Char('/') + relative; }
    QString indexFile() const { return m_dir.filePath(u"index.sqlite"_s); }
    bool place(const QString &relative)
    {
        const QString target = path(relative);
        QDir().mkpath(target.section(QLatin1Char('/'), 0, -2));
        return QFile::copy(m_dir.filePath(u"tone."_s + relative.section(QLatin1Char('.'), -1)),
                           target);
    }

    // The index opened and scanned, and the library over it.
    struct Opened
    {
        LibraryIndex index;
        std::unique_ptr<LibraryScanner> scanner;
        std::unique_ptr<IndexLibrary> library;
    };
    std::unique_ptr<Opened> open()
    {
        auto o = std::make_unique<Opened>();
        if (!o->index.open(indexFile()))
            return nullptr;
        o->scanner = std::make_unique<LibraryScanner>(o->index, QStringList{root()});
        o->scanner->loadSearchMemory();
        o->scanner->scan();
        o->library = std::make_unique<IndexLibrary>(o->index, o->scanner->roots());
        return o;
    }

    QTemporaryDir m_dir;
};

qint64 songId(const ApiLibrary &library, const QString &title)
{
    for (const ApiSong &s : library.search(find(title, 0, 0, 0, 0, 50), u"u"_s).songs) {
        if (s.title == title)
            return s.id;
    }
    return 0;
}

QStringList albumLine(const QList<ApiAlbum> &albums)
{
    QStringList out;
    for (const ApiAlbum &a : albums)
        out.append(a.name + QLatin1Char('/') + a.artist);
    return out;
}

QStringList names(const QList<ApiArtist> &artists)
{
    QStringList out;
    for (const ApiArtist &a : artists)
        out.append(a.name);
    return out;
}

QStringList titles(const QList<ApiSong> &songs)
{
    QStringList out;
    for (const ApiSong &s : songs)
        out.append(s.title);
    return out;
}

TEST_F(ApiLibraryTest, GroupsListsAndSearchesTheTaggedFiles)
{
    const auto o = open();
    ASSERT_TRUE(o);
    const IndexLibrary &lib = *o->library;

    // Songs carry every tag, cleaned, with the artists joined.
    const std::optional<ApiSong> evening = lib.song(songId(lib, u"Evening"_s), u"u"_s);
    ASSERT_TRUE(evening);
    EXPECT_EQ(evening->artist, u"Ann Lee / Bo Chen"_s);
    EXPECT_EQ(evening->track, 2);
    EXPECT_EQ(evening->disc, 1);
    EXPECT_EQ(evening->year, 2001);
    EXPECT_EQ(evening->genre, u"Rock"_s);
    EXPECT_EQ(evening->suffix, u"flac"_s);
    EXPECT_EQ(evening->path, u"A/Road/02.flac"_s);
    EXPECT_GT(evening->bitRateKbps, 0);
    EXPECT_GT(evening->created, 0);
    const std::optional<ApiSong> oldie = lib.song(songId(lib, u"Oldie"_s), u"u"_s);
    ASSERT_TRUE(oldie);
    EXPECT_EQ(oldie->genre, u"Jazz"_s); // an ID3v1 genre number, by name
    EXPECT_EQ(oldie->year, 1980);

    // Albums: album artist else first artist, with the album name.
    const QList<ApiAlbum> byName = lib.albumList(list(AlbumOrder::AlphabeticalByName, 10), u"u"_s);
    EXPECT_EQ(albumLine(byName), QStringList({u"Gold/Eve"_s, u"Hits/Various Artists"_s,
                                              u"Road/Ann Lee"_s, u"Road/Bo Chen"_s}));
    ASSERT_EQ(byName.size(), 4);
    EXPECT_EQ(byName.at(1).songCount, 2);
    EXPECT_EQ(byName.at(1).year, 2010);
    EXPECT_EQ(byName.at(1).genre, u"Pop"_s);
    EXPECT_EQ(byName.at(2).songCount, 2);
    EXPECT_EQ(titles(lib.songsOfAlbum(byName.at(1).id, u"u"_s)),
              QStringList({u"爱的故事"_s, u"晴川"_s}));
    EXPECT_EQ(titles(lib.songsOfAlbum(byName.at(2).id, u"u"_s)),
              QStringList({u"Morning"_s, u"Evening"_s}));

    // Artists naming an album; a featured one has an ID of its own.
    const QList<ApiArtist> artists = lib.artists(u"u"_s);
    EXPECT_EQ(names(artists),
              QStringList({u"Ann Lee"_s, u"Bo Chen"_s, u"Eve"_s, u"Various Artists"_s}));
    for (const ApiArtist &a : artists)
        EXPECT_EQ(lib.albumsOfArtist(a.id, u"u"_s).size(), a.albumCount) << a.name.toStdString();
    const std::optional<ApiArtist> bo = lib.artist(artists.at(1).id, u"u"_s);
    ASSERT_TRUE(bo);
    EXPECT_EQ(bo->albumCount, 1);
    EXPECT_EQ(evening->artistId, artists.at(0).id);

    // Every order of the album list.
    struct Order
    {
        AlbumQuery query;
        QStringList albums;
    };
    const QList<Order> orders{
        {list(AlbumOrder::AlphabeticalByArtist, 10),
         {u"Road/Ann Lee"_s, u"Road/Bo Chen"_s, u"Gold/Eve"_s, u"Hits/Various Artists"_s}},
        {list(AlbumOrder::ByYear, 10, 0, 2000, 2011),
         {u"Road/Ann Lee"_s, u"Hits/Various Artists"_s}},
        {list(AlbumOrder::ByYear, 10, 0, 2011, 1990),
         {u"Hits/Various Artists"_s, u"Road/Ann Lee"_s, u"Road/Bo Chen"_s}},
        {list(AlbumOrder::ByGenre, 10, 0, 0, 0, u"Jazz"_s), {u"Gold/Eve"_s, u"Road/Bo Chen"_s}},
        {list(AlbumOrder::AlphabeticalByName, 2, 1),
         {u"Hits/Various Artists"_s, u"Road/Ann Lee"_s}},
        {list(AlbumOrder::Frequent, 10), {}},
        {list(AlbumOrder::Starred, 10), {}},
    };
    for (const Order &order : orders) {
        EXPECT_EQ(albumLine(lib.albumList(order.query, u"u"_s)), order.albums)
            << int(order.query.order);
    }
    const QStringList all = albumLine(byName);
    for (const AlbumOrder any : {AlbumOrder::Newest, AlbumOrder::Random}) {
        const QStringList listed = albumLine(lib.albumList(list(any), u"u"_s));
        EXPECT_EQ(std::set<QString>(listed.begin(), listed.end()),
                  std::set<QString>(all.begin(), all.end()));
    }

    // Genres and their songs.
    QStringList genres;
    for (const ApiGenre &g : lib.genres())
        genres.append(u"%1:%2:%3"_s.arg(g.name).arg(g.songCount).arg(g.albumCount));
    EXPECT_EQ(genres, QStringList({u"Jazz:2:2"_s, u"Pop:2:1"_s, u"Rock:2:1"_s}));
    EXPECT_EQ(titles(lib.songsByGenre(u"Rock"_s, 1, 1, u"u"_s)), QStringList({u"Evening"_s}));
    for (const ApiSong &s : lib.randomSongs(10, u"Pop"_s, 2005, 2015, u"u"_s))
        EXPECT_EQ(s.genre, u"Pop"_s);
    EXPECT_EQ(lib.randomSongs(10, u""_s, 0, 0, u"u"_s).size(), 6);

    // Search: every word in title, artist or album; names for albums and
    // artists; Chinese one- and two-character words.
    struct Search
    {
        ApiSearch search;
        QStringList songs;
        QStringList albums;
        QStringList artists;
    };
    const QList<Search> searches{
        {find(u"晴"_s), {u"晴川"_s}, {}, {}},
        {find(u"故事"_s), {u"爱的故事"_s}, {}, {}},
        {find(u"ROAD"_s),
         {u"Morning"_s, u"Evening"_s, u"Road Song"_s},
         {u"Road/Ann Lee"_s, u"Road/Bo Chen"_s},
         {}},
        {find(u"bo"_s), {u"Evening"_s, u"Road Song"_s}, {}, {u"Bo Chen"_s}},
        {find(u"bo"_s, 20, 0, 20, 0, 1, 1), {u"Road Song"_s}, {}, {u"Bo Chen"_s}},
        {find(u"lee ann"_s), {u"Morning"_s, u"Evening"_s}, {}, {u"Ann Lee"_s}},
        {find(u"hits 川"_s), {u"晴川"_s}, {}, {}},
        {find(u"zzz"_s), {}, {}, {}},
        {find(u""_s, 3, 2, 2, 1, 2, 4),
         {u"爱的故事"_s, u"Oldie"_s},
         {u"Hits/Various Artists"_s, u"Road/Ann Lee"_s},
         {u"Cai"_s, u"Dee"_s, u"Eve"_s}},
    };
    for (const Search &s : searches) {
        const ApiSearchResult r = lib.search(s.search, u"u"_s);
        EXPECT_EQ(titles(r.songs), s.songs) << s.search.query.toStdString();
        EXPECT_EQ(albumLine(r.albums), s.albums) << s.search.query.toStdString();
        EXPECT_EQ(names(r.artists), s.artists) << s.search.query.toStdString();
    }
}

TEST_F(ApiLibraryTest, IdsStayAcrossRescanRestartAndRetag)
{
    std::map<QString, qint64> albumIds;
    std::map<QString, qint64> artistIds;
    {
        const auto o = open();
        ASSERT_TRUE(o);
        for (const ApiAlbum &a :
             o->library->albumList(list(AlbumOrder::AlphabeticalByName, 10), u"u"_s))
            albumIds[a.name + a.artist] = a.id;
        for (const ApiArtist &a : o->library->search(find(u""_s), u"u"_s).artists)
            artistIds[a.name] = a.id;
        ASSERT_EQ(albumIds.size(), 4u);
        ASSERT_EQ(artistIds.size(), 6u);
        o->scanner->scan();
        EXPECT_EQ(o->library->album(albumIds[u"RoadBo Chen"_s], u"u"_s)->name, u"Road"_s);
    }
    const auto sameIds = [&](const IndexLibrary &lib) {
        for (const ApiAlbum &a : lib.albumList(list(AlbumOrder::AlphabeticalByName, 10), u"u"_s))
            EXPECT_EQ(albumIds[a.name + a.artist], a.id) << a.name.toStdString();
        for (const ApiArtist &a : lib.search(find(u""_s), u"u"_s).artists)
            EXPECT_EQ(artistIds[a.name], a.id) << a.name.toStdString();
    };
    // A restart on the same index.
    auto o = open();
    ASSERT_TRUE(o);
    sameIds(*o->library);

    // Retagged to another album: the old album is no longer listed, the
    // new one has a new ID; retagged back, the old ID returns.
    FileTags moved = kFiles.at(2);
    moved.album = u"Road Trip"_s;
    const QString file = path(moved.path);
    ASSERT_TRUE(writeTags(file, moved));
    ::utime(QFile::encodeName(file).constData(), nullptr);
    o->scanner->scan();
    EXPECT_FALSE(o->library->album(albumIds[u"RoadBo Chen"_s], u"u"_s));
    const QList<ApiAlbum> now = o->library->albumsOfArtist(artistIds[u"Bo Chen"_s], u"u"_s);
    ASSERT_EQ(now.size(), 1);
    EXPECT_EQ(now.front().name, u"Road Trip"_s);
    EXPECT_FALSE(albumIds.count(u"Road TripBo Chen"_s));
    for (const auto &[name, id] : albumIds)
        EXPECT_NE(id, now.front().id);
    ASSERT_TRUE(writeTags(file, kFiles.at(2)));
    QFile::remove(path(kOldFile)); // and Eve's only album goes
    o->scanner->scan();
    EXPECT_EQ(o->library->album(albumIds[u"RoadBo Chen"_s], u"u"_s)->songCount, 1);
    EXPECT_FALSE(o->library->album(albumIds[u"GoldEve"_s], u"u"_s));
    EXPECT_FALSE(o->library->artist(artistIds[u"Eve"_s], u"u"_s));
    EXPECT_EQ(names(o->library->artists(u"u"_s)),
              QStringList({u"Ann Lee"_s, u"Bo Chen"_s, u"Various Artists"_s}));
    sameIds(*o->library);
}

TEST_F(ApiLibraryTest, StarsPlaysAndPlaylistsAreEachUsersOwn)
{
    const auto o = open();
    ASSERT_TRUE(o);
    IndexLibrary &lib = *o->library;
    const qint64 morning = songId(lib, u"Morning"_s);
    const qint64 evening = songId(lib, u"Evening"_s);
    const qint64 roadSong = songId(lib, u"Road Song"_s);
    const QList<ApiAlbum> albums =
        lib.albumList(list(AlbumOrder::AlphabeticalByName, 10), u"alice"_s);
    ASSERT_EQ(albums.size(), 4);
    const qint64 hits = albums.at(1).id;
    const qint64 annRoad = albums.at(2).id;
    const qint64 eve = lib.artists(u"alice"_s).at(2).id;

    using Kind = ApiLibrary::Kind;
    struct Star
    {
        Kind kind;
        qint64 id;
        bool known;
    };
    for (const Star &s :
         {Star{Kind::Song, morning, true}, Star{Kind::Album, hits, true},
          Star{Kind::Artist, eve, true}, Star{Kind::Song, 999999, false},
          Star{Kind::Album, morning + 1000, false}, Star{Kind::Artist, 999999, false}})
        EXPECT_EQ(lib.setStarred(u"alice"_s, s.kind, s.id, true), s.known);
    const ApiStarred alice = lib.starred(u"alice"_s);
    EXPECT_EQ(titles(alice.songs), QStringList({u"Morning"_s}));
    EXPECT_EQ(albumLine(alice.albums), QStringList({u"Hits/Various Artists"_s}));
    EXPECT_EQ(names(alice.artists), QStringList({u"Eve"_s}));
    EXPECT_GT(lib.song(morning, u"alice"_s)->starred, 0);
    EXPECT_EQ(lib.song(morning, u"bob"_s)->starred, 0);
    EXPECT_TRUE(lib.starred(u"bob"_s).songs.isEmpty());
    EXPECT_EQ(albumLine(lib.albumList(list(AlbumOrder::Starred, 10), u"alice"_s)),
              QStringList({u"Hits/Various Artists"_s}));
    EXPECT_TRUE(lib.setStarred(u"alice"_s, Kind::Album, hits, false));
    EXPECT_TRUE(lib.starred(u"alice"_s).albums.isEmpty());

    // Plays: counted per user, the latest time kept.
    EXPECT_TRUE(lib.scrobble(u"alice"_s, morning, 200));
    EXPECT_TRUE(lib.scrobble(u"alice"_s, morning, 100));
    EXPECT_TRUE(lib.scrobble(u"alice"_s, evening, 150));
    EXPECT_TRUE(lib.scrobble(u"bob"_s, roadSong, 50));
    EXPECT_FALSE(lib.scrobble(u"bob"_s, 999999, 50));
    const ApiSong played = *lib.song(morning, u"alice"_s);
    EXPECT_EQ(played.playCount, 2);
    EXPECT_EQ(played.lastPlayed, 200);
    EXPECT_EQ(lib.song(morning, u"bob"_s)->playCount, 0);
    const QList<ApiAlbum> frequent = lib.albumList(list(AlbumOrder::Frequent, 10), u"alice"_s);
    EXPECT_EQ(albumLine(frequent), QStringList({u"Road/Ann Lee"_s}));
    EXPECT_EQ(frequent.value(0).playCount, 3);
    EXPECT_EQ(frequent.value(0).lastPlayed, 200);
    EXPECT_EQ(albumLine(lib.albumList(list(AlbumOrder::Recent, 10), u"bob"_s)),
              QStringList({u"Road/Bo Chen"_s}));
    EXPECT_EQ(lib.album(annRoad, u"bob"_s)->playCount, 0);

    // Playlists: unknown songs left out, duplicates kept, only the owner
    // changes one, others see it once it is public.
    const qint64 mix =
        lib.createPlaylist(u"alice"_s, u"Mix"_s, {morning, 999999, evening, morning});
    ASSERT_GT(mix, 0);
    EXPECT_EQ(titles(lib.playlist(mix, u"alice"_s)->entries),
              QStringList({u"Morning"_s, u"Evening"_s, u"Morning"_s}));
    EXPECT_FALSE(lib.playlist(mix, u"bob"_s));
    EXPECT_TRUE(lib.playlists(u"bob"_s).isEmpty());
    ApiLibrary::PlaylistChange makePublic;
    makePublic.isPublic = true;
    makePublic.comment = u"for all"_s;
    EXPECT_FALSE(lib.updatePlaylist(u"bob"_s, mix, makePublic));
    EXPECT_TRUE(lib.updatePlaylist(u"alice"_s, mix, makePublic));
    ASSERT_EQ(lib.playlists(u"bob"_s).size(), 1);
    EXPECT_EQ(lib.playlists(u"bob"_s).front().comment, u"for all"_s);
    EXPECT_EQ(lib.playlists(u"bob"_s).front().songCount, 3);
    ApiLibrary::PlaylistChange edit;
    edit.indexesToRemove = {0, 7};
    edit.songIdsToAdd = {roadSong, 999999};
    edit.name = u"Mix 2"_s;
    EXPECT_FALSE(lib.updatePlaylist(u"bob"_s, mix, edit));
    EXPECT_FALSE(lib.deletePlaylist(u"bob"_s, mix));
    EXPECT_TRUE(lib.updatePlaylist(u"alice"_s, mix, edit));
    const std::optional<ApiPlaylist> edited = lib.playlist(mix, u"bob"_s);
    ASSERT_TRUE(edited);
    EXPECT_EQ(edited->name, u"Mix 2"_s);
    EXPECT_EQ(titles(edited->entries), QStringList({u"Evening"_s, u"Morning"_s, u"Road Song"_s}));
    ApiLibrary::PlaylistChange replace;
    replace.replaceSongs = QList<qint64>{roadSong};
    EXPECT_TRUE(lib.updatePlaylist(u"alice"_s, mix, replace));
    EXPECT_EQ(titles(lib.playlist(mix, u"alice"_s)->entries), QStringList({u"Road Song"_s}));
    EXPECT_TRUE(lib.deletePlaylist(u"alice"_s, mix));
    EXPECT_FALSE(lib.playlist(mix, u"alice"_s));
    EXPECT_FALSE(lib.deletePlaylist(u"alice"_s, mix));
}

// An album's plays are its tracks' plays as they are now: a track retagged
// to another album takes its plays along, a deleted one takes them away,
// and an index written before the sums were kept has them worked out.
TEST_F(ApiLibraryTest, AlbumPlaysFollowTheirTracks)
{
    const auto played = [](const IndexLibrary &lib, AlbumOrder order) {
        QStringList out;
        for (const ApiAlbum &a : lib.albumList(list(order, 10), u"alice"_s))
            out.append(QStringLiteral("%1/%2 %3 %4")
                           .arg(a.name, a.artist)
                           .arg(a.playCount)
                           .arg(a.lastPlayed));
        return out;
    };
    {
        const auto o = open();
        ASSERT_TRUE(o);
        IndexLibrary &lib = *o->library;
        for (const auto &[title, time] : {std::pair{u"Morning"_s, 300},
                                          {u"Evening"_s, 100},
                                          {u"Evening"_s, 200},
                                          {u"Road Song"_s, 400}})
            ASSERT_TRUE(lib.scrobble(u"alice"_s, songId(lib, title), time));
        EXPECT_EQ(played(lib, AlbumOrder::Frequent),
                  QStringList({u"Road/Ann Lee 3 300"_s, u"Road/Bo Chen 1 400"_s}));
        EXPECT_EQ(played(lib, AlbumOrder::Recent),
                  QStringList({u"Road/Bo Chen 1 400"_s, u"Road/Ann Lee 3 300"_s}));

        FileTags moved = kFiles.at(1);
        moved.album = u"Dusk"_s;
        ASSERT_TRUE(writeTags(path(moved.path), moved));
        ::utime(QFile::encodeName(path(moved.path)).constData(), nullptr);
        ASSERT_TRUE(QFile::remove(path(kFiles.at(2).path)));
        o->scanner->scan();
        EXPECT_EQ(played(lib, AlbumOrder::Frequent),
                  QStringList({u"Dusk/Ann Lee 2 200"_s, u"Road/Ann Lee 1 300"_s}));
        EXPECT_EQ(
            lib.album(lib.song(songId(lib, u"Morning"_s), u"u"_s)->albumId, u"alice"_s)->playCount,
            1);
    }
    {
        sqlite3 *db = nullptr;
        ASSERT_EQ(sqlite3_open(QFile::encodeName(indexFile()).constData(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, "DROP TABLE album_plays", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    const auto o = open();
    ASSERT_TRUE(o);
    EXPECT_EQ(played(*o->library, AlbumOrder::Recent),
              QStringList({u"Road/Ann Lee 1 300"_s, u"Dusk/Ann Lee 2 200"_s}));
}

// An index as the service wrote it before albums and artists: its tracks
// keep their IDs, and their files are read again for the new tags though
// they did not change.
TEST_F(ApiLibraryTest, AnIndexOfTheOlderSchemaIsUpgradedInPlace)
{
    const std::string canonicalRoot = LibraryScanner::canonical(root().toStdString());
    {
        sqlite3 *db = nullptr;
        ASSERT_EQ(sqlite3_open(QFile::encodeName(indexFile()).constData(), &db), SQLITE_OK);
        const char *schema =
            "CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT);"
            "INSERT INTO meta VALUES('format','velmor-library-1');"
            "CREATE TABLE tracks(id INTEGER PRIMARY KEY AUTOINCREMENT,"
            " path BLOB NOT NULL UNIQUE, size INTEGER, mtime INTEGER, title TEXT, artist TEXT,"
            " album TEXT, artist_key TEXT, duration INTEGER, lyrics INTEGER, cover INTEGER);"
            "CREATE INDEX tracks_artist ON tracks(artist_key);"
            "CREATE VIRTUAL TABLE tracks_fts USING fts5(title, artist, album,"
            " content='tracks', content_rowid='id', tokenize='trigram');"
            "CREATE TRIGGER tracks_ai AFTER INSERT ON tracks BEGIN"
            " INSERT INTO tracks_fts(rowid, title, artist, album)"
            " VALUES (new.id, new.title, new.artist, new.album); END;"
            "CREATE TRIGGER tracks_au AFTER UPDATE ON tracks BEGIN"
            " INSERT INTO tracks_fts(tracks_fts, rowid, title, artist, album)"
            " VALUES ('delete', old.id, old.title, old.artist, old.album);"
            " INSERT INTO tracks_fts(rowid, title, artist, album)"
            " VALUES (new.id, new.title, new.artist, new.album); END;"
            "CREATE TABLE added(path BLOB PRIMARY KEY);";
        ASSERT_EQ(sqlite3_exec(db, schema, nullptr, nullptr, nullptr), SQLITE_OK);
        // Two tracks with the stamps their files have now.
        qint64 id = 40;
        for (const FileTags &t : {kFiles.at(0), kFiles.at(3)}) {
            const std::string file = canonicalRoot + "/" + t.path.toStdString();
            struct stat st
            {
            };
            ASSERT_EQ(::stat(file.c_str(), &st), 0);
            Statement add(db, "INSERT INTO tracks VALUES(?,?,?,?,?,?,?,'',1,0,0)");
            sqlite3_bind_int64(add.get(), 1, id);
            sqlite3_bind_blob(add.get(), 2, file.data(), int(file.size()), SQLITE_TRANSIENT);
            sqlite3_bind_int64(add.get(), 3, st.st_size);
            sqlite3_bind_int64(add.get(), 4,
                               qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec);
            const QByteArray title = t.title.toUtf8();
            sqlite3_bind_text(add.get(), 5, title.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(add.get(), 6, "old artist", -1, SQLITE_STATIC);
            sqlite3_bind_text(add.get(), 7, "old album", -1, SQLITE_STATIC);
            ASSERT_EQ(sqlite3_step(add.get()), SQLITE_DONE);
            id += 10;
        }
        sqlite3_close(db);
    }
    const auto o = open();
    ASSERT_TRUE(o);
    const std::optional<ApiSong> morning = o->library->song(40, u"u"_s);
    const std::optional<ApiSong> qingchuan = o->library->song(50, u"u"_s);
    ASSERT_TRUE(morning && qingchuan);
    EXPECT_EQ(morning->title, u"Morning"_s);
    EXPECT_EQ(morning->artist, u"Ann Lee"_s);
    EXPECT_EQ(morning->genre, u"Rock"_s);
    EXPECT_EQ(morning->year, 2001);
    EXPECT_GT(morning->albumId, 0);
    EXPECT_EQ(qingchuan->title, u"晴川"_s);
    EXPECT_EQ(qingchuan->albumArtist, u"Various Artists"_s);
    EXPECT_EQ(qingchuan->disc, 2);
    EXPECT_EQ(o->library->album(qingchuan->albumId, u"u"_s)->songCount, 2);
    EXPECT_EQ(titles(o->library->search(find(u"晴"_s), u"u"_s).songs), QStringList({u"晴川"_s}));
    // The files found besides have IDs after the kept ones.
    EXPECT_GT(songId(*o->library, u"Evening"_s), 50);
    EXPECT_EQ(o->library->search(find(u""_s), u"u"_s).songs.size(), 6);
}

} // namespace

// Albums and artists found by name are those a plain scan of the names
// finds, in name order, for any page; and a batch written after a search
// is found by the next one.
TEST(ApiLibraryNames, SearchMatchesAScanOfTheNames)
{
    QTemporaryDir dir;
    LibraryIndex index;
    ASSERT_TRUE(index.open(dir.filePath(u"names.sqlite"_s)));
    const QStringList pool{u"爱"_s, u"晴川"_s, u"Star"_s, u"LIGHT"_s, u"Ünïcode"_s, u"road"_s,
                           u"的"_s, u"de"_s,   u"𝄞"_s,    u"a"_s,     u"Roads"_s,   u"夏天"_s};
    QRandomGenerator rng(11);
    const auto name = [&] {
        QString s;
        for (int i = 0, n = 1 + rng.bounded(3); i < n; ++i)
            s += pool.at(rng.bounded(pool.size())) + (rng.bounded(2) ? u" "_s : QString());
        return s.trimmed();
    };
    int file = 0;
    const auto addBatch = [&](int tracks) {
        index.begin();
        for (int i = 0; i < tracks; ++i) {
            IndexedTrack t;
            t.path = "/m/" + std::to_string(file++) + ".mp3";
            t.title = u"t"_s;
            t.artist = name();
            t.album = name();
            ASSERT_GT(index.insert(t), 0);
        }
        ASSERT_TRUE(index.commit());
    };
    addBatch(300);
    IndexLibrary lib(index);
    const QStringList queries{u"爱"_s,        u"晴川"_s, u"star"_s, u"ROAD"_s,  u"roads"_s,
                              u"ünï"_s,       u"a de"_s, u"𝄞"_s,    u"夏 的"_s, u"light star"_s,
                              u"starlight"_s, u"zzz"_s,  u"川爱"_s};
    const auto compare = [&](const char *when) {
        const QList<ApiAlbum> allAlbums =
            lib.albumList(list(AlbumOrder::AlphabeticalByName, 100000), u"u"_s);
        const QList<ApiArtist> allArtists = lib.artists(u"u"_s);
        for (const QString &q : queries) {
            const QStringList words = q.toCaseFolded().split(u' ', Qt::SkipEmptyParts);
            const auto holds = [&](const QString &n) {
                return std::all_of(words.begin(), words.end(),
                                   [&](const QString &w) { return n.toCaseFolded().contains(w); });
            };
            QStringList albums;
            for (const ApiAlbum &a : allAlbums) {
                if (holds(a.name))
                    albums.append(a.name + QLatin1Char('/') + a.artist);
            }
            QStringList artists;
            for (const ApiArtist &a : allArtists) {
                if (holds(a.name))
                    artists.append(a.name);
            }
            for (const auto &[offset, count] : {std::pair{0, 500}, {0, 1}, {3, 5}, {40, 20}}) {
                const ApiSearchResult r =
                    lib.search(find(q, count, offset, count, offset, 0), u"u"_s);
                EXPECT_EQ(albumLine(r.albums), albums.mid(offset, count))
                    << q.toStdString() << " " << when << " from " << offset;
                EXPECT_EQ(names(r.artists), artists.mid(offset, count))
                    << q.toStdString() << " " << when << " from " << offset;
            }
        }
    };
    compare("first");
    addBatch(100);
    compare("after a batch");
}

// Many searches at once while batches come in: each reads the names again
// now and then, and none waits for ever for a reader another one holds.
TEST(ApiLibraryNames, ManySearchesAtOnceWhileBatchesComeIn)
{
    QTemporaryDir dir;
    LibraryIndex index;
    ASSERT_TRUE(index.open(dir.filePath(u"busy.sqlite"_s)));
    int file = 0;
    const auto addBatch = [&](int tracks) {
        index.begin();
        for (int i = 0; i < tracks; ++i, ++file) {
            IndexedTrack t;
            t.path = "/m/" + std::to_string(file) + ".mp3";
            t.title = u"song %1"_s.arg(file);
            t.artist = u"singer %1"_s.arg(file % 7);
            t.album = u"album %1"_s.arg(file % 13);
            index.insert(t);
        }
        return index.commit();
    };
    ASSERT_TRUE(addBatch(50));
    IndexLibrary lib(index);
    std::atomic<bool> writing{true};
    std::atomic<int> searches{0};
    std::vector<std::future<void>> searchers;
    for (int t = 0; t < 16; ++t) {
        searchers.push_back(std::async(std::launch::async, [&, t] {
            for (int i = 0; i < 40 || writing; ++i, ++searches)
                lib.search(find(t % 2 ? u"album"_s : u"singer 3"_s), u"u"_s);
        }));
    }
    for (int round = 0; round < 20; ++round)
        ASSERT_TRUE(addBatch(5));
    writing = false;
    for (std::future<void> &searcher : searchers) {
        if (searcher.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
            ADD_FAILURE() << "a search has waited a minute: the searches are stuck";
            std::_Exit(1); // the stuck threads would hold the test for ever
        }
    }
    EXPECT_GE(searches.load(), 16 * 40);
    // Every pair of singer and album name is an album by now: seven named "album 12".
    EXPECT_EQ(lib.search(find(u"album 12"_s), u"u"_s).albums.size(), 7);
}
