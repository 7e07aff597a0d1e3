// The library pieces of velmor-musicd driven directly: the tag reader and
// the lyric text over a real generated library, the index's search against
// a brute-force scan of the same rows, and the scanner's incremental passes,
// stable IDs and safety rules.
#include "musicd/LibrarySource.h"
#include "musicd/LyricText.h"
#include "musicd/library/LibraryIndex.h"
#include "musicd/library/LibraryScanner.h"
#include "musicd/library/TagReader.h"
#include "musicd/search/PostingList.h"
#include "tests/common/TestLibrary.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRandomGenerator>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/unsynchronizedlyricsframe.h>
#include <thread>
#include <utime.h>

using namespace musicd;

namespace {

class MusicLibrary : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_library = new TestLibrary;
        ASSERT_TRUE(s_library->build()) << s_library->error().toStdString();
    }
    static void TearDownTestSuite()
    {
        delete s_library;
        s_library = nullptr;
    }

    static std::map<QString, qint64> idsByTitle(const LibraryIndex &index)
    {
        std::map<QString, qint64> ids;
        for (const TestLibrary::Track &t : s_library->tracks()) {
            const SearchPage page = index.search(t.title, 1, 30);
            for (const Song &s : page.rows) {
                if (s.title == t.title)
                    ids[t.title] = s.id;
            }
        }
        return ids;
    }

    static TestLibrary *s_library;
};

TestLibrary *MusicLibrary::s_library = nullptr;

TEST_F(MusicLibrary, TagReaderReadsEveryGeneratedFormat)
{
    for (const TestLibrary::Track &t : s_library->tracks()) {
        const std::optional<TrackTags> tags = TagReader::read(s_library->path(t.relativePath));
        ASSERT_TRUE(tags.has_value()) << t.relativePath.toStdString();
        const bool tagged = !t.relativePath.contains(QLatin1String(" - "));
        if (tagged) {
            EXPECT_EQ(tags->title, t.title) << t.relativePath.toStdString();
            EXPECT_EQ(tags->artist, t.artist) << t.relativePath.toStdString();
            EXPECT_EQ(tags->album, t.album) << t.relativePath.toStdString();
        } else {
            EXPECT_TRUE(tags->title.isEmpty());
        }
        EXPECT_GE(tags->durationSeconds, 2) << t.relativePath.toStdString();
        EXPECT_LE(tags->durationSeconds, 3) << t.relativePath.toStdString();
    }
    for (const QString &broken : s_library->broken())
        EXPECT_FALSE(TagReader::read(s_library->path(broken)).has_value()) << broken.toStdString();

    // Embedded lyrics and covers where they were written, none elsewhere.
    struct Embedded
    {
        const char *relative;
        bool lyrics;
        bool cover;
        QString lyricLine; // a line the embedded lyric holds
    };
    const Embedded embedded[] = {
        {"晴川/夏天/01 爱的故事.mp3", false, false, {}}, // its lyric is a sidecar
        {"晴川/夏天/02 晴川之歌.flac", true, false, TestLibrary::plainEmbeddedLines().at(1)},
        {"Tom & Jerry/Roads/03 Starlight Road.ogg", false, true, {}},
        {"Legacy/旧歌.mp3", true, false, QStringLiteral("旧时光的歌词")},
        {"Misc/Night Opus.opus", false, false, {}},
        {"Lin Harbor/Coast/04 海边晚风.m4a", true, true,
         TestLibrary::timedLines(QStringLiteral("m4a")).at(1)},
        {"Mira Sand/Still/Quiet Water.wav", true, false,
         TestLibrary::timedLines(QStringLiteral("wav")).at(1)},
    };
    for (const Embedded &e : embedded) {
        const QString file = s_library->path(QString::fromUtf8(e.relative));
        const TrackTags tags = *TagReader::read(file);
        EXPECT_EQ(tags.hasLyrics, e.lyrics) << e.relative;
        EXPECT_EQ(tags.hasCover, e.cover) << e.relative;
        const QString lyrics = TagReader::lyrics(file);
        EXPECT_TRUE(e.lyrics ? lyrics.contains(e.lyricLine) : lyrics.isEmpty()) << e.relative;
    }
    EXPECT_EQ(TagReader::lyrics(s_library->path(QStringLiteral("晴川/夏天/02 晴川之歌.flac"))),
              TestLibrary::plainEmbeddedLines().join(u'\n'));
    EXPECT_TRUE(
        TagReader::lyrics(s_library->path(QStringLiteral("Lin Harbor/Coast/04 海边晚风.m4a")))
            .startsWith(QStringLiteral("[00:00.50]")));
    const QImage cover = QImage::fromData(TagReader::cover(
        s_library->path(QStringLiteral("Tom & Jerry/Roads/03 Starlight Road.ogg"))));
    EXPECT_EQ(cover.size(), QSize(200, 200));
    const QImage mp4Cover = QImage::fromData(
        TagReader::cover(s_library->path(QStringLiteral("Lin Harbor/Coast/04 海边晚风.m4a"))));
    EXPECT_EQ(mp4Cover.size(), QSize(120, 120));
}

