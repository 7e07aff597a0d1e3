#include "files/RegularFile.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString kindOf(mode_t mode)
{
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("not a regular file");
}

} // namespace

bool RegularFile::open(const QString &path, QFile &file, QString *why, bool *missing)
{
    const auto refuse = [why](const QString &text) {
        if (why)
            *why = text;
        return false;
    };
    if (missing)
        *missing = false;
    // O_NONBLOCK makes the open of a FIFO return at once; fstat on what was
    // opened (not a stat of the name beforehand) leaves no window for a
    // swap between the check and the read.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (missing)
            *missing = error == ENOENT;
        return refuse(QStringLiteral("cannot be read (%1)")
                          .arg(QString::fromLocal8Bit(std::strerror(error))));
    }
    struct stat status
    {
    };
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return refuse(QStringLiteral("is %1").arg(kindOf(status.st_mode)));
    }
    // Reads of a regular file never wait; the flag is dropped all the same
    // so that the reader sees an ordinary file.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return refuse(QStringLiteral("cannot be read (%1)").arg(file.errorString()));
    }
    return true;
}
