// The music library against what a hostile or unlucky disk holds: FIFOs in
// place of tracks, huge files that are not what their names say, files that
// stay unreadable across passes, and an index on a full or read-only disk.
#include "musicd/library/LibraryIndex.h"
#include "musicd/library/LibraryScanner.h"
#include "musicd/library/TagReader.h"
#include "tests/common/MusicdServer.h"
#include "tests/common/TestLibrary.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace musicd;

namespace {

// Bytes this process has read through read() and its kind, from the kernel.
qint64 bytesReadByProcess()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : io.readAll().split('\n')) {
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return -1;
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.flush();
}

// Writes to the file until the disk is full.
bool fillDisk(const QString &filler)
{
    const int fd = ::open(QFile::encodeName(filler).constData(), O_WRONLY | O_CREAT, 0600);
    const QByteArray block(4096, 'f');
    while (fd >= 0 && ::write(fd, block.constData(), size_t(block.size())) > 0) {
    }
    return fd >= 0 && errno == ENOSPC && ::close(fd) == 0;
}

bool makeFifo(const QString &path)
{
    QFile::remove(path);
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

// Whether call returns while nobody writes to the FIFO. One that blocks is
// let go after a long wait by opening the FIFO's other end now and then, so
// a hang fails the test instead of stopping it.
bool returnsWithoutAWriter(const QString &fifo, const std::function<void()> &call)
{
    std::future<void> done = std::async(std::launch::async, call);
    if (done.wait_for(std::chrono::seconds(10)) == std::future_status::ready)
        return true;
    while (done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
        const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    }
    return false;
}

TEST(LibraryHostileFiles, TagsOfAFifoAreNeverWaitedFor)
{
    QTemporaryDir dir;
    for (const char *suffix : {"mp3", "flac", "ogg", "m4a", "wav"}) {
        const QString fifo = dir.filePath(QStringLiteral("track.") + QLatin1String(suffix));
        ASSERT_TRUE(makeFifo(fifo));
        bool nothing = false;
        EXPECT_TRUE(returnsWithoutAWriter(fifo, [&] {
            // Not even opened: the scan does not remember it as unreadable.
            bool opened = true;
            nothing = !TagReader::read(fifo, &opened) && !opened &&
                      TagReader::lyrics(fifo).isEmpty() && TagReader::cover(fifo).isEmpty();
        })) << suffix;
        EXPECT_TRUE(nothing) << suffix;
    }
}

// Files of a few hundred megabytes that hold nothing (sparse, so they cost
// no disk) behind the first bytes of each format: TagLib's searches through
// them stop early, and a real track followed by such a tail still reads.
TEST(LibraryHostileFiles, HugeFilesThatAreNotAudioAreReadOnlyInPart)
{
    QTemporaryDir dir;
    TestLibrary library;
    ASSERT_TRUE(library.build()) << library.error().toStdString();
    constexpr qint64 kSize = 256 * 1024 * 1024;
    // Far below the file, above what the read budgets allow with the
    // stream's own read-ahead.
    constexpr qint64 kMostRead = 40 * 1024 * 1024;
    const QByteArray realMp3 =
        fileBytes(library.path(QStringLiteral("Eli Brooks - Paper Roads.mp3")));
    ASSERT_FALSE(realMp3.isEmpty());
    struct Case
    {
        const char *name;
        QByteArray head;
        bool readable;
    };
    const QList<Case> cases{
        {"zeros.mp3", {}, false},
        {"id3-then-zeros.mp3", QByteArray("ID3\x03\x00\x00\x00\x00\x00\x0a", 10), false},
        {"zeros.flac", {}, false},
        {"flac-marker.flac", QByteArray("fLaC"), false},
        {"zeros.ogg", {}, false},
        {"page-then-zeros.ogg", QByteArray("OggS\x00\x02", 6), false},
        {"zeros.m4a", {}, false},
        {"riff-then-zeros.wav", QByteArray("RIFF\xff\xff\xff\x7fWAVE", 12), false},
        {"real-with-empty-tail.mp3", realMp3, true},
    };
    for (const Case &c : cases) {
        const QString file = dir.filePath(QLatin1String(c.name));
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(c.head), c.head.size());
        ASSERT_TRUE(f.resize(kSize)); // the rest a hole
        f.close();
        const qint64 before = bytesReadByProcess();
        bool opened = false;
        EXPECT_EQ(TagReader::read(file, &opened).has_value(), c.readable) << c.name;
        EXPECT_TRUE(opened) << c.name;
        EXPECT_LT(bytesReadByProcess() - before, kMostRead) << c.name;
        QFile::remove(file);
    }
}

