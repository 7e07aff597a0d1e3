#include "playback/sources/FileByteSource.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FileByteSource::~FileByteSource()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool FileByteSource::open(qint64 offset)
{
    if (m_fd < 0) {
        // Without blocking: opening a FIFO would wait for a writer, holding
        // the playback (and the player's exit) where no abort reaches it.
        m_fd = ::open(m_path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat info;
        if (m_fd < 0 || ::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode) ||
            ::fcntl(m_fd, F_SETFL, O_RDONLY) != 0)
            return false;
        m_size = info.st_size;
    }
    return offset >= 0 && ::lseek(m_fd, offset, SEEK_SET) == offset;
}

qint64 FileByteSource::read(char *data, qint64 max)
{
    if (m_fd < 0)
        return -1;
    while (true) {
        const ssize_t got = ::read(m_fd, data, size_t(max));
        if (got >= 0 || errno != EINTR)
            return got < 0 ? -1 : qint64(got);
    }
}
