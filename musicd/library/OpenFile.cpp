#include "musicd/library/OpenFile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace musicd {

OpenFile::~OpenFile()
{
    ::close(m_fd);
}

std::shared_ptr<const OpenFile> OpenFile::open(const QString &path)
{
    qint64 size = 0;
    const int fd = openRegular(path, &size);
    if (fd < 0)
        return nullptr;
    return std::shared_ptr<const OpenFile>(new OpenFile(fd, size));
}

int OpenFile::openRegular(const QString &path, qint64 *size)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat st
    {
    };
    const int flags = ::fcntl(fd, F_GETFL);
    // A regular file, with the descriptor blocking again: its reads are
    // ordinary file reads, and a stdio stream made of it expects them so.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return -1;
    }
    if (size)
        *size = static_cast<qint64>(st.st_size);
    return fd;
}

qint64 OpenFile::read(qint64 offset, char *buffer, qint64 length) const
{
    for (;;) {
        const ssize_t n = ::pread(m_fd, buffer, static_cast<size_t>(length), offset);
        if (n >= 0)
            return n;
        if (errno != EINTR)
            return -1;
    }
}

} // namespace musicd