// A track whose file became a FIFO: requests for its lyrics and picture,
// more than there are workers, are answered, and so is a search.
TEST(LibraryHostileFiles, FifoInPlaceOfATrackHoldsNoWorker)
{
    TestLibrary library;
    ASSERT_TRUE(library.build()) << library.error().toStdString();
    MusicdServer server;
    ASSERT_TRUE(
        server.start({QStringLiteral("--library"), library.root(), QStringLiteral("--index"),
                      library.indexFile(), QStringLiteral("--rescan"), QStringLiteral("0")}));
    ASSERT_TRUE(server.waitForStderr(QStringLiteral("library ready"), 60000))
        << server.stderrText().toStdString();
    const QUrl url(server.url());
    const auto get = [&](const std::string &target) {
        httplib::Client http(url.host().toStdString(), url.port());
        http.set_read_timeout(20, 0);
        return http.Get(target);
    };
    const auto idOf = [&](const char *title) {
        const auto res = get(std::string("/app/search/searchList.php?qword=") +
                             QUrl::toPercentEncoding(QString::fromUtf8(title)).toStdString());
        static const QRegularExpression row(QStringLiteral("ddSong\\(\"(\\d+)\""));
        const QRegularExpressionMatch m =
            row.match(res ? QString::fromStdString(res->body) : QString());
        return m.hasMatch() ? m.captured(1).toLongLong() : 0;
    };
    // Embedded lyrics; an embedded cover and no picture file beside it.
    const qint64 lyricId = idOf("晴川之歌");
    const qint64 coverId = idOf("海边晚风");
    ASSERT_GT(lyricId, 0);
    ASSERT_GT(coverId, 0);
    ASSERT_TRUE(makeFifo(library.path(QStringLiteral("晴川/夏天/02 晴川之歌.flac"))));
    ASSERT_TRUE(makeFifo(library.path(QStringLiteral("Lin Harbor/Coast/04 海边晚风.m4a"))));

    constexpr int kRequests = 48; // the service has 32 workers
    std::atomic<int> notFound{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < kRequests; ++i) {
        const std::string target =
            i % 2 ? "/lrc/" + std::to_string(lyricId) + ".lrc"
                  : "/ting/pic/item/" + QString::number(coverId, 16).toStdString() + ".jpg";
        clients.emplace_back([&, target] {
            const auto res = get(target);
            if (res && res->status == 404)
                ++notFound;
        });
    }
    const auto search = get("/app/search/searchList.php?qword=starlight");
    for (std::thread &t : clients)
        t.join();
    ASSERT_TRUE(search);
    EXPECT_NE(search->body.find("Starlight Road"), std::string::npos);
    EXPECT_EQ(notFound.load(), kRequests);
}

