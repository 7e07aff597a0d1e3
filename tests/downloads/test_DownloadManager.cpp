#include "downloads/DownloadJob.h"
#include "downloads/DownloadManager.h"
#include "net/HttpClient.h"
#include "service/ResolveSongLink.h"
#include "service/ServiceConfig.h"
#include "tests/common/MusicdServer.h"
#include "tests/common/TestHttpServer.h"
#include "tests/common/TinyDisk.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <chrono>
#include <gtest/gtest.h>
#include <httplib.h>
#include <thread>
#include <zlib.h>

namespace {

// A body whose every byte depends on its offset, so a lost, doubled or
// reordered chunk shows up as a difference.
std::string songBytes(size_t size)
{
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>((i * 31 + i / 997) & 0xFF);
    return s;
}

// The song as a gzip member, the way a server compresses an answer.
std::string gzipped(const std::string &plain)
{
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, uLong(plain.size())) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(plain.data()));
    z.avail_in = uInt(plain.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class DownloadManagerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        auto &h = server.http();
        h.Get("/music/song.mp3", [this](const httplib::Request &, httplib::Response &res) {
            // Streamed in small chunks so that many reads and writes happen.
            res.set_content_provider(song.size(), "audio/mpeg",
                                     [this](size_t offset, size_t length, httplib::DataSink &sink) {
                                         sink.write(song.data() + offset,
                                                    std::min<size_t>(length, 4096));
                                         return true;
                                     });
        });
        h.Get("/reset.mp3", [](const httplib::Request &, httplib::Response &res) {
            res.set_content_provider(500000, "audio/mpeg",
                                     [](size_t offset, size_t, httplib::DataSink &sink) {
                                         if (offset >= 20000)
                                             return false; // drop the connection mid-body
                                         std::string chunk(10000, 'x');
                                         sink.write(chunk.data(), chunk.size());
                                         return true;
                                     });
        });
        h.Get("/missing.mp3", [](const httplib::Request &, httplib::Response &res) {
            res.status = 404;
            res.set_content("<html>not found</html>", "text/html");
        });
        h.Get("/empty.mp3", [](const httplib::Request &, httplib::Response &res) {
            res.set_content("", "audio/mpeg");
        });
        h.Get("/slow.mp3", [this](const httplib::Request &, httplib::Response &res) {
            res.set_content_provider(1000000, "audio/mpeg",
                                     [this](size_t, size_t, httplib::DataSink &sink) {
                                         if (server.stopping())
                                             return false;
                                         std::this_thread::sleep_for(std::chrono::milliseconds(20));
                                         std::string chunk(1000, 's');
                                         sink.write(chunk.data(), chunk.size());
                                         return true;
                                     });
        });
        h.Get("/stall.mp3", [this](const httplib::Request &, httplib::Response &res) {
            res.set_content_provider(
                100000, "audio/mpeg", [this](size_t offset, size_t, httplib::DataSink &sink) {
                    if (offset == 0) {
                        sink.write("ID3", 3);
                        return true;
                    }
                    for (int i = 0; i < 250 && !server.stopping(); ++i)
                        std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    return false;
                });
        });
        // Compressed answers, sent whatever the client asked for: whole,
        // cut with their length announced, or cut at a clean chunked end
        // (only the compressed stream itself shows that it is short).
        const std::string packed = gzipped(song);
        h.Get("/gzip/(whole|cut|chunked-cut)\\.mp3", [packed](const httplib::Request &req,
                                                              httplib::Response &res) {
            const std::string kind = req.matches[1];
            res.set_header("Content-Encoding", "gzip");
            if (kind == "whole") {
                res.set_content(packed, "audio/mpeg");
            } else if (kind == "cut") {
                res.set_content_provider(packed.size(), "audio/mpeg",
                                         [packed](size_t offset, size_t, httplib::DataSink &sink) {
                                             if (offset >= packed.size() / 2)
                                                 return false;
                                             sink.write(packed.data(), packed.size() / 2);
                                             return true;
                                         });
            } else {
                res.set_chunked_content_provider("audio/mpeg",
                                                 [packed](size_t, httplib::DataSink &sink) {
                                                     sink.write(packed.data(), packed.size() / 2);
                                                     sink.done();
                                                     return true;
                                                 });
            }
        });
        h.Get("/brotli.mp3", [](const httplib::Request &, httplib::Response &res) {
            res.set_header("Content-Encoding", "br");
            res.set_content("not really brotli", "audio/mpeg");
        });
        // A part of the song, though no range was asked for.
        h.Get("/partial.mp3", [this](const httplib::Request &, httplib::Response &res) {
            res.status = 206;
            res.set_header("Content-Range", "bytes 0-999/" + std::to_string(song.size()));
            res.set_content(song.substr(0, 1000), "audio/mpeg");
        });
        ASSERT_TRUE(server.start());

        manager.setShowProgress(false);
        manager.setPathChooser([this](const QString &suggested) {
            suggestions.append(suggested);
            return chosenPath;
        });
        manager.setMessageSink(
            [this](bool isError, const QString &text) { (isError ? errors : infos).append(text); });
    }

    // Runs one download to its end and returns its result.
    DownloadJob::Result runDownload(const QString &link, const QString &hint = QString())
    {
        QSignalSpy done(&manager, &DownloadManager::downloadFinished);
        DownloadJob *job = manager.download(link, hint);
        if (!job)
            return DownloadJob::Result::Failed;
        if (done.isEmpty() && !done.wait(20000))
            return DownloadJob::Result::Failed;
        return done.first().at(1).value<DownloadJob::Result>();
    }

    QStringList filesInDir() const
    {
        return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    }

    std::string song = songBytes(300000);
    QTemporaryDir dir;
    TestHttpServer server;
    DownloadManager manager{nullptr};
    QString chosenPath;
    QStringList suggestions;
    QStringList errors;
    QStringList infos;
};

