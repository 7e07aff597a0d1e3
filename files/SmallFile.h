// A small file read or replaced whole: the settings and choices the
// programs keep. Reading refuses what is not a regular file without waiting
// on it and stops one byte past the size limit, so a huge file is refused
// without loading all of it; replacing goes through a checked QSaveFile
// commit, so the old file stays unless every byte of the new one is on disk.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace smallfile {

struct Contents
{
    // At most maxBytes + 1 bytes: more than maxBytes means the file is
    // too large.
    QByteArray bytes;
    // One line saying why the file could not be read, "" when read.
    QString problem;
    // There is no file at all (not a problem).
    bool missing = false;
};

Contents read(const QString &path, qint64 maxBytes);

// The JSON object bytes hold; "" when they hold one, else one line saying
// why not (more than maxBytes, not JSON, not an object).
QString jsonObjectIn(const QByteArray &bytes, qint64 maxBytes, QJsonObject *object);

// Replaces path with bytes atomically, creating its folder; false with one
// line in *error when given.
bool replace(const QString &path, const QByteArray &bytes, QString *error = nullptr);

} // namespace smallfile