// A file found unreadable is not read again while its size and time stay
// the same, across a restart too; once either changes, it is.
TEST(LibraryHostileFiles, UnreadableFilesAreReadAgainOnlyWhenTheyChange)
{
    TestLibrary library;
    ASSERT_TRUE(library.build()) << library.error().toStdString();
    const QByteArray track =
        fileBytes(library.path(QStringLiteral("Eli Brooks - Paper Roads.mp3")));
    ASSERT_FALSE(track.isEmpty());
    const QByteArray garbage(track.size(), '\x01');
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("music"));
    ASSERT_TRUE(QDir().mkpath(root));
    const QString file = root + QStringLiteral("/Singer - Song.mp3");
    const QString indexFile = dir.filePath(QStringLiteral("index.sqlite"));
    // Writes the bytes with the given time (seconds), as a copy that keeps
    // times would.
    const auto put = [&](const QByteArray &bytes, time_t seconds) {
        const timespec times[2] = {{seconds, 0}, {seconds, 0}};
        return writeFile(file, bytes) &&
               ::utimensat(AT_FDCWD, QFile::encodeName(file).constData(), times, 0) == 0;
    };
    struct Step
    {
        const char *what;
        QByteArray bytes; // empty: the file is removed
        time_t time;
        bool restart; // a new index object on the same file
        qint64 added;
        qint64 removed;
        qint64 skipped;
    };
    const Step steps[] = {
        {"unreadable", garbage, 1000000, false, 0, 0, 1},
        {"a track now, same size and time", track, 1000000, false, 0, 0, 1},
        {"after a restart", track, 1000000, true, 0, 0, 1},
        {"a new time", track, 2000000, false, 1, 0, 0},
        {"unreadable again", garbage, 3000000, false, 0, 1, 1},
        {"back to the track, same time", track, 3000000, false, 0, 0, 1},
        {"gone", {}, 0, false, 0, 0, 0},
        {"back, with the time it had when unreadable", track, 3000000, false, 1, 0, 0},
    };
    auto index = std::make_unique<LibraryIndex>();
    ASSERT_TRUE(index->open(indexFile));
    auto scanner = std::make_unique<LibraryScanner>(*index, QStringList{root});
    for (const Step &step : steps) {
        if (step.bytes.isEmpty())
            ASSERT_TRUE(QFile::remove(file));
        else
            ASSERT_TRUE(put(step.bytes, step.time)) << step.what;
        if (step.restart) {
            scanner.reset();
            index = std::make_unique<LibraryIndex>();
            ASSERT_TRUE(index->open(indexFile));
            scanner = std::make_unique<LibraryScanner>(*index, QStringList{root});
        }
        const ScanSummary summary = scanner->scan();
        EXPECT_EQ(summary.added, step.added) << step.what;
        EXPECT_EQ(summary.removed, step.removed) << step.what;
        EXPECT_EQ(summary.skipped, step.skipped) << step.what;
        EXPECT_EQ(summary.skippedNames.size(), step.skipped) << step.what;
        EXPECT_TRUE(summary.writeError.isEmpty()) << step.what;
    }
}

