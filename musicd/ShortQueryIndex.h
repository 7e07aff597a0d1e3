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

#include "musicd/PostingList.h"

#include <QList>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <string_view>
#include <unordered_map>
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
    // without white space, of any length), ascending.
    Ids findAll(const QList<QStringView> &foldedWords) const;

    size_t keyCount() const { return m_postings.size(); }

private:
    // The folded text of the track at m_ids[i] is m_text[m_starts[i] ..
    // m_starts[i + 1]), in UTF-8: one buffer, not a string per track, and
    // half the bytes of UTF-16 for Latin names, to keep the memory of a
    // large library down.
    std::string_view textOf(size_t index) const;

    std::unordered_map<uint32_t, PostingList> m_postings;
    Ids m_ids;
    std::vector<uint32_t> m_starts{0};
    std::vector<char> m_text;
};

} // namespace musicd