// Tags are read from a file through blocks of it kept in memory: tags that
// cross blocks, pictures larger than several blocks and a tag at the very
// end of a long file read exactly as TagLib reads the same bytes in memory.
TEST(MusicLibraryTags, FileReadsAsTheSameBytesInMemory)
{
    QTemporaryDir dir;
    QString error;
    const QString plain = dir.filePath(QStringLiteral("plain.mp3"));
    ASSERT_TRUE(TestLibrary::encode(TestLibrary::toneWav(30, 440), plain, &error))
        << error.toStdString();
    struct Case
    {
        const char *name;
        int pictureBytes; // 0: no picture
        bool id3v1;       // a tag in the file's last bytes
    };
    const Case cases[] = {
        {"no picture, a tag at the end", 0, true},
        {"a tag ending just past the first block", 31 * 1024 + 512, false},
        {"a picture larger than the blocks kept", 300 * 1024, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = dir.filePath(QString::fromLatin1(c.name) + QStringLiteral(".mp3"));
        ASSERT_TRUE(QFile::copy(plain, file));
        QByteArray picture(c.pictureBytes, Qt::Uninitialized);
        for (char &b : picture)
            b = char(QRandomGenerator::global()->bounded(256));
        {
            TagLib::MPEG::File mpeg(QFile::encodeName(file).constData());
            TagLib::ID3v2::Tag *id3 = mpeg.ID3v2Tag(true);
            id3->setTitle(TagLib::String("晴川 across blocks", TagLib::String::UTF8));
            id3->setArtist("Lin Harbor");
            if (!picture.isEmpty()) {
                auto *apic = new TagLib::ID3v2::AttachedPictureFrame;
                apic->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
                apic->setPicture(TagLib::ByteVector(picture.constData(), uint(picture.size())));
                id3->addFrame(apic);
            }
            auto *lyric = new TagLib::ID3v2::UnsynchronizedLyricsFrame;
            lyric->setText("[00:01.00]first line\n[00:02.00]second line");
            id3->addFrame(lyric);
            ASSERT_TRUE(mpeg.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone));
        }
        if (c.id3v1) {
            // An ID3v1 tag whose album straddles a 32 KiB boundary of the
            // file, after silence that pads the file to that length.
            QByteArray tail(128, '\0');
            tail.replace(0, 3, "TAG");
            tail.replace(63, 10, "Tail Album");
            QFile out(file);
            ASSERT_TRUE(out.open(QIODevice::Append));
            const qint64 end = out.size() + 128;
            out.write(QByteArray(int((32 * 1024 + 64 - end % (32 * 1024)) % (32 * 1024)), '\0'));
            out.write(tail);
        }
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        const std::optional<TrackTags> fromFile = TagReader::read(file);
        const std::optional<TrackTags> inMemory =
            TagReader::readBytes(bytes, QStringLiteral("mp3"));
        ASSERT_TRUE(fromFile && inMemory);
        EXPECT_EQ(fromFile->title, QStringLiteral("晴川 across blocks"));
        EXPECT_EQ(fromFile->album, c.id3v1 ? QStringLiteral("Tail Album") : QString());
        for (const auto &[mine, theirs] : {std::pair{fromFile->title, inMemory->title},
                                           {fromFile->artist, inMemory->artist},
                                           {fromFile->album, inMemory->album}})
            EXPECT_EQ(mine, theirs);
        EXPECT_EQ(fromFile->durationSeconds, inMemory->durationSeconds);
        EXPECT_EQ(fromFile->bitRateKbps, inMemory->bitRateKbps);
        EXPECT_TRUE(fromFile->hasLyrics);
        EXPECT_EQ(fromFile->hasCover, !picture.isEmpty());
        EXPECT_EQ(TagReader::cover(file), picture);
        EXPECT_EQ(TagReader::lyrics(file),
                  TagReader::lyricsFromBytes(bytes, QStringLiteral("mp3")));
    }
}

