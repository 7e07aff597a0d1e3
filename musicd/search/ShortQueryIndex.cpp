#include "musicd/search/ShortQueryIndex.h"

#include <algorithm>
#include <string>
#include <utility>

namespace musicd {
namespace {

// One unit keys as itself; a pair as (first + 1) << 16 | second, which no
// single unit can equal.
uint32_t keyOf(char16_t a)
{
    return a;
}

uint32_t keyOf(char16_t a, char16_t b)
{
    return ((uint32_t(a) + 1) << 16) | b;
}

// The first position in [from, end) holding id or more. Steps that double
// first, since the IDs sought rise through the list: far cheaper than a
// binary search over the whole rest when the lists are of similar size.
ShortQueryIndex::Ids::const_iterator gallop(ShortQueryIndex::Ids::const_iterator from,
                                            ShortQueryIndex::Ids::const_iterator end, uint32_t id)
{
    size_t step = 1;
    for (;;) {
        if (static_cast<size_t>(end - from) <= step)
            return std::lower_bound(from, end, id);
        const auto probe = from + static_cast<std::ptrdiff_t>(step);
        if (*probe >= id)
            return std::lower_bound(from, probe, id);
        from = probe + 1;
        step *= 2;
    }
}

} // namespace

void ShortQueryIndex::add(uint32_t id, const QString &foldedText)
{
    // Every occurrence is looked up, repeats too: a list takes an ID once,
    // and a lookup in the flat table costs less than sorting out repeats.
    const auto take = [this, id](uint32_t key) {
        PostingList &ids = listFor(key);
        if (ids.empty() || ids.last() < id)
            ids.append(id);
    };
    const qsizetype n = foldedText.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t a = foldedText.at(i).unicode();
        if (a == u'\n')
            continue; // the separator between fields: no word holds it
        take(keyOf(a));
        if (i + 1 < n && foldedText.at(i + 1).unicode() != u'\n')
            take(keyOf(a, foldedText.at(i + 1).unicode()));
    }
    if (m_ids.empty() || m_ids.back() < id) {
        m_ids.push_back(id);
        const QByteArray utf8 = foldedText.toUtf8();
        // Tag values are cut at 256 characters, so this never cuts one.
        const size_t length = std::min<size_t>(size_t(utf8.size()), UINT16_MAX);
        if (m_blocks.empty() || m_blockUsed + length > kTextBlock) {
            m_blocks.push_back(std::make_unique_for_overwrite<char[]>(kTextBlock));
            m_blockUsed = 0;
        }
        std::copy_n(utf8.constData(), length, m_blocks.back().get() + m_blockUsed);
        m_starts.push_back(static_cast<uint32_t>((m_blocks.size() - 1) * kTextBlock + m_blockUsed));
        m_lengths.push_back(static_cast<uint16_t>(length));
        m_blockUsed += length;
    }
}

void ShortQueryIndex::clear()
{
    m_lists.clear();
    m_slots.clear();
    m_ids.clear();
    m_starts.clear();
    m_lengths.clear();
    m_blocks.clear();
    m_blockUsed = 0;
}

void ShortQueryIndex::compact()
{
    for (PostingList &ids : m_lists)
        ids.compact();
    m_lists.shrink_to_fit();
    m_ids.shrink_to_fit();
    m_starts.shrink_to_fit();
    m_lengths.shrink_to_fit();
}

const PostingList *ShortQueryIndex::find(QStringView foldedWord) const
{
    uint32_t key = 0;
    if (foldedWord.size() == 1)
        key = keyOf(foldedWord.at(0).unicode());
    else if (foldedWord.size() == 2)
        key = keyOf(foldedWord.at(0).unicode(), foldedWord.at(1).unicode());
    else
        return nullptr;
    if (m_slots.empty())
        return nullptr;
    for (size_t at = slotOf(key);; at = (at + 1) & (m_slots.size() - 1)) {
        const uint64_t slot = m_slots[at];
        if (slot == 0)
            return nullptr;
        if (slot >> 32 == key) {
            const PostingList &ids = m_lists[uint32_t(slot) - 1];
            return ids.empty() ? nullptr : &ids;
        }
    }
}