TEST_F(DownloadManagerTest, WritesTheSongWholeUnderTheChosenName)
{
    chosenPath = dir.filePath(QStringLiteral("保存的歌.mp3"));
    EXPECT_EQ(runDownload(server.url() + QStringLiteral("/music/song.mp3")),
              DownloadJob::Result::Saved);
    ASSERT_EQ(suggestions.size(), 1);
    EXPECT_TRUE(suggestions.first().endsWith(QStringLiteral("/song.mp3")));
    EXPECT_EQ(readFile(chosenPath), QByteArray::fromStdString(song));
    // Only the song: no temporary file is left beside it.
    EXPECT_EQ(filesInDir(), QStringList{QStringLiteral("保存的歌.mp3")});
    EXPECT_TRUE(errors.isEmpty());
    // The next save dialog opens where this one saved.
    EXPECT_EQ(QDir(manager.defaultFolder()), QDir(dir.path()));
}

TEST_F(DownloadManagerTest, RefusesLinksThatAreNotHttpWithoutAskingWhereToSave)
{
    chosenPath = dir.filePath(QStringLiteral("x.mp3"));
    for (const QString &link :
         {QStringLiteral("file:///etc/passwd"), QStringLiteral("ftp://127.0.0.1/a.mp3"),
          QStringLiteral("javascript:void(0)"), QStringLiteral("   ")}) {
        EXPECT_EQ(manager.download(link), nullptr) << link.toStdString();
    }
    EXPECT_TRUE(suggestions.isEmpty());
    EXPECT_EQ(errors.size(), 4);
    EXPECT_TRUE(filesInDir().isEmpty());
}

TEST_F(DownloadManagerTest, FailuresLeaveNoFileAndKeepAnOldOne)
{
    const struct
    {
        const char *path;
        const char *expectInMessage;
    } cases[] = {
        {"/reset.mp3", "下载失败"},
        {"/missing.mp3", "404"},
        {"/empty.mp3", "下载失败"},
    };
    for (const auto &c : cases) {
        errors.clear();
        chosenPath = dir.filePath(QStringLiteral("new.mp3"));
        EXPECT_EQ(runDownload(server.url() + QString::fromUtf8(c.path)),
                  DownloadJob::Result::Failed)
            << c.path;
        EXPECT_TRUE(filesInDir().isEmpty())
            << c.path << " left " << filesInDir().join(u' ').toStdString();
        ASSERT_EQ(errors.size(), 1) << c.path;
        EXPECT_TRUE(errors.first().contains(QString::fromUtf8(c.expectInMessage)))
            << errors.first().toStdString();
    }

    // A file already under the chosen name survives a failed download.
    chosenPath = dir.filePath(QStringLiteral("old.mp3"));
    {
        QFile old(chosenPath);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old song");
    }
    EXPECT_EQ(runDownload(server.url() + QStringLiteral("/reset.mp3")),
              DownloadJob::Result::Failed);
    EXPECT_EQ(readFile(chosenPath), QByteArray("old song"));
    EXPECT_EQ(filesInDir(), QStringList{QStringLiteral("old.mp3")});
}

