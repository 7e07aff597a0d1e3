#include "musicd/search/PostingList.h"

#include <algorithm>
#include <bit>

namespace musicd {
namespace {

// Reads one gap at offset, moving offset past it.
uint32_t readGap(const std::vector<uint8_t> &bytes, size_t &offset)
{
    uint32_t value = 0;
    for (int shift = 0;; shift += 7) {
        const uint8_t b = bytes[offset++];
        value |= uint32_t(b & 0x7f) << shift;
        if (!(b & 0x80))
            return value;
    }
}

} // namespace

void PostingList::append(uint32_t id)
{
    if (isBitmap()) {
        appendBit(id);
        return;
    }
    if (m_count > 0 && m_count % kBlock == 0)
        m_skips.push_back({m_last, static_cast<uint32_t>(m_bytes.size())});
    // Grown by a quarter, not doubled: a first scan fills every list at
    // once, and doubling left a third of their memory unused at its peak.
    if (m_bytes.capacity() - m_bytes.size() < 5)
        m_bytes.reserve(m_bytes.capacity() + m_bytes.capacity() / 4 + 8);
    uint32_t gap = id - m_last; // the first ID's gap is from 0
    while (gap >= 0x80) {
        m_bytes.push_back(static_cast<uint8_t>(gap | 0x80));
        gap >>= 7;
    }
    m_bytes.push_back(static_cast<uint8_t>(gap));
    m_last = id;
    ++m_count;
}

void PostingList::appendBit(uint32_t id)
{
    const size_t word = id / 64;
    if (word >= m_bits.size()) {
        if (word >= m_bits.capacity())
            m_bits.reserve(word + word / 4 + 1);
        m_bits.resize(word + 1, 0);
    }
    // Every bit set so far lies below id, so the stretches begun since the
    // last set bit start after all of them.
    while (m_ranks.size() <= id / kRankBits)
        m_ranks.push_back(m_count);
    m_bits[word] |= uint64_t(1) << (id % 64);
    m_last = id;
    ++m_count;
}

void PostingList::compact()
{
    const size_t bitmapBytes = m_last / 8 + 1 + (m_last / kRankBits + 1) * sizeof(uint32_t);
    if (!isBitmap() && m_count > 0 && bitmapBytes < m_bytes.size()) {
        const Ids ids = all();
        m_bytes = {};
        m_skips = {};
        m_count = 0;
        m_bits.reserve(m_last / 64 + 1);
        m_ranks.reserve(m_last / kRankBits + 1);
        for (const uint32_t id : ids)
            appendBit(id);
    }
    m_bytes.shrink_to_fit();
    m_skips.shrink_to_fit();
    m_bits.shrink_to_fit();
    m_ranks.shrink_to_fit();
}

PostingList::Ids PostingList::bitmapSlice(size_t from, size_t count) const
{
    Ids out;
    const size_t wanted = std::min<size_t>(count, m_count - from);
    out.reserve(wanted);
    // The last stretch starting with at most `from` set bits before it.
    const size_t stretch = static_cast<size_t>(
        std::upper_bound(m_ranks.begin(), m_ranks.end(), uint32_t(from)) - m_ranks.begin() - 1);
    size_t seen = m_ranks[stretch];
    for (size_t w = stretch * (kRankBits / 64); w < m_bits.size() && out.size() < wanted; ++w) {
        uint64_t word = m_bits[w];
        const size_t inWord = static_cast<size_t>(std::popcount(word));
        if (seen + inWord <= from) {
            seen += inWord;
            continue;
        }
        while (word && out.size() < wanted) {
            const int bit = std::countr_zero(word);
            word &= word - 1;
            if (seen++ >= from)
                out.push_back(static_cast<uint32_t>(w * 64 + size_t(bit)));
        }
    }
    return out;
}

PostingList::Ids PostingList::slice(size_t from, size_t count) const
{
    Ids out;
    if (from >= m_count)
        return out;
    if (isBitmap())
        return bitmapSlice(from, count);
    const size_t end = std::min<size_t>(m_count, from + std::min<size_t>(count, m_count));
    out.reserve(end - from);
    const size_t block = from / kBlock;
    size_t offset = block == 0 ? 0 : m_skips[block - 1].offset;
    uint32_t id = block == 0 ? 0 : m_skips[block - 1].previousId;
    for (size_t i = block * kBlock; i < end; ++i) {
        id += readGap(m_bytes, offset);
        if (i >= from)
            out.push_back(id);
    }
    return out;
}

void PostingList::keepCommon(Ids &ids) const
{
    size_t kept = 0;
    if (isBitmap()) {
        for (const uint32_t id : ids) {
            if (id / 64 < m_bits.size() && (m_bits[id / 64] >> (id % 64) & 1))
                ids[kept++] = id;
        }
        ids.resize(kept);
        return;
    }
    size_t index = 0;  // position of current
    size_t offset = 0; // the byte after current's
    uint32_t current = m_count > 0 ? readGap(m_bytes, offset) : 0;
    for (const uint32_t wanted : ids) {
        if (index >= m_count)
            break;
        if (current < wanted) {
            // The block holding the first ID >= wanted is the last one whose
            // previous block ends below wanted: the next one, mostly.
            const size_t block = index / kBlock;
            if (block < m_skips.size() && m_skips[block].previousId < wanted) {
                size_t next = block + 1;
                if (next < m_skips.size() && m_skips[next].previousId < wanted)
                    next = static_cast<size_t>(
                        std::partition_point(
                            m_skips.begin() + static_cast<std::ptrdiff_t>(next), m_skips.end(),
                            [wanted](const Skip &s) { return s.previousId < wanted; }) -
                        m_skips.begin());
                index = next * kBlock;
                offset = m_skips[next - 1].offset;
                current = m_skips[next - 1].previousId + readGap(m_bytes, offset);
            }
            while (current < wanted && ++index < m_count)
                current += readGap(m_bytes, offset);
            if (index >= m_count)
                break;
        }
        if (current == wanted)
            ids[kept++] = wanted;
    }
    ids.resize(kept);
}

void PostingList::save(SnapshotFile::Writer &out) const
{
    out.putValue(m_count);
    out.putValue(m_last);
    out.putVector(m_bytes);
    out.putVector(m_skips);
    out.putVector(m_bits);
    out.putVector(m_ranks);
}

bool PostingList::load(SnapshotFile::Reader &in)
{
    if (!in.getValue(m_count) || !in.getValue(m_last) || !in.getVector(m_bytes) ||
        !in.getVector(m_skips) || !in.getVector(m_bits) || !in.getVector(m_ranks))
        return false;
    // Every read above trusts these, so they are checked in full: the
    // checksum catches damage, this a file that is whole but not ours.
    if (isBitmap()) {
        if (!m_bytes.empty() || !m_skips.empty() || m_ranks.empty() ||
            (m_ranks.size() - 1) * kRankBits >= m_bits.size() * 64 ||
            m_bits.size() * 64 > (size_t(m_ranks.size()) + 1) * kRankBits)
            return false;
        uint32_t seen = 0;
        for (size_t w = 0; w < m_bits.size(); ++w) {
            if (w % (kRankBits / 64) == 0 && m_ranks[w / (kRankBits / 64)] != seen)
                return false;
            seen += static_cast<uint32_t>(std::popcount(m_bits[w]));
        }
        const uint64_t top = m_bits.back();
        return seen == m_count && top != 0 &&
               m_last == (m_bits.size() - 1) * 64 + size_t(63 - std::countl_zero(top));
    }
    if (m_skips.size() != (m_count == 0 ? 0 : (m_count - 1) / kBlock))
        return false;
    size_t offset = 0;
    uint32_t id = 0;
    for (uint32_t i = 0; i < m_count; ++i) {
        if (i > 0 && i % kBlock == 0 &&
            (m_skips[i / kBlock - 1].previousId != id || m_skips[i / kBlock - 1].offset != offset))
            return false;
        uint32_t gap = 0;
        for (int shift = 0;; shift += 7) {
            if (offset >= m_bytes.size() || shift > 28)
                return false;
            const uint8_t b = m_bytes[offset++];
            gap |= uint32_t(b & 0x7f) << shift;
            if (!(b & 0x80))
                break;
        }
        if ((gap == 0 && i > 0) || uint64_t(id) + gap > UINT32_MAX)
            return false;
        id += gap;
    }
    return offset == m_bytes.size() && id == m_last;
}

} // namespace musicd
