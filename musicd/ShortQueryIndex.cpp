#include "musicd/ShortQueryIndex.h"

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
        Ids &ids = m_postings[key];
        if (ids.empty() || ids.back() < id)
            ids.push_back(id);
    }
}

void ShortQueryIndex::clear()
{
    m_postings.clear();
}

void ShortQueryIndex::compact()
{
    for (auto &[key, ids] : m_postings)
        ids.shrink_to_fit();
}

const ShortQueryIndex::Ids *ShortQueryIndex::find(QStringView foldedWord) const
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

} // namespace musicd
