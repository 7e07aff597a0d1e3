#include "ownservice/RuntimeFolder.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace runtimefolder {
namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Why dir is no private folder of ours ("" when it is one).
QString folderProblem(const QByteArray &dir)
{
    struct stat st
    {
    };
    if (::lstat(dir.constData(), &st) != 0)
        return systemError();
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("is a symbolic link");
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("is not a folder");
    if (st.st_uid != ::geteuid())
        return QStringLiteral("belongs to another user");
    if ((st.st_mode & 077) != 0)
        return QStringLiteral("is open to other users");
    return QString();
}

} // namespace

QString path(QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return QString();
    };
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    QString folder;
    if (!base.isEmpty() && QDir::isAbsolutePath(base))
        folder = QDir::cleanPath(base) + QStringLiteral("/velmor");
    else
        folder = QStringLiteral("/tmp/velmor-%1").arg(::geteuid());
    const QByteArray encoded = QFile::encodeName(folder);
    if (::mkdir(encoded.constData(), 0700) != 0 && errno != EEXIST)
        return fail(QStringLiteral("%1: %2").arg(folder, systemError()));
    if (const QString why = folderProblem(encoded); !why.isEmpty())
        return fail(QStringLiteral("%1 %2").arg(folder, why));
    return folder;
}

bool writePrivate(const QString &file, const QByteArray &bytes, QString *error)
{
    const auto fail = [error, &file](const QString &why) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(file, why);
        return false;
    };
    // A name of our own beside the file, created fresh (never a link someone
    // left there), then renamed over it: a reader sees the old file or the
    // whole new one.
    const QByteArray target = QFile::encodeName(file);
    const QByteArray temporary = target + ".new-" + QByteArray::number(::getpid());
    ::unlink(temporary.constData());
    const int fd =
        ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return fail(systemError());
    qint64 written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += n;
    }
    const bool whole = written == bytes.size();
    const QString why = whole ? QString() : systemError();
    ::close(fd);
    if (!whole || ::rename(temporary.constData(), target.constData()) != 0) {
        const QString reason = whole ? systemError() : why;
        ::unlink(temporary.constData());
        return fail(reason);
    }
    return true;
}

std::optional<QByteArray> readPrivate(const QString &file, qint64 maxBytes)
{
    // Non-blocking, so a FIFO put in its place cannot hold the reader.
    const int fd =
        ::open(QFile::encodeName(file).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st
    {
    };
    std::optional<QByteArray> result;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
        (st.st_mode & 077) == 0 && st.st_size <= maxBytes) {
        QByteArray bytes(qsizetype(st.st_size), '\0');
        qint64 got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += n;
        }
        bytes.truncate(qsizetype(got));
        result = bytes;
    }
    ::close(fd);
    return result;
}

} // namespace runtimefolder
