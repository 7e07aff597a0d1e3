#include "musicd/library/NameSearch.h"

#include <algorithm>
#include <numeric>
#include <sqlite3.h>
#include <string>

namespace musicd {

NameSearch::NameSearch(const LibraryIndex &index, const char *albumsSql, const char *artistsSql)
    : m_index(index), m_albumsSql(albumsSql), m_artistsSql(artistsSql)
{
}

std::shared_ptr<const NameSearch::Snapshot> NameSearch::current() const
{
    const uint64_t changes = m_index.changeCount();
    std::shared_ptr<const Snapshot> known;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        known = m_snapshot;
    }
    if (known && known->changeCount == changes)
        return known;
    // One thread reads the names; the others go on with the old ones, or
    // wait when there are none yet.
    std::unique_lock<std::mutex> reading(m_reading, std::defer_lock);
    if (known) {
        if (!reading.try_lock())
            return known;
    } else {
        reading.lock();
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_snapshot && m_snapshot->changeCount == m_index.changeCount())
            return m_snapshot;
    }
    std::shared_ptr<const Snapshot> fresh = read(m_index.changeCount());
    std::lock_guard<std::mutex> lock(m_mutex);
    if (fresh)
        m_snapshot = fresh;
    return m_snapshot;
}

std::shared_ptr<const NameSearch::Snapshot> NameSearch::read(uint64_t changeCount) const
{
    LibraryIndex::ReaderLease lease(m_index);
    if (!lease.db())
        return nullptr;
    auto snapshot = std::make_shared<Snapshot>();
    // Counted before reading: a change during the reading is read again.
    snapshot->changeCount = changeCount;
    fill(lease, m_albumsSql, snapshot->albums);
    fill(lease, m_artistsSql, snapshot->artists);
    return snapshot;
}

void NameSearch::fill(const LibraryIndex::ReaderLease &lease, const char *sql, Names &names)
{
    sqlite3_stmt *stmt = lease.prepared(sql);
    if (!stmt)
        return;
    std::vector<std::string> texts;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 1));
        const std::string text(bytes ? bytes : "", size_t(sqlite3_column_bytes(stmt, 1)));
        const auto id = static_cast<uint32_t>(sqlite3_column_int64(stmt, 0));
        if (!names.ids.empty() && id <= names.ids.back())
            continue;
        names.words.add(id, QString::fromStdString(text));
        names.ids.push_back(id);
        texts.push_back(text);
    }
    sqlite3_reset(stmt);
    names.words.compact();
    // Byte order of UTF-8 is SQLite's own order of these names.
    std::vector<uint32_t> order(names.ids.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        return texts[a] != texts[b] ? texts[a] < texts[b] : a < b;
    });
    names.ranks.resize(order.size());
    for (size_t rank = 0; rank < order.size(); ++rank)
        names.ranks[order[rank]] = static_cast<uint32_t>(rank);
}

std::vector<qint64> NameSearch::find(Kind kind, const QStringList &foldedWords, int offset,
                                     int count) const
{
    if (foldedWords.isEmpty() || offset < 0 || count < 1)
        return {};
    const std::shared_ptr<const Snapshot> snapshot = current();
    if (!snapshot)
        return {};
    const Names &names = kind == Kind::Album ? snapshot->albums : snapshot->artists;
    QList<QStringView> words;
    for (const QString &word : foldedWords)
        words.append(word);
    const ShortQueryIndex::Ids matches = names.words.findAll(words);
    // (place in name order, position) of each match: both lists ascend, so
    // each position is found from the last one on.
    std::vector<std::pair<uint32_t, uint32_t>> placed;
    placed.reserve(matches.size());
    auto at = names.ids.begin();
    for (const uint32_t id : matches) {
        at = std::lower_bound(at, names.ids.end(), id);
        if (at == names.ids.end())
            break;
        if (*at == id) {
            const auto position = static_cast<uint32_t>(at - names.ids.begin());
            placed.emplace_back(names.ranks[position], position);
        }
    }
    const size_t from = size_t(offset);
    if (from >= placed.size())
        return {};
    const size_t to = std::min(placed.size(), from + size_t(count));
    std::nth_element(placed.begin(), placed.begin() + to - 1, placed.end());
    std::sort(placed.begin(), placed.begin() + to);
    std::vector<qint64> ids;
    for (size_t i = from; i < to; ++i)
        ids.push_back(names.ids[placed[i].second]);
    return ids;
}

} // namespace musicd
