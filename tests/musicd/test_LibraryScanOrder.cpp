// The scan reads tags on several threads but writes on one: a first scan
// must still number tracks in folder order, whichever reader finished first,
// and a pass cut short must keep its committed batches in that order, so the
// next pass only appends the rest.
#include "musicd/library/LibraryIndex.h"
#include "musicd/library/LibraryScanner.h"
#include "tests/common/TestLibrary.h"
#include "tests/musicd/TrigramProbe.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <thread>

using namespace musicd;

namespace {

// Paths of the indexed tracks, by ID.
std::vector<std::string> pathsById(const QString &indexFile)
{
    std::vector<std::string> paths;
    sqlite3 *db = nullptr;
    sqlite3_open_v2(QFile::encodeName(indexFile).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT path FROM tracks ORDER BY id", -1, &stmt, nullptr);
    while (stmt && sqlite3_step(stmt) == SQLITE_ROW)
        paths.emplace_back(static_cast<const char *>(sqlite3_column_blob(stmt, 0)),
                           size_t(sqlite3_column_bytes(stmt, 0)));
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return paths;
}

class LibraryScanOrder : public ::testing::Test
{
protected:
    // Folders whose names sort differently by byte and by folding ("B" before
    // "a", "a b" before "a/"), each holding good files between empty and
    // garbage ones, which readers finish at once while a good file takes
    // TagLib a while: the readers finish out of order all the time.
    void SetUp() override
    {
        QString error;
        const QString source = m_dir.filePath(QStringLiteral("tone.mp3"));
        ASSERT_TRUE(TestLibrary::encode(TestLibrary::toneWav(0.2, 440), source, &error))
            << error.toStdString();
        QFile f(source);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray mp3 = f.readAll();
        m_root = m_dir.filePath(QStringLiteral("music"));
        const QStringList folders{QStringLiteral("a"), QStringLiteral("a b"),
                                  QStringLiteral("B/deep/er"), QStringLiteral("ä"),
                                  QStringLiteral("a/x")};
        int n = 0;
        for (const QString &folder : folders) {
            QDir().mkpath(m_root + u'/' + folder);
            for (int i = 0; i < 400; ++i, ++n) {
                const QString name = QStringLiteral("%1/%2/Singer %3 - Song %4.mp3")
                                         .arg(m_root, folder)
                                         .arg(n % 7)
                                         .arg(n);
                QFile out(name);
                ASSERT_TRUE(out.open(QIODevice::WriteOnly));
                const int kind = n % 5;
                if (kind != 0)
                    out.write(mp3); // four of five are tracks
                else if (n % 2 == 0)
                    out.write("garbage, no audio at all");
                out.close();
                if (kind != 0)
                    m_expected.push_back(QFile::encodeName(name).toStdString());
            }
        }
        // The walk's order: names sorted by byte in each folder, depth first.
        std::sort(
            m_expected.begin(), m_expected.end(), [](const std::string &a, const std::string &b) {
                return std::lexicographical_compare(
                    a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
                        const auto rank = [](char c) { return c == '/' ? 0 : int(uint8_t(c)) + 1; };
                        return rank(x) < rank(y);
                    });
            });
        m_indexFile = m_dir.filePath(QStringLiteral("i.sqlite"));
    }

    QTemporaryDir m_dir;
    QString m_root;
    QString m_indexFile;
    std::vector<std::string> m_expected;
};

TEST_F(LibraryScanOrder, FirstScanNumbersTracksInFolderOrder)
{
    LibraryIndex index;
    ASSERT_TRUE(index.open(m_indexFile));
    LibraryScanner scanner(index, {m_root});
    const ScanSummary summary = scanner.scan();
    EXPECT_EQ(summary.added, qint64(m_expected.size()));
    EXPECT_EQ(summary.skipped, 2000 - qint64(m_expected.size()));
    EXPECT_EQ(pathsById(m_indexFile), m_expected);
    // Search memory filled batch by batch answers as the file does: the
    // file names are the titles and singers, the folders (no digits) the
    // albums.
    EXPECT_EQ(index.search(QStringLiteral("singer 3"), 1, 30).total,
              qint64(std::count_if(m_expected.begin(), m_expected.end(), [](const std::string &p) {
                  return p.find('3', p.rfind('/')) < p.size() - 4; // not in .mp3
              })));
}

TEST_F(LibraryScanOrder, PassCutShortKeepsItsBatchesAndTheNextAppendsTheRest)
{
    LibraryIndex index;
    ASSERT_TRUE(index.open(m_indexFile));
    LibraryScanner scanner(index, {m_root});
    std::atomic<bool> stop{false};
    std::thread stopper([&] {
        while (scanner.liveProgress().checked < 200 && !stop)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        stop = true;
    });
    const ScanSummary cut = scanner.scan({}, &stop);
    stop = true;
    stopper.join();
    const std::vector<std::string> kept = pathsById(m_indexFile);
    EXPECT_EQ(cut.added, qint64(kept.size()));
    ASSERT_LT(kept.size(), m_expected.size());
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), m_expected.begin()));

    const ScanSummary rest = scanner.scan();
    EXPECT_EQ(rest.added, qint64(m_expected.size() - kept.size()));
    EXPECT_EQ(rest.unchanged, qint64(kept.size()));
    EXPECT_EQ(rest.removed, 0);
    EXPECT_EQ(pathsById(m_indexFile), m_expected);
}

