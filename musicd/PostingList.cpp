#include "musicd/PostingList.h"

#include <algorithm>

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
    if (m_count > 0 && m_count % kBlock == 0)
        m_skips.push_back({m_last, static_cast<uint32_t>(m_bytes.size())});
    uint32_t gap = id - m_last; // the first ID's gap is from 0
    while (gap >= 0x80) {
        m_bytes.push_back(static_cast<uint8_t>(gap | 0x80));
        gap >>= 7;
    }
    m_bytes.push_back(static_cast<uint8_t>(gap));
    m_last = id;
    ++m_count;
}

void PostingList::compact()
{
    m_bytes.shrink_to_fit();
    m_skips.shrink_to_fit();
}

PostingList::Ids PostingList::slice(size_t from, size_t count) const
{
    Ids out;
    if (from >= m_count)
        return out;
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

} // namespace musicd