TEST(MusicLibraryText, TagTextIsCleaned)
{
    struct Case
    {
        QString in;
        QString out;
    };
    const QList<Case> cases{
        {QStringLiteral("plain"), QStringLiteral("plain")},
        {QStringLiteral("a\x01\x02z"), QStringLiteral("a z")},
        {QStringLiteral("  tabs\tand\nbreaks "), QStringLiteral("tabs and breaks")},
        {QString(300, QLatin1Char('x')), QString(256, QLatin1Char('x'))},
        {QStringLiteral("bad\uFFFDchar"), QStringLiteral("bad char")},
    };
    for (const Case &c : cases)
        EXPECT_EQ(TagReader::cleanText(c.in), c.out) << c.in.toStdString();
}

TEST(MusicLibraryText, LyricBytesDecodeAndPlainLinesGetTimes)
{
    const QString text = QStringLiteral("[00:01.00]爱在晴川");
    QStringEncoder gbk("GBK");
    struct Case
    {
        QByteArray bytes;
        QString expected;
    };
    const QList<Case> cases{
        {text.toUtf8(), text},
        {QByteArray("\xEF\xBB\xBF") + text.toUtf8(), text},
        {gbk.encode(text), text},
        {QByteArray("[00:02.00]Caf\xE9"),
         QStringLiteral("[00:02.00]Caf\u00e9")}, // Latin-1: GB18030 too
    };
    for (const Case &c : cases) {
        if (c.expected.contains(QChar(0xE9)))
            EXPECT_FALSE(LyricText::decode(c.bytes).isEmpty());
        else
            EXPECT_EQ(LyricText::decode(c.bytes), c.expected);
    }

    // Timed lyrics pass with CR LF line ends; blank lines go.
    EXPECT_EQ(LyricText::served(QStringLiteral("[00:01.00]a\n\n[00:02.00]b"), 100),
              QByteArray("[00:01.00]a\r\n[00:02.00]b\r\n"));
    // Plain lines are spread over the song: 3 lines over 30 s.
    EXPECT_EQ(LyricText::served(QStringLiteral("one\ntwo\r\nthree\n"), 30),
              QByteArray("[00:00.00]one\r\n[00:10.00]two\r\n[00:20.00]three\r\n"));
    // Unknown length: a few seconds each.
    EXPECT_EQ(LyricText::served(QStringLiteral("x\ny"), 0),
              QByteArray("[00:00.00]x\r\n[00:04.00]y\r\n"));
    EXPECT_TRUE(LyricText::served(QStringLiteral(" \n\t\n"), 10).isEmpty());
}

