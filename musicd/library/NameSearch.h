// Album and artist names searched in memory, in name order. A pass over the
// names in SQL costs a few milliseconds at 10,000 albums but tens at a
// million tracks' 100,000, most of all for a word that few names hold (the
// whole name index is walked to fill a page). Here each kind's case-folded
// names sit in a ShortQueryIndex, the player's own word matching, with each
// name's place in name order; a page is the matches' lowest places.
//
// The names are read again from the index on the first search after it
// changed; a search while another thread reads them uses the names from
// before (the rows are read from the index afterwards, so nothing gone is
// shown, and what is new is found a moment later).
#pragma once

#include "musicd/library/LibraryIndex.h"
#include "musicd/search/ShortQueryIndex.h"

#include <QStringList>
#include <memory>
#include <mutex>
#include <vector>

namespace musicd {

class NameSearch
{
public:
    // Each SQL gives (id, case-folded name) of what is listed, by ID; it
    // must live as long as the program.
    NameSearch(const LibraryIndex &index, const char *albumsSql, const char *artistsSql);

    enum class Kind { Album, Artist };
    // The IDs whose name holds every one of the case-folded words, from
    // offset on in name order (then ID), at most count.
    std::vector<qint64> find(Kind kind, const QStringList &foldedWords, int offset,
                             int count) const;
    // Reads the names now if the index changed since, so the next search
    // need not.
    void refresh() const { current(); }

private:
    struct Names
    {
        ShortQueryIndex words;
        std::vector<uint32_t> ids;   // ascending
        std::vector<uint32_t> ranks; // of ids[i] in name order
    };
    struct Snapshot
    {
        uint64_t changeCount = 0;
        Names albums;
        Names artists;
    };
    std::shared_ptr<const Snapshot> current() const;
    std::shared_ptr<const Snapshot> read(uint64_t changeCount) const;
    static void fill(const LibraryIndex::ReaderLease &lease, const char *sql, Names &names);

    const LibraryIndex &m_index;
    const char *m_albumsSql;
    const char *m_artistsSql;
    mutable std::mutex m_reading; // held by the one thread reading the names
    mutable std::mutex m_mutex;   // guards m_snapshot
    mutable std::shared_ptr<const Snapshot> m_snapshot;
};

} // namespace musicd
