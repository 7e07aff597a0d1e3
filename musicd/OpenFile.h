// A read-only file held open while a response streams it. Opened once per
// request, so a file replaced or removed mid-transfer keeps serving the
// bytes it had; reads are positional, so one handle serves ranges in any
// order without a shared file offset.
#pragma once

#include <QString>
#include <memory>

namespace musicd {

class OpenFile
{
public:
    ~OpenFile();
    OpenFile(const OpenFile &) = delete;
    OpenFile &operator=(const OpenFile &) = delete;

    // A regular file only (no directory, device or FIFO); null otherwise.
    static std::shared_ptr<const OpenFile> open(const QString &path);

    qint64 size() const { return m_size; }
    // Bytes read at offset (fewer at the end), -1 on an error.
    qint64 read(qint64 offset, char *buffer, qint64 length) const;

private:
    OpenFile(int fd, qint64 size) : m_fd(fd), m_size(size) {}

    int m_fd;
    qint64 m_size;
};

} // namespace musicd
