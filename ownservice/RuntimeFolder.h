// This user's private runtime folder, $XDG_RUNTIME_DIR/velmor, where the
// own music service announces its address and holds its lock. A loopback
// port is shared by every user of the machine, so what is found there is
// trusted only when it is this user's own: the folder is made 0700 and must
// be owned by us, not a symbolic link and not open to others; a file in it
// must be a regular file owned by us, 0600, opened without following links.
//
// Without XDG_RUNTIME_DIR (a session started without a login manager) the
// folder is /tmp/velmor-<uid>, with the same checks, so another user who
// made that name first only stops the announcement, never redirects it.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace runtimefolder {

// The folder, created when missing; "" when it cannot be made or is not
// safe to use, with the reason in *error when given.
QString path(QString *error = nullptr);

// Writes bytes to file (in the folder) atomically, mode 0600.
bool writePrivate(const QString &file, const QByteArray &bytes, QString *error = nullptr);

// The file's bytes when it is a regular file of ours that only we can read
// or write and no larger than maxBytes; nothing otherwise.
std::optional<QByteArray> readPrivate(const QString &file, qint64 maxBytes);

} // namespace runtimefolder