// The index answers what a brute-force scan of the same rows answers, for
// one-, two- and longer words, several words, any page.
TEST(MusicLibraryIndex, SearchMatchesABruteForceScan)
{
    QTemporaryDir dir;
    LibraryIndex index;
    ASSERT_TRUE(index.open(dir.filePath(QStringLiteral("i.sqlite"))));
    const QStringList pool{
        QStringLiteral("爱"),      QStringLiteral("晴川"),        QStringLiteral("夏天"),
        QStringLiteral("Star"),    QStringLiteral("light"),       QStringLiteral("ROAD"),
        QStringLiteral("Ünïcode"), QStringLiteral("de"),          QStringLiteral("的"),
        QStringLiteral("x\"y"),    QStringLiteral("Tom & Jerry"), QStringLiteral("𝄞𝄢")};
    QRandomGenerator rng(7);
    const auto phrase = [&] {
        QString s;
        const int n = 1 + rng.bounded(3);
        for (int i = 0; i < n; ++i)
            s += pool.at(rng.bounded(pool.size())) +
                 (rng.bounded(2) ? QStringLiteral(" ") : QString());
        return s.trimmed();
    };
    QList<IndexedTrack> rows;
    index.begin();
    for (int i = 0; i < 400; ++i) {
        IndexedTrack t;
        t.path = "/m/" + std::to_string(i) + ".mp3";
        t.title = phrase();
        t.artist = phrase();
        t.album = rng.bounded(4) == 0 ? QString() : phrase();
        t.id = index.insert(t);
        ASSERT_GT(t.id, 0);
        rows.append(t);
    }
    ASSERT_TRUE(index.commit());

    const QStringList queries{QStringLiteral("爱"),        QStringLiteral("晴川"),
                              QStringLiteral("a"),         QStringLiteral("st"),
                              QStringLiteral("star"),      QStringLiteral("LIGHT"),
                              QStringLiteral("ünï"),       QStringLiteral("爱 road"),
                              QStringLiteral("的 夏 e"),   QStringLiteral("x\"y"),
                              QStringLiteral("tom &"),     QStringLiteral("zzz"),
                              QStringLiteral("ad sta 爱"), QStringLiteral("star light"),
                              QStringLiteral("starlight"), QStringLiteral("天爱"),
                              QStringLiteral("𝄞𝄢"),        QStringLiteral("𝄢 de"),
                              QStringLiteral("ünïcodede"), QStringLiteral("ROAD 晴川 LIGHT"),
                              QStringLiteral("oad tar 的")};
    // Words of three characters or more come from memory, or from the
    // trigram index on disk while the memory is not filled yet (when
    // shorter words find nothing): both ways must give the same rows.
    const auto compare = [&](const LibraryIndex &index, const char *when,
                             bool longWordsOnly = false) {
        for (const QString &q : queries) {
            QList<qint64> expected;
            const QStringList words = q.toCaseFolded().split(u' ', Qt::SkipEmptyParts);
            if (longWordsOnly && std::any_of(words.begin(), words.end(), [](const QString &w) {
                    return w.toUcs4().size() < 3;
                }))
                continue;
            for (const IndexedTrack &t : rows) {
                const QString hay = LibraryIndex::foldedText(t.title, t.artist, t.album);
                bool all = true;
                for (const QString &w : words)
                    all = all && hay.contains(w);
                if (all)
                    expected.append(t.id);
            }
            // Pages of IDs that are not counted: asked before the
            // counted search remembers the whole result, then after.
            for (const auto &[offset, count] : {std::pair{0, 1}, {0, 30}, {7, 5}, {29, 30}}) {
                const std::vector<uint32_t> page = index.matchIds(q, offset, count);
                EXPECT_EQ(QList<qint64>(page.begin(), page.end()), expected.mid(offset, count))
                    << q.toStdString() << " " << when << " from " << offset;
            }
            const SearchPage first = index.search(q, 1, 30);
            EXPECT_EQ(first.total, expected.size()) << q.toStdString() << " " << when;
            QList<qint64> got;
            for (qint64 page = 1; page <= (first.total + 29) / 30; ++page) {
                for (const Song &s : index.search(q, page, 30).rows)
                    got.append(s.id);
            }
            EXPECT_EQ(got, expected) << q.toStdString() << " " << when;
            EXPECT_TRUE(index.search(q, 1000, 30).rows.isEmpty());
        }
    };
    compare(index, "first");
    compare(index, "again, from remembered results");
    // More rows: remembered results must not hide them.
    index.begin();
    for (int i = 0; i < 100; ++i) {
        IndexedTrack t;
        t.path = "/m/more" + std::to_string(i) + ".mp3";
        t.title = phrase();
        t.artist = phrase();
        t.id = index.insert(t);
        rows.append(t);
    }
    ASSERT_TRUE(index.commit());
    compare(index, "after more rows");

    LibraryIndex reopened;
    ASSERT_TRUE(reopened.open(dir.filePath(QStringLiteral("i.sqlite"))));
    compare(reopened, "reopened, memory not filled yet", true);
    reopened.reloadShortIndex();
    compare(reopened, "reopened, from memory");
    // Changed and removed tracks: the memory is filled again from the file.
    reopened.begin();
    for (int i = 0; i < 40; ++i) {
        IndexedTrack &t = rows[rng.bounded(rows.size())];
        t.title = phrase();
        t.album = phrase();
        ASSERT_TRUE(reopened.update(t));
    }
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE(reopened.remove(rows.takeAt(rng.bounded(rows.size())).id));
    ASSERT_TRUE(reopened.commit());
    reopened.reloadShortIndex();
    compare(reopened, "after changes");
}

