// The resident set size of this process, read from /proc, for measuring how
// much memory each row or item costs.
#pragma once

#include <QFile>
#include <QList>
#include <unistd.h>

namespace ProcessMemory {

// Resident bytes now; 0 when /proc cannot be read.
inline qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    if (fields.size() < 2)
        return 0;
    return fields.at(1).toLongLong() * sysconf(_SC_PAGESIZE);
}

} // namespace ProcessMemory
