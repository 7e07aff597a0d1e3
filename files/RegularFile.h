// Opening a file for reading that may have been replaced by a FIFO, a
// device or a folder: a plain open() of a FIFO waits for a writer forever.
// The open here never waits, and what is not a regular file is refused with
// one line saying what it is.
#pragma once

#include <QString>

class QFile;

class RegularFile
{
public:
    // Opens path read-only into file. False with the reason in *why when
    // it cannot be opened or is not a regular file; *missing tells a file
    // that is not there at all.
    static bool open(const QString &path, QFile &file, QString *why, bool *missing = nullptr);
};
