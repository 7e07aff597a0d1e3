// The music library against what a hostile or unlucky disk holds: FIFOs in
// place of tracks, huge files that are not what their names say, files that
// stay unreadable across passes, and an index on a full or read-only disk.
#include "musicd/LibraryIndex.h"
#include "musicd/LibraryScanner.h"
#include "musicd/TagReader.h"
#include "tests/common/MusicdServer.h"
#include "tests/common/TestLibrary.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <httplib.h>
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
            nothing = !TagReader::read(fifo) && TagReader::lyrics(fifo).isEmpty() &&
                      TagReader::cover(fifo).isEmpty();
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
    const QByteArray realMp3 = [&] {
        QFile f(library.path(QStringLiteral("Eli Brooks - Paper Roads.mp3")));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
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
        EXPECT_EQ(TagReader::read(file).has_value(), c.readable) << c.name;
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

} // namespace
