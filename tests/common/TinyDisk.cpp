#include "tests/common/TinyDisk.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace {

const char kFolderVariable[] = "VELMOR_TINY_DISK";
// The child's exit code when the mount itself failed.
constexpr int kCannotMount = 77;

} // namespace

namespace TinyDisk {

QString folder()
{
    return qEnvironmentVariable(kFolderVariable);
}

QString runThisTestInside(const char *size)
{
    if (QProcess::execute(QStringLiteral("unshare"),
                          {QStringLiteral("-rm"), QStringLiteral("true")}) != 0)
        return QStringLiteral("no private mount namespace here (needs root or user namespaces)");
    QTemporaryDir mountPoint;
    if (!mountPoint.isValid())
        return QStringLiteral("no temporary folder to mount on");
    const ::testing::TestInfo *test = ::testing::UnitTest::GetInstance()->current_test_info();
    const QString filter = QStringLiteral("%1.%2").arg(QString::fromUtf8(test->test_suite_name()),
                                                       QString::fromUtf8(test->name()));
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kFolderVariable), mountPoint.path());
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    const QString script = QStringLiteral("mount -t tmpfs -o size=%1 tmpfs \"$1\" || exit %2; "
                                          "exec \"$2\" --gtest_filter=\"$3\"")
                               .arg(QString::fromLatin1(size))
                               .arg(kCannotMount);
    child.start(QStringLiteral("unshare"),
                {QStringLiteral("-rm"), QStringLiteral("sh"), QStringLiteral("-c"), script,
                 QStringLiteral("sh"), mountPoint.path(), QCoreApplication::applicationFilePath(),
                 filter});
    if (!child.waitForFinished(120000)) {
        child.kill();
        child.waitForFinished();
        ADD_FAILURE() << "the run on the tiny disk did not end";
        return {};
    }
    if (child.exitCode() == kCannotMount)
        return QStringLiteral("no file system can be mounted here");
    EXPECT_EQ(child.exitCode(), 0) << "the run on the tiny disk failed";
    return {};
}

bool fill(const QString &folder, qint64 leaveBytes)
{
    const QByteArray path = QFile::encodeName(folder + QStringLiteral("/filler"));
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const std::vector<char> block(4096, 'f');
    off_t size = 0;
    for (;;) {
        const ssize_t n = ::write(fd, block.data(), block.size());
        if (n <= 0)
            break;
        size += n;
    }
    const bool full =
        errno == ENOSPC && size >= leaveBytes && ::ftruncate(fd, size - leaveBytes) == 0;
    ::close(fd);
    return full;
}

qint64 freeBytes(const QString &folder)
{
    struct statvfs volume
    {
    };
    if (::statvfs(QFile::encodeName(folder).constData(), &volume) != 0)
        return -1;
    return qint64(volume.f_bavail) * qint64(volume.f_frsize);
}

} // namespace TinyDisk
