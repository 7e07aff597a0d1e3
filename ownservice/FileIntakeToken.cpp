#include "ownservice/FileIntakeToken.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileIntakeToken {
namespace {

bool isToken(const QByteArray &text)
{
    if (text.size() != kLength)
        return false;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

// XDG_RUNTIME_DIR, else a folder of the user's own in the temporary folder.
QString runtimeFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return runtime;
    return QDir::tempPath() + QStringLiteral("/velmor-%1").arg(::getuid());
}

// The folder exists, is this user's and no one else's.
bool isPrivateFolder(const QString &folder)
{
    const QByteArray name = QFile::encodeName(folder);
    ::mkdir(name.constData(), 0700);
    struct stat st
    {
    };
    return ::lstat(name.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 077) == 0;
}

} // namespace

QString path(int port)
{
    return runtimeFolder() + QStringLiteral("/velmor-musicd-%1.token").arg(port);
}

QByteArray create()
{
    quint32 words[kLength / 8];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char *>(words), sizeof(words)).toHex();
}

bool write(int port, const QByteArray &token, QString *error)
{
    const QString target = path(port);
    if (!isPrivateFolder(runtimeFolder())) {
        if (error)
            *error = QStringLiteral("%1 is not a folder of this user's alone").arg(runtimeFolder());
        return false;
    }
    const QByteArray name = QFile::encodeName(target);
    const QByteArray temporary = name + ".new";
    ::unlink(temporary.constData());
    // Created 0600 from the start, so no one else ever reads it.
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    bool ok = fd >= 0;
    if (ok) {
        ok = ::write(fd, token.constData(), size_t(token.size())) == token.size();
        ok = ::close(fd) == 0 && ok;
        ok = ok && ::rename(temporary.constData(), name.constData()) == 0;
    }
    if (!ok) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        ::unlink(temporary.constData());
    }
    return ok;
}

QByteArray read(int port)
{
    const QByteArray name = QFile::encodeName(path(port));
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return QByteArray();
    struct stat st
    {
    };
    QByteArray token(kLength + 1, '\0');
    ssize_t n = -1;
    // Only a regular file of this user's own, readable by no one else.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::getuid() &&
        (st.st_mode & 077) == 0)
        n = ::read(fd, token.data(), size_t(token.size()));
    ::close(fd);
    token.truncate(n < 0 ? 0 : qsizetype(n));
    return isToken(token) ? token : QByteArray();
}

void remove(int port)
{
    QFile::remove(path(port));
}

} // namespace FileIntakeToken