// The packed ID lists give back what went in: any page of them, and the
// common part with another ascending list, for lists dense and sparse
// (gaps of one byte up to five), short and spanning many skip blocks.
TEST(MusicLibraryIndex, PackedIdListsMatchPlainOnes)
{
    QRandomGenerator rng(13);
    for (const uint32_t maxGap : {1u, 3u, 200u, 70000u, 400000000u}) {
        for (const int count : {0, 1, 63, 64, 65, 1000, 5000}) {
            std::vector<uint32_t> plain;
            PostingList packed;
            uint32_t id = rng.bounded(2) ? 0u : 5u;
            for (int i = 0; i < count && id < UINT32_MAX - maxGap; ++i) {
                id += 1 + (maxGap > 1 ? rng.bounded(maxGap) : 0u);
                plain.push_back(id);
                packed.append(id);
            }
            packed.compact();
            const std::string where =
                "gap " + std::to_string(maxGap) + ", " + std::to_string(count) + " IDs";
            ASSERT_EQ(packed.size(), plain.size()) << where;
            EXPECT_EQ(packed.all(), plain) << where;
            for (const size_t from : {size_t(0), size_t(1), size_t(63), size_t(64), size_t(65),
                                      size_t(plain.size() / 2), plain.size(), plain.size() + 7}) {
                const std::vector<uint32_t> expected(
                    plain.begin() + std::ptrdiff_t(std::min(from, plain.size())),
                    plain.begin() + std::ptrdiff_t(std::min(from + 30, plain.size())));
                EXPECT_EQ(packed.slice(from, 30), expected) << where << ", from " << from;
            }
            // Wanted lists from a few IDs to more than the list holds,
            // held and not held, below the first and past the last.
            const uint32_t top = plain.empty() ? 100 : plain.back() + maxGap + 2;
            for (const int wanted : {1, 5, 100, 3000}) {
                std::vector<uint32_t> ids;
                for (int i = 0; i < wanted; ++i) {
                    ids.push_back(rng.bounded(3) == 0 && !plain.empty()
                                      ? plain.at(rng.bounded(uint32_t(plain.size())))
                                      : rng.bounded(top));
                }
                std::sort(ids.begin(), ids.end());
                ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
                std::vector<uint32_t> expected;
                std::set_intersection(ids.begin(), ids.end(), plain.begin(), plain.end(),
                                      std::back_inserter(expected));
                packed.keepCommon(ids);
                EXPECT_EQ(ids, expected) << where << ", " << wanted << " wanted";
            }
            // A list (a dense one a bitmap now) still grows after compact:
            // the tracks of the next pass.
            for (int i = 0; i < 700 && id < UINT32_MAX - 1000000; ++i) {
                id += 1 + rng.bounded(i < 350 ? 2u : 900u);
                plain.push_back(id);
                packed.append(id);
            }
            EXPECT_EQ(packed.all(), plain) << where << ", grown";
            const size_t from = plain.size() > 600 ? plain.size() - 600 : 0;
            EXPECT_EQ(packed.slice(from, 30),
                      std::vector<uint32_t>(plain.begin() + std::ptrdiff_t(from),
                                            plain.begin() +
                                                std::ptrdiff_t(std::min(from + 30, plain.size()))))
                << where << ", grown";
        }
    }
}

