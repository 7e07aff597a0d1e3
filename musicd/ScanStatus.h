// The library's state for GET /status (see ownservice/ServiceStatus.h):
// the folders and whether they can be read, the scan's live counts, what
// the last pass found unreadable and when it last changed the index. The
// scan thread reports pass starts and ends; request threads read.
#pragma once

#include "musicd/library/LibraryIndex.h"
#include "musicd/library/LibraryScanner.h"
#include "ownservice/ServiceStatus.h"

#include <QByteArray>
#include <QStringList>
#include <mutex>

namespace musicd {

class ScanStatus
{
public:
    // Both must outlive the status; folders as the user named them.
    ScanStatus(const LibraryIndex &index, const LibraryScanner &scanner,
               const QStringList &folders);

    // Looks at the folders again; returns a warning for each that is
    // missing or cannot be read.
    QStringList passStarted();
    void passEnded(const ScanSummary &summary);

    // Without names, the folders' and files' names are left out.
    QByteArray json(bool withNames = true) const;

private:
    const LibraryIndex &m_index;
    const LibraryScanner &m_scanner;
    mutable std::mutex m_mutex;
    ServiceStatus m_status;
    QStringList m_folders;
};

} // namespace musicd