// A first scan fills the trigram index at its end, not batch by batch; one
// cut short leaves a file that knows what it lacks, and the next pass (or
// a change to a track) brings every track in.
TEST_F(LibraryScanOrder, TrigramIndexHoldsEveryTrackOnceAFirstScanEndsEvenACutOne)
{
    const int tracks = int(m_expected.size());
    {
        LibraryIndex index;
        ASSERT_TRUE(index.open(m_indexFile));
        LibraryScanner scanner(index, {m_root});
        std::atomic<bool> stop{false};
        std::thread stopper([&] {
            while (scanner.liveProgress().checked < 700 && !stop)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            stop = true;
        });
        const ScanSummary cut = scanner.scan({}, &stop);
        stop = true;
        stopper.join();
        ASSERT_GT(cut.added, 0);
        ASSERT_LT(cut.added, tracks);
        EXPECT_LT(trigramMatches(m_indexFile, "singer"), cut.added);
    }
    {
        LibraryIndex index;
        ASSERT_TRUE(index.open(m_indexFile));
        LibraryScanner scanner(index, {m_root});
        const ScanSummary rest = scanner.scan();
        EXPECT_EQ(rest.added + rest.unchanged, tracks);
        EXPECT_EQ(trigramMatches(m_indexFile, "singer"), tracks);
        EXPECT_EQ(trigramMatches(m_indexFile, "\"song 1\""),
                  int(std::count_if(m_expected.begin(), m_expected.end(), [](const std::string &p) {
                      return p.find("Song 1", p.rfind('/')) != std::string::npos;
                  })));
    }
    // An uncut first scan ends with all of them as well.
    const QString fresh = m_dir.filePath(QStringLiteral("fresh.sqlite"));
    LibraryIndex index;
    ASSERT_TRUE(index.open(fresh));
    LibraryScanner scanner(index, {m_root});
    EXPECT_EQ(scanner.scan().added, tracks);
    EXPECT_EQ(trigramMatches(fresh, "singer"), tracks);
}

// A later pass walks the top folders on several threads; a thread done
// with its folder before the folders ahead of it leaves its files to go out
// in their turn. New files of many small folders still get IDs in folder
// order, and every one is found.
TEST(LibraryRescanOrder, NewFilesOfManyFoldersAreNumberedInFolderOrder)
{
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("music"));
    const QByteArray wav = TestLibrary::toneWav(0.05, 330);
    const auto put = [&](int folder, const char *song) {
        const QString name = QStringLiteral("%1/%2/Singer %2 - %3.wav")
                                 .arg(root)
                                 .arg(folder, 3, 10, QLatin1Char('0'))
                                 .arg(QLatin1String(song));
        QDir().mkpath(QFileInfo(name).absolutePath());
        QFile out(name);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(wav);
        return QFile::encodeName(name).toStdString();
    };
    constexpr int kFolders = 120;
    for (int folder = 0; folder < kFolders; ++folder)
        put(folder, "first");
    const QString indexFile = dir.filePath(QStringLiteral("i.sqlite"));
    LibraryIndex index;
    ASSERT_TRUE(index.open(indexFile));
    LibraryScanner scanner(index, {root});
    ASSERT_EQ(scanner.scan().added, kFolders);

    // Every other folder gets a new file; the rest stay as they were, so
    // threads finish folders at different speeds.
    std::vector<std::string> fresh;
    for (int folder = 0; folder < kFolders; folder += 2)
        fresh.push_back(put(folder, "second"));
    const ScanSummary rescan = scanner.scan();
    EXPECT_EQ(rescan.added, qint64(fresh.size()));
    EXPECT_EQ(rescan.unchanged, kFolders);
    const std::vector<std::string> paths = pathsById(indexFile);
    ASSERT_EQ(paths.size(), size_t(kFolders) + fresh.size());
    EXPECT_EQ(std::vector<std::string>(paths.begin() + kFolders, paths.end()), fresh);
}

} // namespace