// An update writes only what changed; whatever a retag changes, the row,
// its links to artists and albums, and every lookup by genre, artist and
// album follow it, and what stays the same stays found.
TEST(MusicLibraryIndex, UpdatesFollowEveryRetagWhateverItChanges)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("u.sqlite"));
    LibraryIndex index;
    ASSERT_TRUE(index.open(file));
    IndexedTrack t;
    t.path = "/music/Singer A/Album A/Song.mp3";
    t.title = QStringLiteral("Song");
    t.artist = QStringLiteral("Singer A");
    t.album = QStringLiteral("Album A");
    t.genre = QStringLiteral("Pop");
    t.year = 2000;
    t.durationSeconds = 100;
    index.begin();
    t.id = index.insert(t);
    ASSERT_GT(t.id, 0);
    ASSERT_TRUE(index.commit());

    sqlite3 *db = nullptr;
    ASSERT_EQ(
        sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READONLY, nullptr),
        SQLITE_OK);
    const auto text = [db](const char *sql, const QString &value) {
        sqlite3_stmt *stmt = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
        const QByteArray utf8 = value.toUtf8();
        sqlite3_bind_text(stmt, 1, utf8.constData(), -1, SQLITE_TRANSIENT);
        QStringList out;
        while (stmt && sqlite3_step(stmt) == SQLITE_ROW)
            out.append(
                QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0))));
        sqlite3_finalize(stmt);
        return out.join(u',');
    };
    const QString id = QString::number(t.id);
    struct Case
    {
        const char *name;
        std::function<void(IndexedTrack &)> change;
    };
    const Case cases[] = {
        {"the year only", [](IndexedTrack &x) { x.year = 2001; }},
        {"the time only", [](IndexedTrack &x) { x.mtimeNs += 5; }},
        {"the genre", [](IndexedTrack &x) { x.genre = QStringLiteral("Jazz"); }},
        {"the artist", [](IndexedTrack &x) { x.artist = QStringLiteral("Singer B"); }},
        {"the album", [](IndexedTrack &x) { x.album = QStringLiteral("Album B"); }},
        {"a guest",
         [](IndexedTrack &x) {
             x.artists = {x.artist, QStringLiteral("Guest")};
         }},
        {"the length only", [](IndexedTrack &x) { x.durationSeconds = 200; }},
    };
    QString oldGenre = t.genre;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        c.change(t);
        index.begin();
        ASSERT_TRUE(index.update(t));
        ASSERT_TRUE(index.commit());
        EXPECT_EQ(text("SELECT year || ' ' || mtime || ' ' || duration FROM tracks WHERE id=?", id),
                  QStringLiteral("%1 %2 %3").arg(t.year).arg(t.mtimeNs).arg(t.durationSeconds));
        // By genre and by artist through their indexes, old values gone.
        EXPECT_EQ(text("SELECT id FROM tracks INDEXED BY tracks_genre WHERE genre=?", t.genre), id);
        if (oldGenre != t.genre) {
            EXPECT_EQ(text("SELECT id FROM tracks INDEXED BY tracks_genre WHERE genre=?", oldGenre),
                      QString());
        }
        oldGenre = t.genre;
        const QList<IndexedTrack> byArtist =
            index.tracksOfArtist(LibraryIndex::looseKey(t.artist), 5);
        ASSERT_EQ(byArtist.size(), 1);
        EXPECT_EQ(byArtist.front().id, t.id);
        // The album it is in now, counted with its length and year.
        EXPECT_EQ(text("SELECT a.name || ' ' || a.song_count || ' ' || a.duration || ' ' || a.year "
                       "FROM albums a JOIN tracks t INDEXED BY tracks_album ON t.album_id=a.id "
                       "WHERE t.id=?",
                       id),
                  QStringLiteral("%1 1 %2 %3").arg(t.album).arg(t.durationSeconds).arg(t.year));
        EXPECT_EQ(text("SELECT count(*) FROM albums WHERE song_count>0 AND ?<>''", id),
                  QStringLiteral("1"));
        const QStringList artists = t.artists.isEmpty() ? QStringList{t.artist} : t.artists;
        EXPECT_EQ(text("SELECT a.name FROM track_artists l JOIN artists a ON a.id=l.artist_id "
                       "WHERE l.track_id=? ORDER BY l.position",
                       id),
                  artists.join(u','));
    }
    EXPECT_EQ(text("PRAGMA integrity_check", QString()), QStringLiteral("ok"));
    sqlite3_close(db);
}