ShortQueryIndex::Ids ShortQueryIndex::findAll(const QList<QStringView> &foldedWords,
                                              size_t enough) const
{
    // A word of one or two units is answered by its own list. A longer one
    // needs all of its neighbouring pairs, but is checked against each
    // track's text afterwards anyway, so only its rarest pair narrows the
    // tracks: walking the others costs more than the checks they save
    // (their tracks are mostly the same ones).
    std::vector<const PostingList *> lists;
    std::vector<std::string> toCheck;
    for (const QStringView word : foldedWords) {
        if (word.isEmpty())
            continue;
        const PostingList *rarest = nullptr;
        const qsizetype pairs = std::max<qsizetype>(word.size() - 1, 1);
        for (qsizetype i = 0; i < pairs; ++i) {
            const PostingList *ids = find(word.mid(i, std::min<qsizetype>(word.size(), 2)));
            if (!ids)
                return {};
            if (!rarest || ids->size() < rarest->size())
                rarest = ids;
        }
        lists.push_back(rarest);
        if (word.size() > kMaxWordLength)
            toCheck.push_back(word.toUtf8().toStdString());
    }
    if (lists.empty())
        return {};
    std::sort(lists.begin(), lists.end(), [](const PostingList *a, const PostingList *b) {
        return a->size() != b->size() ? a->size() < b->size() : a < b;
    });
    lists.erase(std::unique(lists.begin(), lists.end()), lists.end());

    Ids ids = lists.front()->all();
    for (size_t l = 1; l < lists.size() && !ids.empty(); ++l)
        lists.at(l)->keepCommon(ids);
    if (toCheck.empty() || ids.empty()) {
        ids.resize(std::min(ids.size(), enough));
        return ids;
    }

    // Longest first: it rules out the most tracks.
    std::sort(toCheck.begin(), toCheck.end(),
              [](const std::string &a, const std::string &b) { return a.size() > b.size(); });
    auto at = m_ids.cbegin();
    size_t kept = 0;
    for (const uint32_t id : ids) {
        if (kept == enough)
            break;
        at = gallop(at, m_ids.cend(), id);
        if (at == m_ids.cend())
            break;
        if (*at != id)
            continue;
        const std::string_view text = textOf(static_cast<size_t>(at - m_ids.cbegin()));
        bool all = true;
        for (const std::string &word : toCheck) {
            // Both sides are valid UTF-8, so a byte match is a match of
            // whole characters. (A plain find: memmem's set-up costs more
            // than scanning a text of a few dozen bytes.)
            if (text.find(word) == std::string_view::npos) {
                all = false;
                break;
            }
        }
        if (all)
            ids[kept++] = id;
    }
    ids.resize(kept);
    return ids;
}

size_t ShortQueryIndex::slotOf(uint32_t key) const
{
    // Fibonacci hashing: neighbouring characters land far apart.
    return size_t((uint64_t(key) * 0x9E3779B97F4A7C15ull) >> 40) & (m_slots.size() - 1);
}

PostingList &ShortQueryIndex::listFor(uint32_t key)
{
    // At most half full, so a probe ends after a slot or two.
    if ((m_lists.size() + 1) * 2 > m_slots.size()) {
        const size_t grown = std::max<size_t>(1024, m_slots.size() * 2);
        const std::vector<uint64_t> old = std::exchange(m_slots, std::vector<uint64_t>(grown));
        for (const uint64_t slot : old) {
            if (slot == 0)
                continue;
            size_t at = slotOf(uint32_t(slot >> 32));
            while (m_slots[at] != 0)
                at = (at + 1) & (m_slots.size() - 1);
            m_slots[at] = slot;
        }
    }
    size_t at = slotOf(key);
    for (;; at = (at + 1) & (m_slots.size() - 1)) {
        const uint64_t slot = m_slots[at];
        if (slot == 0)
            break;
        if (slot >> 32 == key)
            return m_lists[uint32_t(slot) - 1];
    }
    m_lists.emplace_back();
    m_slots[at] = uint64_t(key) << 32 | uint64_t(m_lists.size());
    return m_lists.back();
}

