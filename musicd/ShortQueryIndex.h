// The search path for one- and two-character words ("爱", "晴川", "a"),
// which a trigram index cannot answer. Every character and every pair of
// neighbouring characters of a track's case-folded title, artist and album
// maps to the sorted IDs of the tracks that contain it, so such a word costs
// one lookup and its match count is the list's length. Kept in memory and
// filled from the library index; not thread-safe on its own (LibraryIndex
// guards it).
#pragma once

#include <QString>
#include <QStringView>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace musicd {

class ShortQueryIndex
{
public:
    using Ids = std::vector<uint32_t>;

    // Words of at most this many UTF-16 units are answered here.
    static constexpr int kMaxWordLength = 2;

    // IDs must arrive in increasing order (new tracks get larger IDs).
    void add(uint32_t id, const QString &foldedText);
    void clear();
    // Gives back the slack the lists grew with (after a bulk fill).
    void compact();
    // The IDs whose text contains the folded word (1 or 2 units), ascending;
    // null when none does.
    const Ids *find(QStringView foldedWord) const;

    size_t keyCount() const { return m_postings.size(); }

private:
    std::unordered_map<uint32_t, Ids> m_postings;
};

} // namespace musicd