// More request threads than reader connections: every search still gets
// its own right answer (and none waits for ever).
TEST(MusicLibraryIndex, ManyThreadsShareTheReaders)
{
    QTemporaryDir dir;
    LibraryIndex index;
    ASSERT_TRUE(index.open(dir.filePath(QStringLiteral("i.sqlite"))));
    const QStringList singers{QStringLiteral("甲"), QStringLiteral("乙"), QStringLiteral("丙"),
                              QStringLiteral("丁"), QStringLiteral("戊"), QStringLiteral("己"),
                              QStringLiteral("庚")};
    index.begin();
    for (int i = 0; i < 300; ++i) {
        IndexedTrack t;
        t.path = "/m/" + std::to_string(i) + ".mp3";
        t.title = QStringLiteral("song %1").arg(i);
        t.artist = QStringLiteral("歌手") + singers.at(i % 7);
        ASSERT_GT(index.insert(t), 0);
    }
    ASSERT_TRUE(index.commit());
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int n = 0; n < 12; ++n) {
        threads.emplace_back([&, n] {
            for (int i = 0; i < 40; ++i) {
                const int singer = (n + i) % 7;
                // One character, then the whole name: both search paths.
                const QString word =
                    i % 2 ? singers.at(singer) : QStringLiteral("歌手") + singers.at(singer);
                const SearchPage page = index.search(word, 2, 30);
                // 300 tracks over 7 singers: 43 for the first six, 42 after.
                const qint64 expected = singer < 300 % 7 ? 43 : 42;
                if (page.total != expected || page.rows.size() != expected - 30 ||
                    !index.track(page.rows.at(0).id))
                    ++wrong;
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(MusicLibraryIndex, UnusableIndexFilesAreSetAsideAndRebuilt)
{
    QTemporaryDir dir;
    const QString garbage = dir.filePath(QStringLiteral("garbage.sqlite"));
    QFile f(garbage);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(10000, 'g'));
    f.close();

    // Another program's database under the same name.
    const QString foreign = dir.filePath(QStringLiteral("foreign.sqlite"));
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(foreign).constData(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE songs(name TEXT); INSERT INTO songs VALUES('x');",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    for (const QString &file : {garbage, foreign}) {
        LibraryIndex index;
        QString note;
        ASSERT_TRUE(index.open(file, &note)) << file.toStdString();
        EXPECT_TRUE(note.contains(QLatin1String("set aside"))) << note.toStdString();
        EXPECT_TRUE(QFileInfo::exists(file + QStringLiteral(".broken")));
        IndexedTrack t;
        t.path = "/m/a.mp3";
        t.title = QStringLiteral("after rebuild");
        index.begin();
        EXPECT_GT(index.insert(t), 0);
        EXPECT_TRUE(index.commit());
        EXPECT_EQ(index.search(QStringLiteral("rebuild"), 1, 30).total, 1);
    }
}

TEST_F(MusicLibrary, ScanIndexesTheGoodFilesAndSkipsTheRest)
{
    QTemporaryDir dir;
    LibraryIndex index;
    ASSERT_TRUE(index.open(dir.filePath(QStringLiteral("i.sqlite"))));
    LibraryScanner scanner(index, {s_library->root()});
    const ScanSummary summary = scanner.scan();
    EXPECT_EQ(summary.tracks, s_library->tracks().size());
    EXPECT_EQ(summary.added, s_library->tracks().size());
    EXPECT_EQ(summary.skipped, s_library->broken().size());
    EXPECT_GE(summary.outsideLinks, 2); // the file and the folder outside the root
    EXPECT_EQ(index.search(QStringLiteral("Secret"), 1, 30).total, 0);

    for (const TestLibrary::Track &t : s_library->tracks()) {
        const SearchPage page = index.search(t.title, 1, 30);
        ASSERT_EQ(page.total, 1) << t.title.toStdString();
        EXPECT_EQ(page.rows.at(0).singer, t.artist) << t.title.toStdString();
        EXPECT_EQ(page.rows.at(0).album, t.album) << t.title.toStdString();
    }
    // One- and two-character Chinese words, and words across fields.
    EXPECT_EQ(index.search(QStringLiteral("爱"), 1, 30).total, 1);
    EXPECT_EQ(index.search(QStringLiteral("晴川"), 1, 30).total, 2);
    EXPECT_EQ(index.search(QStringLiteral("晴川 爱"), 1, 30).total, 1);
    EXPECT_EQ(index.search(QStringLiteral("roads"), 1, 30).total, 2);
    EXPECT_EQ(index.search(QStringLiteral("ROADS jerry"), 1, 30).total, 1);
}

TEST_F(MusicLibrary, RescansAreIncrementalAndIdsStable)
{
    // A copy of the library that this test may change.
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("music"));
    for (const TestLibrary::Track &t : s_library->tracks()) {
        QDir().mkpath(QFileInfo(root + u'/' + t.relativePath).absolutePath());
        ASSERT_TRUE(QFile::copy(s_library->path(t.relativePath), root + u'/' + t.relativePath));
    }
    const QString indexFile = dir.filePath(QStringLiteral("i.sqlite"));
    std::map<QString, qint64> before;
    {
        LibraryIndex index;
        ASSERT_TRUE(index.open(indexFile));
        LibraryScanner scanner(index, {root});
        ASSERT_EQ(scanner.scan().added, s_library->tracks().size());
        before = idsByTitle(index);
        ASSERT_EQ(before.size(), size_t(s_library->tracks().size()));
        for (const auto &[title, id] : before)
            EXPECT_GT(id, 0);

        // Unchanged: nothing read again.
        const ScanSummary again = scanner.scan();
        EXPECT_EQ(again.unchanged, s_library->tracks().size());
        EXPECT_FALSE(again.changedAnything());
    }

    // A restart on the same index: same IDs, still nothing to read.
    LibraryIndex index;
    ASSERT_TRUE(index.open(indexFile));
    index.reloadShortIndex();
    LibraryScanner scanner(index, {root});
    EXPECT_FALSE(scanner.scan().changedAnything());
    EXPECT_EQ(idsByTitle(index), before);

    // A retagged file keeps its ID; a removed one leaves; a new one joins
    // with an ID never used before.
    const QString opus = root + QStringLiteral("/Misc/Night Opus.opus");
    ASSERT_TRUE(TestLibrary::writeTags(opus, QStringLiteral("Morning Opus"),
                                       QStringLiteral("Rock'n'Roll Band"), QStringLiteral("M")));
    struct utimbuf later
    {
        time(nullptr) + 10, time(nullptr) + 10
    };
    ::utime(QFile::encodeName(opus).constData(), &later);
    ASSERT_TRUE(QFile::remove(root + QStringLiteral("/Eli Brooks - Paper Roads.mp3")));
    ASSERT_TRUE(QFile::copy(s_library->path(QStringLiteral("Legacy/旧歌.mp3")),
                            root + QStringLiteral("/Legacy/Another - New Song.mp3")));
    const ScanSummary changed = scanner.scan();
    EXPECT_EQ(changed.changed, 1);
    EXPECT_EQ(changed.removed, 1);
    EXPECT_EQ(changed.added, 1);

    const SearchPage morning = index.search(QStringLiteral("morning"), 1, 30);
    ASSERT_EQ(morning.total, 1);
    EXPECT_EQ(morning.rows.at(0).id, before.at(QStringLiteral("Night Opus")));
    EXPECT_EQ(index.search(QStringLiteral("night"), 1, 30).total, 0);
    EXPECT_EQ(index.search(QStringLiteral("paper"), 1, 30).total, 0);
    EXPECT_FALSE(index.track(before.at(QStringLiteral("Paper Roads"))).has_value());
    qint64 maxBefore = 0;
    for (const auto &[title, id] : before)
        maxBefore = std::max(maxBefore, id);
    const SearchPage added = index.search(QStringLiteral("旧时光"), 1, 30);
    ASSERT_EQ(added.total, 2);
    EXPECT_EQ(added.rows.at(1).id, maxBefore + 1);
}

TEST_F(MusicLibrary, SourceServesOnlyIndexedFilesUnderTheRoots)
{
    QTemporaryDir dir;
    LibraryIndex index;
    ASSERT_TRUE(index.open(dir.filePath(QStringLiteral("i.sqlite"))));
    LibraryScanner scanner(index, {s_library->root()});
    scanner.scan();
    LibrarySource source(index, scanner);

    const SearchPage love = source.search(QStringLiteral("爱的故事"), 1, 30);
    ASSERT_EQ(love.total, 1);
    const qint64 id = love.rows.at(0).id;
    EXPECT_EQ(love.rows.at(0).audioSuffix, QStringLiteral("mp3"));
    // The suffix must be the file's own.
    EXPECT_FALSE(source.audio(id, QStringLiteral("wav")).has_value());
    const std::optional<Payload> audio = source.audio(id, QStringLiteral("mp3"));
    ASSERT_TRUE(audio.has_value());
    EXPECT_EQ(audio->contentType, "audio/mpeg");
    EXPECT_EQ(audio->size(),
              QFileInfo(s_library->path(QStringLiteral("晴川/夏天/01 爱的故事.mp3"))).size());

    // The GBK sidecar comes out as UTF-8 LRC.
    const std::optional<Payload> lrc = source.lyric(id);
    ASSERT_TRUE(lrc.has_value());
    const QString lrcText = QString::fromUtf8(*lrc->bytes);
    for (const QString &line : TestLibrary::gbkSidecarLines())
        EXPECT_TRUE(lrcText.contains(line)) << lrcText.toStdString();

    // Singer pictures: the artist folder's PNG as JPEG, an embedded cover,
    // none for a singer without either.
    for (const char *singer : {"晴川", "Tom  Jerry"}) {
        const std::optional<SingerEntry> entry = source.singerByName(QString::fromUtf8(singer));
        ASSERT_TRUE(entry.has_value()) << singer;
        EXPECT_TRUE(entry->singer.hasPicture) << singer;
        const std::optional<Payload> picture = source.picture(entry->singer.pictureKey);
        ASSERT_TRUE(picture.has_value()) << singer;
        const QImage image = QImage::fromData(*picture->bytes, "JPEG");
        EXPECT_FALSE(image.isNull()) << singer;
        EXPECT_LE(std::max(image.width(), image.height()), 300) << singer;
    }
    const std::optional<SingerEntry> plain = source.singerByName(QStringLiteral("苏小暖"));
    ASSERT_TRUE(plain.has_value());
    EXPECT_FALSE(plain->singer.hasPicture);
    EXPECT_FALSE(source.singerByName(QStringLiteral("Outsider")).has_value());

    // IDs that name nothing, or a track whose file moved out of reach.
    for (const qint64 bad : {qint64(0), qint64(-1), qint64(999999)}) {
        EXPECT_FALSE(source.audio(bad, QStringLiteral("mp3")).has_value());
        EXPECT_FALSE(source.lyric(bad).has_value());
    }
    EXPECT_FALSE(source.picture(QStringLiteral("zz")).has_value());
}

} // namespace