// The index on a small file system of its own: the test runs itself again
// as root in a private mount namespace with a 1 MiB tmpfs, and is skipped
// where that cannot be done.
TEST(LibraryHostileFiles, IndexOnAFullOrReadOnlyDiskIsKeptAsItIs)
{
    const QByteArray tinyDisk = qgetenv("VELMOR_TINY_DISK");
    if (tinyDisk.isEmpty()) {
        if (::geteuid() != 0)
            GTEST_SKIP() << "mounting a small file system needs root";
        if (QProcess::execute(QStringLiteral("unshare"),
                              {QStringLiteral("-m"), QStringLiteral("true")}) != 0)
            GTEST_SKIP() << "no private mount namespace here";
        QTemporaryDir mountPoint;
        ASSERT_TRUE(mountPoint.isValid());
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VELMOR_TINY_DISK"), mountPoint.path());
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        const QString script = QStringLiteral(
            "mount -t tmpfs -o size=1m tmpfs \"$1\" || exit 77; exec \"$2\" "
            "--gtest_filter=LibraryHostileFiles.IndexOnAFullOrReadOnlyDiskIsKeptAsItIs");
        child.start(QStringLiteral("unshare"),
                    {QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"), script,
                     QStringLiteral("sh"), mountPoint.path(),
                     QCoreApplication::applicationFilePath()});
        ASSERT_TRUE(child.waitForFinished(120000));
        if (child.exitCode() == 77)
            GTEST_SKIP() << "no file system can be mounted here";
        EXPECT_EQ(child.exitCode(), 0);
        return;
    }
    // A service killed after its scan: the tracks are in the -wal, and
    // there is no -shm yet. Made elsewhere, copied while its writer is open.
    const QString disk = QString::fromLocal8Bit(tinyDisk);
    const QString file = disk + QStringLiteral("/index.sqlite");
    const QString wal = file + QStringLiteral("-wal");
    constexpr int kTracks = 300;
    QTemporaryDir work;
    {
        const QString source = work.filePath(QStringLiteral("index.sqlite"));
        LibraryIndex writer;
        ASSERT_TRUE(writer.open(source));
        writer.begin();
        for (int i = 0; i < kTracks; ++i) {
            IndexedTrack t;
            t.path = "/music/" + std::to_string(i) + ".mp3";
            t.title = QStringLiteral("歌 %1").arg(i);
            ASSERT_GT(writer.insert(t), 0);
        }
        ASSERT_TRUE(writer.commit());
        ASSERT_TRUE(QFile::copy(source, file));
        ASSERT_TRUE(QFile::copy(source + QStringLiteral("-wal"), wal));
    }
    const QByteArray fileBefore = fileBytes(file);
    const QByteArray walBefore = fileBytes(wal);
    ASSERT_FALSE(walBefore.isEmpty());
    ASSERT_FALSE(QFileInfo::exists(file + QStringLiteral("-shm")));

    const QString filler = disk + QStringLiteral("/filler");
    ASSERT_TRUE(fillDisk(filler));
    {
        LibraryIndex index;
        QString note;
        EXPECT_FALSE(index.open(file, &note));
        EXPECT_TRUE(note.contains(QLatin1String("kept as it is"))) << note.toStdString();
    }
    EXPECT_EQ(fileBytes(file), fileBefore);
    EXPECT_EQ(fileBytes(wal), walBefore);
    EXPECT_FALSE(QFileInfo::exists(file + QStringLiteral(".broken")));
    // The service says so and ends, the index still untouched.
    QProcess service;
    service.start(QStringLiteral(VELMOR_MUSICD_PATH),
                  {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--library"),
                   work.path(), QStringLiteral("--index"), file});
    ASSERT_TRUE(service.waitForFinished(30000));
    EXPECT_EQ(service.exitCode(), 1);
    EXPECT_TRUE(service.readAllStandardError().contains("kept as it is"));
    EXPECT_EQ(fileBytes(file), fileBefore);
    EXPECT_EQ(fileBytes(wal), walBefore);

    // With room again every track is there.
    ASSERT_TRUE(QFile::remove(filler));
    {
        LibraryIndex index;
        ASSERT_TRUE(index.open(file));
        EXPECT_EQ(index.trackCount(), kTracks);
    }
    // A file it may not write (here a read-only mount of the file alone, as
    // a file of another user would be): it says it cannot write, and keeps it.
    const QByteArray name = QFile::encodeName(file);
    ASSERT_EQ(::mount(name.constData(), name.constData(), nullptr, MS_BIND, nullptr), 0);
    ASSERT_EQ(
        ::mount(nullptr, name.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
    {
        LibraryIndex index;
        QString note;
        EXPECT_FALSE(index.open(file, &note));
        EXPECT_TRUE(note.contains(QLatin1String("read-only"))) << note.toStdString();
    }
    ASSERT_EQ(::umount(name.constData()), 0);
    LibraryIndex index;
    ASSERT_TRUE(index.open(file));
    EXPECT_EQ(index.trackCount(), kTracks);

    // A disk that fills while the index is open: the batch is refused, and
    // the index says why.
    ASSERT_TRUE(fillDisk(filler));
    index.begin();
    for (int i = 0; i < 2000; ++i) {
        IndexedTrack t;
        t.path = "/more/" + std::to_string(i) + ".mp3";
        t.title = QString(200, QLatin1Char('x')) + QString::number(i);
        index.insert(t);
    }
    EXPECT_FALSE(index.commit());
    EXPECT_FALSE(index.takeWriteError().isEmpty());
    EXPECT_EQ(index.trackCount(), kTracks);
}

} // namespace
