#include "musicd/OpenFile.h"

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
    // Non-blocking, so a FIFO planted under the name cannot hang the open.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return nullptr;
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::shared_ptr<const OpenFile>(new OpenFile(fd, static_cast<qint64>(st.st_size)));
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
