// Search in memory over every track's case-folded title, artist and album.
// Every character and every pair of neighbouring characters maps to the
// sorted IDs of the tracks that contain it (packed, see PostingList), so a
// one- or two-character word ("爱", "晴川", "a") costs one lookup and its
// match count is the list's length. A longer word narrows the tracks to those holding all of its
// pairs, then checks each of them against its folded text, which is kept
// here too: counting the ~20,000 matches of a common word that way takes a
// fraction of what a trigram index on disk needs. Filled from the library
// index; not thread-safe on its own (LibraryIndex guards it).
#pragma once

#include "musicd/search/PostingList.h"
#include "musicd/search/SnapshotFile.h"

#include <QList>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace musicd {

class ShortQueryIndex
{
public:
    using Ids = std::vector<uint32_t>;

    // Words of at most this many UTF-16 units are answered by one list.
    static constexpr int kMaxWordLength = 2;

    // IDs must arrive in increasing order (new tracks get larger IDs).
    void add(uint32_t id, const QString &foldedText);
    void clear();
    // Gives back the slack the lists grew with (after a bulk fill).
    void compact();
    // The IDs whose text contains the folded word (1 or 2 units); null
    // when none does.
    const PostingList *find(QStringView foldedWord) const;
    // The IDs whose text contains every one of the folded words (each
    // without white space, of any length), ascending; only the first
    // `enough` of them when fewer are wanted.
    Ids findAll(const QList<QStringView> &foldedWords, size_t enough = SIZE_MAX) const;

    // Whether the track's text here is this one (so a retagged track whose
    // searched text stayed needs no refill).
    bool holdsText(uint32_t id, const QString &foldedText) const;

    size_t keyCount() const { return m_lists.size(); }
    size_t trackCount() const { return m_ids.size(); }

    // To and from a snapshot file (see LibraryIndex): reading one back
    // takes a moment where filling from the library index takes seconds.
    // load leaves the index empty and returns false unless the file's part
    // is whole and consistent.
    void save(SnapshotFile::Writer &out) const;
    bool load(SnapshotFile::Reader &in);

private:
    // Whether what load read fits together, so that no lookup can reach
    // outside it.
    bool isConsistent() const;
    // The folded text of the track at m_ids[i], in UTF-8: m_lengths[i]
    // bytes from m_starts[i], an offset into blocks of kTextBlock bytes that
    // no text crosses. Not a string per track, and half the bytes of UTF-16
    // for Latin names, to keep the memory of a large library down; and
    // blocks, not one buffer, since a growing buffer is for a moment held
    // twice over, which is most of a large first scan's peak.
    std::string_view textOf(size_t index) const;

    static constexpr size_t kTextBlock = size_t(1) << 20;
    // The list of each key, found through an open-addressing table: each
    // slot holds a key and its list's index + 1 (0: empty). A node-based
    // map's lookups were half of what filling the memory cost.
    size_t slotOf(uint32_t key) const;
    PostingList &listFor(uint32_t key);
    std::vector<PostingList> m_lists;
    std::vector<uint64_t> m_slots;
    Ids m_ids;
    std::vector<uint32_t> m_starts;
    std::vector<uint16_t> m_lengths;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    size_t m_blockUsed = 0;
};

} // namespace musicd