bool ShortQueryIndex::holdsText(uint32_t id, const QString &foldedText) const
{
    const auto at = std::lower_bound(m_ids.cbegin(), m_ids.cend(), id);
    if (at == m_ids.cend() || *at != id)
        return false;
    const QByteArray utf8 = foldedText.toUtf8();
    return textOf(static_cast<size_t>(at - m_ids.cbegin())) ==
           std::string_view(utf8.constData(), static_cast<size_t>(utf8.size()));
}

std::string_view ShortQueryIndex::textOf(size_t index) const
{
    const uint32_t start = m_starts.at(index);
    return std::string_view(m_blocks[start / kTextBlock].get() + start % kTextBlock,
                            m_lengths.at(index));
}

void ShortQueryIndex::save(SnapshotFile::Writer &out) const
{
    out.putValue(uint64_t(m_lists.size()));
    for (const PostingList &list : m_lists)
        list.save(out);
    out.putVector(m_slots);
    out.putVector(m_ids);
    out.putVector(m_starts);
    out.putVector(m_lengths);
    out.putValue(uint64_t(m_blocks.size()));
    out.putValue(uint64_t(m_blockUsed));
    for (size_t b = 0; b < m_blocks.size(); ++b)
        out.put(m_blocks[b].get(), b + 1 < m_blocks.size() ? kTextBlock : m_blockUsed);
}

bool ShortQueryIndex::load(SnapshotFile::Reader &in)
{
    clear();
    uint64_t lists = 0;
    bool ok = in.getValue(lists) && lists <= UINT32_MAX;
    if (ok)
        m_lists.resize(size_t(lists));
    for (size_t i = 0; ok && i < m_lists.size(); ++i)
        ok = m_lists[i].load(in);
    ok = ok && in.getVector(m_slots) && in.getVector(m_ids) && in.getVector(m_starts) &&
         in.getVector(m_lengths);
    uint64_t blocks = 0;
    uint64_t used = 0;
    ok = ok && in.getValue(blocks) && in.getValue(used) && blocks <= UINT32_MAX / kTextBlock &&
         used <= kTextBlock;
    for (uint64_t b = 0; ok && b < blocks; ++b) {
        m_blocks.push_back(std::make_unique_for_overwrite<char[]>(kTextBlock));
        ok = in.get(m_blocks.back().get(), b + 1 < blocks ? kTextBlock : size_t(used));
    }
    m_blockUsed = size_t(used);
    if (ok)
        ok = isConsistent();
    if (!ok)
        clear();
    return ok;
}

bool ShortQueryIndex::isConsistent() const
{
    // The slot table is searched by masking: a power of two, at most half
    // full, each slot naming a list that is there.
    if (m_slots.empty()
            ? !m_lists.empty()
            : (m_slots.size() & (m_slots.size() - 1)) != 0 || m_lists.size() * 2 > m_slots.size())
        return false;
    size_t named = 0;
    for (const uint64_t slot : m_slots) {
        if (slot == 0)
            continue;
        if (uint32_t(slot) == 0 || uint32_t(slot) > m_lists.size())
            return false;
        ++named;
    }
    if (named != m_lists.size() || m_starts.size() != m_ids.size() ||
        m_lengths.size() != m_ids.size())
        return false;
    for (size_t i = 0; i < m_ids.size(); ++i) {
        const size_t start = m_starts[i];
        if ((i > 0 && m_ids[i] <= m_ids[i - 1]) || start / kTextBlock >= m_blocks.size() ||
            start % kTextBlock + m_lengths[i] >
                (start / kTextBlock + 1 < m_blocks.size() ? kTextBlock : m_blockUsed))
            return false;
    }
    return true;
}

} // namespace musicd