TEST_F(DownloadManagerTest, WhatArrivedIsCheckedAgainstWhatWasAnnouncedInEveryEncoding)
{
    const struct
    {
        const char *path;
        const char *expectInMessage;
    } cases[] = {
        {"/gzip/cut.mp3", "文件不完整"},
        {"/gzip/chunked-cut.mp3", "文件不完整"},
        {"/partial.mp3", "部分内容"},
        {"/brotli.mp3", "压缩方式"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        errors.clear();
        chosenPath = dir.filePath(QStringLiteral("cut.mp3"));
        EXPECT_EQ(runDownload(server.url() + QString::fromUtf8(c.path)),
                  DownloadJob::Result::Failed);
        EXPECT_TRUE(filesInDir().isEmpty()) << filesInDir().join(u' ').toStdString();
        ASSERT_EQ(errors.size(), 1);
        EXPECT_TRUE(errors.first().contains(QString::fromUtf8(c.expectInMessage)))
            << errors.first().toStdString();
    }
    // A whole compressed answer is saved as the song itself.
    chosenPath = dir.filePath(QStringLiteral("whole.mp3"));
    EXPECT_EQ(runDownload(server.url() + QStringLiteral("/gzip/whole.mp3")),
              DownloadJob::Result::Saved);
    EXPECT_EQ(readFile(chosenPath), QByteArray::fromStdString(song));
}

// A full disk is mounted for real (a 256 KB file system as the download
// folder). The song does not fit in the middle, or only its last part,
// still in the file's buffer when the download ends, does not: a failure
// all the same, named as a full disk, and no short file under the name.
TEST_F(DownloadManagerTest, FullDiskSaysTheDiskIsFull)
{
    const QString disk = TinyDisk::folder();
    if (disk.isEmpty()) {
        const QString skipped = TinyDisk::runThisTestInside("256k");
        if (!skipped.isEmpty())
            GTEST_SKIP() << skipped.toStdString();
        return;
    }
    server.http().Get("/small.mp3", [this](const httplib::Request &, httplib::Response &res) {
        res.set_content(song.substr(0, 5000), "audio/mpeg");
    });
    struct Case
    {
        const char *name;
        const char *link;
        qint64 roomLeft; // -1: the disk as mounted
    } cases[] = {{"300 KB on 256 KB", "/music/song.mp3", -1},
                 {"5,000 bytes with 4,096 free", "/small.mp3", 4096}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        errors.clear();
        if (c.roomLeft >= 0) {
            ASSERT_TRUE(TinyDisk::fill(disk, c.roomLeft));
        }
        chosenPath = disk + QStringLiteral("/song.mp3");
        EXPECT_EQ(runDownload(server.url() + QString::fromLatin1(c.link)),
                  DownloadJob::Result::Failed);
        ASSERT_EQ(errors.size(), 1);
        EXPECT_TRUE(errors.first().contains(QStringLiteral("磁盘已满")))
            << errors.first().toStdString();
        EXPECT_TRUE(infos.isEmpty());
        QFile::remove(disk + QStringLiteral("/filler"));
        EXPECT_TRUE(QDir(disk).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }
}

TEST_F(DownloadManagerTest, ServerGoneOrStalledIsAFailure)
{
    chosenPath = dir.filePath(QStringLiteral("gone.mp3"));
    const QString deadUrl = server.url() + QStringLiteral("/music/song.mp3");
    const int oldStall = DownloadJob::stallTimeoutMs();
    DownloadJob::setStallTimeoutMs(300);
    EXPECT_EQ(runDownload(server.url() + QStringLiteral("/stall.mp3")),
              DownloadJob::Result::Failed);
    DownloadJob::setStallTimeoutMs(oldStall);
    server.stop();
    EXPECT_EQ(runDownload(deadUrl), DownloadJob::Result::Failed);
    EXPECT_EQ(errors.size(), 2);
    EXPECT_TRUE(filesInDir().isEmpty());
}

TEST_F(DownloadManagerTest, CancelRemovesThePartialFile)
{
    chosenPath = dir.filePath(QStringLiteral("cancelled.mp3"));
    QSignalSpy done(&manager, &DownloadManager::downloadFinished);
    DownloadJob *job = manager.download(server.url() + QStringLiteral("/slow.mp3"));
    ASSERT_NE(job, nullptr);
    QSignalSpy progress(job, &DownloadJob::progress);
    ASSERT_TRUE(progress.wait(10000));
    // Some bytes are on disk in the temporary file by now.
    job->cancel();
    if (done.isEmpty()) {
        ASSERT_TRUE(done.wait(10000));
    }
    EXPECT_EQ(done.first().at(1).value<DownloadJob::Result>(), DownloadJob::Result::Cancelled);
    EXPECT_TRUE(filesInDir().isEmpty());
    EXPECT_TRUE(errors.isEmpty()); // a cancel is the user's choice, not an error
}

TEST_F(DownloadManagerTest, CancelledSaveDialogOrUnwritableFolderSavesNothing)
{
    chosenPath.clear(); // the user closed the save dialog
    EXPECT_EQ(manager.download(server.url() + QStringLiteral("/music/song.mp3")), nullptr);
    EXPECT_TRUE(errors.isEmpty());

    chosenPath = dir.filePath(QStringLiteral("no/such/folder/x.mp3"));
    EXPECT_EQ(runDownload(server.url() + QStringLiteral("/music/song.mp3")),
              DownloadJob::Result::Failed);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors.first().contains(QStringLiteral("无法写入文件")));
    EXPECT_TRUE(filesInDir().isEmpty());
}

TEST_F(DownloadManagerTest, DestroyingARunningJobLeavesNoFile)
{
    chosenPath = dir.filePath(QStringLiteral("quit.mp3"));
    {
        DownloadManager quitting(nullptr);
        quitting.setShowProgress(false);
        quitting.setPathChooser([this](const QString &) { return chosenPath; });
        DownloadJob *job = quitting.download(server.url() + QStringLiteral("/slow.mp3"));
        ASSERT_NE(job, nullptr);
        QSignalSpy progress(job, &DownloadJob::progress);
        ASSERT_TRUE(progress.wait(10000));
    } // the player quits mid-download
    EXPECT_TRUE(filesInDir().isEmpty());
}

class NoLyrics : public LyricsView
{
public:
    void clearLyricList() override {}
    void addLyricEntry(const QString &) override {}
    void setLyricText(const QString &) override {}
    void setLyricBoxText(const QString &) override {}
};

TEST_F(DownloadManagerTest, SavesARealSongOfTheBundledService)
{
    MusicdServer musicd;
    ASSERT_TRUE(musicd.start());
    ServiceConfig::setHost(musicd.url());
    NoLyrics lyrics;
    const QString link = musicservice::resolveSongLink(
        QStringLiteral("100001"), QStringLiteral("晴川"), QStringLiteral("夏日的约定"), lyrics);
    ServiceConfig::setHost(QString());
    ASSERT_FALSE(link.isEmpty());
    const HttpResult direct = HttpClient::get(link);
    ASSERT_TRUE(direct.ok);
    ASSERT_GT(direct.body.size(), 1000);

    chosenPath = dir.filePath(QStringLiteral("夏日的约定.wav"));
    EXPECT_EQ(runDownload(link, QStringLiteral("夏日的约定 - 晴川")), DownloadJob::Result::Saved);
    EXPECT_EQ(readFile(chosenPath), direct.body);
    EXPECT_EQ(filesInDir().size(), 1);
}

} // namespace
