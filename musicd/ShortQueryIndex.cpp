#include "musicd/ShortQueryIndex.h"

#include <algorithm>
#include <string>
#include <unordered_set>

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
    std::unordered_set<uint32_t> keys;
    const qsizetype n = foldedText.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t a = foldedText.at(i).unicode();
        if (a == u'\n')
            continue; // the separator between fields: no word holds it
        keys.insert(keyOf(a));
        if (i + 1 < n && foldedText.at(i + 1).unicode() != u'\n')
            keys.insert(keyOf(a, foldedText.at(i + 1).unicode()));
    }
    for (const uint32_t key : keys) {
        PostingList &ids = m_postings[key];
        if (ids.empty() || ids.last() < id)
            ids.append(id);
    }
    if (m_ids.empty() || m_ids.back() < id) {
        m_ids.push_back(id);
        const QByteArray utf8 = foldedText.toUtf8();
        m_text.insert(m_text.end(), utf8.begin(), utf8.end());
        m_starts.push_back(static_cast<uint32_t>(m_text.size()));
    }
}

void ShortQueryIndex::clear()
{
    m_postings.clear();
    m_ids.clear();
    m_starts.assign(1, 0);
    m_text.clear();
}

void ShortQueryIndex::compact()
{
    for (auto &[key, ids] : m_postings)
        ids.compact();
    m_ids.shrink_to_fit();
    m_starts.shrink_to_fit();
    // The text is the largest block, and giving back its slack means a
    // copy that, for a moment, holds it twice: worth it only for a lot.
    if (m_text.capacity() - m_text.size() > m_text.size() / 4)
        m_text.shrink_to_fit();
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
    const auto it = m_postings.find(key);
    return it == m_postings.end() || it->second.empty() ? nullptr : &it->second;
}

ShortQueryIndex::Ids ShortQueryIndex::findAll(const QList<QStringView> &foldedWords) const
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
    if (toCheck.empty() || ids.empty())
        return ids;

    // Longest first: it rules out the most tracks.
    std::sort(toCheck.begin(), toCheck.end(),
              [](const std::string &a, const std::string &b) { return a.size() > b.size(); });
    auto at = m_ids.cbegin();
    size_t kept = 0;
    for (const uint32_t id : ids) {
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

std::string_view ShortQueryIndex::textOf(size_t index) const
{
    const uint32_t start = m_starts.at(index);
    return std::string_view(m_text.data() + start, m_starts.at(index + 1) - start);
}

} // namespace musicd
