// The matches of the last few searches, kept for their next pages: the
// player asks for every page of a result in turn, and counting the matches
// is the costly part of a common word.
#include "musicd/library/LibraryIndex.h"

namespace musicd {
namespace {

// Remembered search results: at most this many, holding at most this many
// IDs together (4 bytes each: 1 MiB). Enough for the pages of a few common
// words at once; a word matching more is counted again for each page.
constexpr size_t kMaxRememberedResults = 32;
constexpr size_t kMaxRememberedIds = 256 * 1024;

} // namespace

void LibraryIndex::forgetResults() const
{
    std::lock_guard<std::mutex> lock(m_resultsMutex);
    m_results.clear();
    m_resultIds = 0;
}

std::shared_ptr<const std::vector<uint32_t>> LibraryIndex::cachedResult(const QString &key) const
{
    std::lock_guard<std::mutex> lock(m_resultsMutex);
    for (auto it = m_results.begin(); it != m_results.end(); ++it) {
        if (it->first == key) {
            m_results.splice(m_results.begin(), m_results, it);
            return it->second;
        }
    }
    return nullptr;
}

void LibraryIndex::rememberResult(const QString &key,
                                  std::shared_ptr<const std::vector<uint32_t>> ids) const
{
    if (ids->size() > kMaxRememberedIds)
        return;
    std::lock_guard<std::mutex> lock(m_resultsMutex);
    m_resultIds += ids->size();
    m_results.emplace_front(key, std::move(ids));
    while (m_results.size() > kMaxRememberedResults || m_resultIds > kMaxRememberedIds) {
        m_resultIds -= m_results.back().second->size();
        m_results.pop_back();
    }
}

} // namespace musicd
