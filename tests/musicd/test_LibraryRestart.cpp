// A restart on the index of an earlier run: an orderly close lets the next
// open skip reading the whole file and bring back the search memory (from a
// snapshot read only when it fits together), any other close still gets the
// whole-file check (and a damaged file is still set aside); and the first
// pass after a restart finds exactly what changed on disk meanwhile,
// whichever way the index was closed.
#include "musicd/library/LibraryIndex.h"
#include "musicd/library/LibraryScanner.h"
#include "musicd/search/ShortQueryIndex.h"
#include "musicd/search/SnapshotFile.h"
#include "tests/common/TestLibrary.h"
#include "tests/musicd/TrigramProbe.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <sqlite3.h>
#include <sys/stat.h>
#include <tuple>

using namespace musicd;

namespace {

constexpr int kTracks = 2000;

struct Stamp
{
    qint64 id = 0;
    qint64 mtimeNs = 0;
};

// The indexed tracks by path, read as another program would.
std::map<std::string, Stamp> stampsOf(const QString &indexFile)
{
    std::map<std::string, Stamp> stamps;
    sqlite3 *db = nullptr;
    sqlite3_open_v2(QFile::encodeName(indexFile).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT path, id, mtime FROM tracks", -1, &stmt, nullptr);
    while (stmt && sqlite3_step(stmt) == SQLITE_ROW)
        stamps[std::string(static_cast<const char *>(sqlite3_column_blob(stmt, 0)),
                           size_t(sqlite3_column_bytes(stmt, 0)))] = {
            sqlite3_column_int64(stmt, 1), sqlite3_column_int64(stmt, 2)};
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return stamps;
}

// A copy of the index as a crash leaves it: taken while it is open, its
// last commits moved into the file so the copy needs no -wal.
void copyWhileOpen(const QString &from, const QString &to)
{
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(from).constData(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    ASSERT_TRUE(QFile::copy(from, to));
}

void overwrite(const QString &file, qint64 offset, const QByteArray &bytes)
{
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.seek(offset));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

TEST(LibraryRestart, OnlyAnUncleanCloseIsCheckedAndDamageIsStillFound)
{
    QTemporaryDir dir;
    const QString clean = dir.filePath(QStringLiteral("clean.sqlite"));
    const QString crashed = dir.filePath(QStringLiteral("crashed.sqlite"));
    const QString damaged = dir.filePath(QStringLiteral("damaged.sqlite"));
    {
        LibraryIndex index;
        ASSERT_TRUE(index.open(clean));
        EXPECT_FALSE(index.checkedAtOpen()); // a new file has nothing to check
        index.begin();
        for (int i = 0; i < kTracks; ++i) {
            IndexedTrack t;
            t.path = "/music/" + std::to_string(i) + ".mp3";
            t.title = QStringLiteral("歌 %1 a title long enough to fill some pages").arg(i);
            ASSERT_GT(index.insert(t), 0);
        }
        ASSERT_TRUE(index.commit());
    }
    {
        // Closed in order: no check, and the search memory is back at once.
        LibraryIndex index;
        ASSERT_TRUE(index.open(clean));
        EXPECT_FALSE(index.checkedAtOpen());
        EXPECT_TRUE(index.searchMemoryComplete());
        EXPECT_EQ(index.search(QStringLiteral("歌"), 1, 30).total, kTracks);
        EXPECT_EQ(index.search(QStringLiteral("歌 1999"), 1, 30).total, 1);
        copyWhileOpen(clean, crashed);
        copyWhileOpen(clean, damaged);
    }
    overwrite(damaged, 10 * 4096, QByteArray(4096, 'Z'));

    struct Case
    {
        const char *name;
        QString file;
        std::function<void()> before;
        // Of the index open() ends with: a new one where the file was
        // set aside.
        bool checked;
        bool setAside;
        bool memoryBack;
        int tracks = kTracks; // unless set aside
    };
    const QString cut = dir.filePath(QStringLiteral("cut.sqlite"));
    const QString staleMemory = dir.filePath(QStringLiteral("stale.sqlite"));
    const QString added = dir.filePath(QStringLiteral("added.sqlite"));
    const Case cases[] = {
        {"crashed", crashed, [] {}, true, false, false},
        {"crashed and damaged", damaged, [] {}, false, true, true},
        {"closed in order, then cut short", cut,
         [&] {
             ASSERT_TRUE(QFile::copy(clean, cut));
             ASSERT_TRUE(QFile::resize(cut, QFileInfo(clean).size() / 2));
         },
         false, true, true},
        {"closed in order, its search memory damaged", staleMemory,
         [&] {
             ASSERT_TRUE(QFile::copy(clean, staleMemory));
             const QString memory = clean + QStringLiteral("-search");
             ASSERT_TRUE(QFile::copy(memory, staleMemory + QStringLiteral("-search")));
             overwrite(staleMemory + QStringLiteral("-search"), QFileInfo(memory).size() / 2,
                       QByteArray(8, '\xff'));
         },
         false, false, false},
        {"closed in order, then added to by a program knowing no mark", added,
         [&] {
             ASSERT_TRUE(QFile::copy(clean, added));
             ASSERT_TRUE(
                 QFile::copy(clean + QStringLiteral("-search"), added + QStringLiteral("-search")));
             sqlite3 *db = nullptr;
             ASSERT_EQ(sqlite3_open(QFile::encodeName(added).constData(), &db), SQLITE_OK);
             EXPECT_EQ(sqlite3_exec(db,
                                    "INSERT INTO tracks(path, title) VALUES('/music/new.mp3', "
                                    "'歌 new')",
                                    nullptr, nullptr, nullptr),
                       SQLITE_OK);
             sqlite3_close(db);
         },
         false, false, false, kTracks + 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        c.before();
        LibraryIndex index;
        QString note;
        ASSERT_TRUE(index.open(c.file, &note));
        EXPECT_EQ(index.checkedAtOpen(), c.checked);
        EXPECT_EQ(note.contains(QLatin1String("set aside")), c.setAside) << note.toStdString();
        EXPECT_EQ(QFileInfo::exists(c.file + QStringLiteral(".broken")), c.setAside);
        EXPECT_EQ(index.searchMemoryComplete(), c.memoryBack);
        // Whatever came back is all there, and searches find all of it once
        // the memory is filled from the file.
        EXPECT_EQ(index.trackCount(), c.setAside ? 0 : c.tracks);
        index.reloadShortIndex();
        EXPECT_EQ(index.search(QStringLiteral("歌"), 1, 30).total, c.setAside ? 0 : c.tracks);
    }
}

TEST(LibraryRestart, TrigramIndexFollowsTextChangesOnly)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("i.sqlite"));
    LibraryIndex index;
    ASSERT_TRUE(index.open(file));
    IndexedTrack t;
    t.path = "/music/a.mp3";
    t.title = QStringLiteral("alpha song");
    t.artist = QStringLiteral("someone");
    index.begin();
    t.id = index.insert(t);
    ASSERT_TRUE(index.commit());
    // A retag of the year leaves the words; a new title replaces them.
    for (const auto &[title, year, gone, found] :
         {std::tuple{"alpha song", 1999, "omega", "alpha"},
          std::tuple{"omega song", 1999, "alpha", "omega"},
          std::tuple{"omega song", 2001, "alpha", "omega"}}) {
        t.title = QString::fromLatin1(title);
        t.year = year;
        index.begin();
        ASSERT_TRUE(index.update(t));
        ASSERT_TRUE(index.commit());
        EXPECT_EQ(trigramMatches(file, found), 1) << title << year;
        EXPECT_EQ(trigramMatches(file, gone), 0) << title << year;
        EXPECT_EQ(trigramMatches(file, "someone"), 1) << title << year;
    }
}

// A snapshot of the search memory as anyone could write one: lists of
// packed IDs (no skips, no bitmaps), the slot table, the tracks' texts.
struct RawList
{
    uint32_t count;
    uint32_t last;
    std::vector<uint8_t> gaps;
};

void writeRawMemory(const std::string &file, const std::vector<RawList> &lists,
                    const std::vector<uint64_t> &slots, const std::vector<uint32_t> &ids,
                    const std::vector<uint32_t> &starts, const std::vector<uint16_t> &lengths,
                    const std::string &text)
{
    SnapshotFile::Writer out(file);
    out.putValue(uint64_t(lists.size()));
    for (const RawList &list : lists) {
        out.putValue(list.count);
        out.putValue(list.last);
        out.putVector(list.gaps);
        out.putVector(std::vector<uint64_t>());
        out.putVector(std::vector<uint64_t>());
        out.putVector(std::vector<uint32_t>());
    }
    out.putVector(slots);
    out.putVector(ids);
    out.putVector(starts);
    out.putVector(lengths);
    out.putValue(uint64_t(1));
    out.putValue(uint64_t(text.size()));
    out.put(text.data(), text.size());
    ASSERT_TRUE(out.finish());
}

TEST(LibrarySearchMemory, SnapshotRoundTripsAndWhatDoesNotFitIsRefused)
{
    QTemporaryDir dir;
    const std::string file = QFile::encodeName(dir.filePath(QStringLiteral("m"))).toStdString();
    // Letters common enough to become bitmaps, pairs that stay packed.
    ShortQueryIndex index;
    QRandomGenerator rng(7);
    const QString letters = QStringLiteral("ab爱晴川xyz");
    for (uint32_t id = 1; id <= 3000; ++id) {
        QString text;
        for (int i = 0; i < 8; ++i)
            text += letters.at(rng.bounded(letters.size()));
        index.add(id * 3, text);
    }
    index.compact();
    {
        SnapshotFile::Writer out(file);
        index.save(out);
        ASSERT_TRUE(out.finish());
    }
    ShortQueryIndex back;
    SnapshotFile::Reader in(file);
    ASSERT_TRUE(back.load(in));
    EXPECT_TRUE(in.finish());
    for (const QString &word : {QStringLiteral("a"), QStringLiteral("爱"), QStringLiteral("晴川"),
                                QStringLiteral("zb"), QStringLiteral("xyz爱")}) {
        ASSERT_TRUE(index.find(word.left(2)) && back.find(word.left(2)));
        EXPECT_EQ(back.find(word.left(2))->all(), index.find(word.left(2))->all());
        EXPECT_EQ(back.findAll({word}), index.findAll({word})) << word.toStdString();
    }

    // Whole by their checksums, each one wrong in a way that would have
    // a lookup read outside what was read.
    const RawList ids3and5{2, 5, {3, 2}};
    const std::vector<uint64_t> slots{0, uint64_t('a') << 32 | 1, 0, 0};
    struct Case
    {
        const char *name;
        std::vector<RawList> lists;
        std::vector<uint64_t> slots;
        std::vector<uint32_t> ids;
        std::vector<uint16_t> lengths;
        bool loads;
    };
    const Case cases[] = {
        {"as it should be", {ids3and5}, slots, {3, 5}, {4, 4}, true},
        {"a list longer than its bytes", {{3, 5, {3, 2}}}, slots, {3, 5}, {4, 4}, false},
        {"a list ending elsewhere", {{2, 6, {3, 2}}}, slots, {3, 5}, {4, 4}, false},
        {"a slot naming no list",
         {ids3and5},
         {0, uint64_t('a') << 32 | 2, 0, 0},
         {3, 5},
         {4, 4},
         false},
        {"a slot table of no power of two",
         {ids3and5},
         {uint64_t('a') << 32 | 1, 0, 0},
         {3, 5},
         {4, 4},
         false},
        {"a text past its block", {ids3and5}, slots, {3, 5}, {4, 9}, false},
        {"tracks out of order", {ids3and5}, slots, {5, 3}, {4, 4}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        writeRawMemory(file, c.lists, c.slots, c.ids, {0, 4}, c.lengths, "abcdabcd");
        ShortQueryIndex loaded;
        SnapshotFile::Reader raw(file);
        EXPECT_EQ(loaded.load(raw), c.loads);
        EXPECT_EQ(loaded.trackCount(), c.loads ? 2u : 0u);
        EXPECT_EQ(loaded.holdsText(5, QStringLiteral("abcd")), c.loads);
    }
}

// How the index of the earlier run was left: crashed, closed in order (its
// files' stamps saved beside it for the next pass), or closed in order and
// then written to before the pass began, which makes those stamps stale.
enum class Restart { Crashed, ClosedInOrder, HandedOverBeforeThePass };

// Folders of a few files each, named "Singer - Song" (no tags: the name
// says it), so the walk's threads each get folders of their own.
class LibraryRestartScan : public ::testing::TestWithParam<Restart>
{
protected:
    void SetUp() override
    {
        m_root = m_dir.filePath(QStringLiteral("music"));
        for (const char *folder : {"A", "B", "C", "D"}) {
            QDir().mkpath(m_root + u'/' + QLatin1String(folder));
            for (int i = 0; i < 4; ++i)
                write(
                    QStringLiteral("%1/Singer %1 - Song %2.wav").arg(QLatin1String(folder)).arg(i),
                    i);
        }
        write(QStringLiteral("Loose - Song.wav"), 9);
    }
    void write(const QString &relative, int pitch)
    {
        QFile f(path(relative));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(TestLibrary::toneWav(0.05, 200 + 50 * pitch));
    }
    QString path(const QString &relative) const { return m_root + u'/' + relative; }
    std::string bytes(const QString &relative) const
    {
        return QFile::encodeName(path(relative)).toStdString();
    }

    QTemporaryDir m_dir;
    QString m_root;
};

TEST_P(LibraryRestartScan, FindsExactlyTheFilesAddedRemovedModifiedAndRenamed)
{
    const bool closedInOrder = GetParam() != Restart::Crashed;
    const bool handedOver = GetParam() == Restart::HandedOverBeforeThePass;
    const QString first = m_dir.filePath(QStringLiteral("index.sqlite"));
    QString indexFile = first;
    {
        LibraryIndex index;
        ASSERT_TRUE(index.open(first));
        LibraryScanner scanner(index, {m_root});
        ASSERT_EQ(scanner.scan().added, 17);
        if (!closedInOrder) {
            indexFile = m_dir.filePath(QStringLiteral("crashed.sqlite"));
            copyWhileOpen(first, indexFile);
        }
    }
    const std::map<std::string, Stamp> before = stampsOf(indexFile);
    ASSERT_EQ(before.size(), 17u);
    qint64 maxBefore = 0;
    for (const auto &[path, stamp] : before)
        maxBefore = std::max(maxBefore, stamp.id);

    // While the service is down: one file added, one removed, one renamed
    // into another folder, and one modified in place, its size kept and
    // its time moved on (its folder's time stays as it was).
    write(QStringLiteral("B/Newcomer - Fresh.wav"), 7);
    ASSERT_TRUE(QFile::remove(path(QStringLiteral("A/Singer A - Song 1.wav"))));
    ASSERT_TRUE(QFile::rename(path(QStringLiteral("A/Singer A - Song 3.wav")),
                              path(QStringLiteral("D/Moved - Away.wav"))));
    const QString modified = QStringLiteral("C/Singer C - Song 2.wav");
    const qint64 size = QFileInfo(path(modified)).size();
    overwrite(path(modified), size - 64, QByteArray(64, '\x11'));
    const timespec later[2] = {{0, UTIME_OMIT},
                               {time_t(before.at(bytes(modified)).mtimeNs / 1000000000 + 7), 5}};
    ASSERT_EQ(::utimensat(AT_FDCWD, bytes(modified).c_str(), later, 0), 0);
    ASSERT_EQ(QFileInfo(path(modified)).size(), size);

    EXPECT_EQ(QFileInfo::exists(indexFile + QStringLiteral("-stamps")), closedInOrder);
    LibraryIndex index;
    ASSERT_TRUE(index.open(indexFile));
    EXPECT_EQ(index.checkedAtOpen(), !closedInOrder);
    LibraryScanner scanner(index, {m_root});
    if (handedOver) {
        bool changed = false;
        const std::string fresh =
            LibraryScanner::canonical(bytes(QStringLiteral("B/Newcomer - Fresh.wav")));
        ASSERT_EQ(scanner.addFiles({fresh}, &changed).size(), 1u);
        EXPECT_TRUE(changed);
    }
    const ScanSummary summary = scanner.scan();
    EXPECT_TRUE(summary.writeError.isEmpty()) << summary.writeError.toStdString();
    EXPECT_EQ(summary.added, handedOver ? 1 : 2);
    EXPECT_EQ(summary.removed, 2);
    EXPECT_EQ(summary.changed, 1);
    EXPECT_EQ(summary.unchanged, handedOver ? 15 : 14);
    EXPECT_EQ(summary.tracks, 17);

    const std::map<std::string, Stamp> after = stampsOf(indexFile);
    EXPECT_EQ(after.count(bytes(QStringLiteral("A/Singer A - Song 1.wav"))), 0u);
    EXPECT_EQ(after.count(bytes(QStringLiteral("A/Singer A - Song 3.wav"))), 0u);
    for (const auto &[path, stamp] : before) {
        if (!after.count(path))
            continue;
        // Everything that stayed keeps its ID; only the modified file's
        // time is new.
        EXPECT_EQ(after.at(path).id, stamp.id) << path;
        if (path == bytes(modified))
            EXPECT_EQ(after.at(path).mtimeNs, (stamp.mtimeNs / 1000000000 + 7) * 1000000000 + 5);
        else
            EXPECT_EQ(after.at(path).mtimeNs, stamp.mtimeNs) << path;
    }
    for (const QString &fresh :
         {QStringLiteral("B/Newcomer - Fresh.wav"), QStringLiteral("D/Moved - Away.wav")}) {
        ASSERT_EQ(after.count(bytes(fresh)), 1u) << fresh.toStdString();
        EXPECT_GT(after.at(bytes(fresh)).id, maxBefore);
    }
    // Searches see the same library, the one- and two-letter words too
    // (answered from the search memory alone).
    EXPECT_EQ(index.search(QStringLiteral("moved"), 1, 30).total, 1);
    EXPECT_EQ(index.search(QStringLiteral("fresh"), 1, 30).total, 1);
    EXPECT_EQ(index.search(QStringLiteral("song"), 1, 30).total, 15);
    EXPECT_EQ(index.search(QStringLiteral("singer a"), 1, 30).total, 2);
    EXPECT_EQ(index.search(QStringLiteral("ew"), 1, 30).total, 1);
}

INSTANTIATE_TEST_SUITE_P(Closes, LibraryRestartScan,
                         ::testing::Values(Restart::Crashed, Restart::ClosedInOrder,
                                           Restart::HandedOverBeforeThePass));

} // namespace
