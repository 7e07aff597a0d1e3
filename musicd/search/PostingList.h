// The ascending track IDs of one key of the in-memory search, packed: each
// ID is stored as its distance from the one before, in as few bytes as it
// needs (seven bits a byte), so the long lists of common letters, where
// neighbouring IDs are close, take a byte an ID instead of four. Every
// kBlock-th ID has a skip entry, so a page deep into a list or a jump
// ahead during an intersection decodes at most one block. A list holding
// more than an eighth of all IDs is smaller as one bit per ID (common
// letters and pairs of a large Latin library: a fifth of the search
// memory), so compact() turns such a list into a bitmap with a count of
// the set bits every kRankBits bits.
#pragma once

#include "musicd/search/SnapshotFile.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace musicd {

class PostingList
{
public:
    using Ids = std::vector<uint32_t>;
    static constexpr size_t kBlock = 64;
    static constexpr size_t kRankBits = 512;

    // id must be larger than every ID already held.
    void append(uint32_t id);
    size_t size() const { return m_count; }
    bool empty() const { return m_count == 0; }
    uint32_t last() const { return m_last; }
    // Gives back the slack; turns a dense list into a bitmap.
    void compact();

    // The IDs at positions [from, from + count), fewer at the end.
    Ids slice(size_t from, size_t count) const;
    Ids all() const { return slice(0, m_count); }

    // Keeps of ids (ascending) only those this list holds too. Blocks
    // wholly below the next wanted ID are jumped over, so a short ids
    // against a long list costs little more than the short one.
    void keepCommon(Ids &ids) const;

    // To and from a snapshot of the search memory. load takes a list only
    // when it decodes to exactly what its counts and skips say.
    void save(SnapshotFile::Writer &out) const;
    bool load(SnapshotFile::Reader &in);

private:
    // Where block k (k >= 1) starts: the last ID of the block before and
    // the byte offset of the block's first ID.
    struct Skip
    {
        uint32_t previousId;
        uint32_t offset;
    };

    bool isBitmap() const { return !m_bits.empty(); }
    void appendBit(uint32_t id);
    Ids bitmapSlice(size_t from, size_t count) const;

    std::vector<uint8_t> m_bytes;
    std::vector<Skip> m_skips; // m_skips[k - 1] for block k
    // As a bitmap: bit i of m_bits[w] stands for ID w * 64 + i, and
    // m_ranks[r] counts the set bits before bit r * kRankBits.
    std::vector<uint64_t> m_bits;
    std::vector<uint32_t> m_ranks;
    uint32_t m_count = 0;
    uint32_t m_last = 0;
};

} // namespace musicd
