#include "files/CheckedCommit.h"

#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

bool CheckedCommit::diskFull() const
{
    return systemError == ENOSPC || systemError == EDQUOT;
}

CheckedCommit CheckedCommit::commit(QSaveFile &file, qint64 expectedBytes)
{
    CheckedCommit result;
    const auto drop = [&](int error, const QString &why) {
        result.systemError = error;
        result.reason =
            error != 0 && !why.contains(QString::fromLocal8Bit(std::strerror(error)))
                ? QStringLiteral("%1 (%2)").arg(why, QString::fromLocal8Bit(std::strerror(error)))
                : why;
        // A cancelled file's commit removes the temporary file and keeps
        // the old one.
        file.cancelWriting();
        file.commit();
        return result;
    };
    errno = 0;
    if (!file.flush())
        return drop(errno, file.errorString());
    const int fd = file.handle();
    // A file system that writes lazily reports a full disk only here.
    if (fd >= 0 && ::fsync(fd) != 0 && errno != EINVAL && errno != EROFS)
        return drop(errno, QStringLiteral("cannot sync to the disk"));
    struct stat written
    {
    };
    if (fd >= 0 && ::fstat(fd, &written) == 0 && written.st_size != expectedBytes)
        return drop(0, QStringLiteral("only %1 of %2 bytes reached the disk")
                           .arg(qint64(written.st_size))
                           .arg(expectedBytes));
    errno = 0;
    if (!file.commit()) {
        result.systemError = errno;
        result.reason = file.errorString();
        return result;
    }
    result.saved = true;
    return result;
}
