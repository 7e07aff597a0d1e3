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
    // A blocking read-only descriptor of the regular file at path, or -1
    // (missing, unreadable, or a directory, device or FIFO). The open itself
    // never blocks: a FIFO planted under a library file's name would
    // otherwise hold the caller until someone writes to it. The caller
    // closes it; size, when given, gets the file's size.
    static int openRegular(const QString &path, qint64 *size = nullptr);

    qint64 size() const { return m_size; }
    // Bytes read at offset (fewer at the end), -1 on an error.
    qint64 read(qint64 offset, char *buffer, qint64 length) const;

private:
    OpenFile(int fd, qint64 size) : m_fd(fd), m_size(size) {}

    int m_fd;
    qint64 m_size;
};

} // namespace musicd
