#include "musicd/ScanStatus.h"

#include <QDateTime>

namespace musicd {

ScanStatus::ScanStatus(const LibraryIndex &index, const LibraryScanner &scanner,
                       const QStringList &folders)
    : m_index(index), m_scanner(scanner), m_folders(folders)
{
    m_status.library = true;
    // Scanning from the start: the first pass begins as soon as the service
    // serves, and a client asking before it must not see an empty library.
    m_status.scanning = true;
    m_status.firstScan = true;
    m_status.rootCount = int(folders.size());
}

QStringList ScanStatus::passStarted()
{
    QList<ServiceStatus::Root> roots;
    QStringList warnings;
    for (const QString &folder : m_folders) {
        const ServiceStatus::RootState state = ServiceStatus::stateOf(folder);
        if (state == ServiceStatus::RootState::Missing)
            warnings.append(QStringLiteral("music folder %1 does not exist").arg(folder));
        else if (state == ServiceStatus::RootState::Unreadable)
            warnings.append(QStringLiteral("music folder %1 cannot be read").arg(folder));
        if (roots.size() < ServiceStatus::kMaxRoots)
            roots.append({folder, state});
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_status.roots = roots;
    m_status.scanning = true;
    return warnings;
}

void ScanStatus::passEnded(const ScanSummary &summary)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool first = m_status.firstScan;
    m_status.scanning = false;
    m_status.firstScan = false;
    m_status.unreadable = summary.skipped;
    m_status.unreadableNames = summary.skippedNames;
    if (first || summary.changedAnything())
        m_status.updated = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
}

QByteArray ScanStatus::json(bool withNames) const
{
    ServiceStatus status;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        status = m_status;
    }
    const ScanProgress live = m_scanner.liveProgress();
    status.found = live.found;
    status.done = live.checked;
    status.tracks = m_index.trackCount();
    if (!withNames) {
        for (ServiceStatus::Root &root : status.roots)
            root.path.clear();
        status.unreadableNames.clear();
    }
    return status.toJson();
}

} // namespace musicd
