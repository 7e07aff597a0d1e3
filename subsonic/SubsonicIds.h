// The player's protocol names songs (and singer pictures) by number, a
// Subsonic server by string. This keeps the two-way map, thread-safe and
// bounded. A number is a hash of the server's ID, so the same song gets
// the same number in every run and in every bridge to that server; a
// number is known, though, only once its song has been seen in this run
// (a search or a singer page), and the oldest are forgotten past the bound.
#pragma once

#include <QHash>
#include <QString>
#include <deque>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace subsonic {

template <typename Facts> class SubsonicIds
{
public:
    // Numbers stay within the twelve digits the player's requests carry.
    static constexpr qint64 kMaxNumber = 999'999'999'999;

    explicit SubsonicIds(size_t maxEntries) : m_maxEntries(maxEntries) {}

    // The number of serverId (assigned now if it is new), its facts kept or
    // refreshed; 0 for an empty ID.
    qint64 remember(const QString &serverId, const Facts &facts)
    {
        if (serverId.isEmpty())
            return 0;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (const auto known = m_byServer.constFind(serverId); known != m_byServer.cend()) {
            m_byNumber[*known].facts = facts;
            return *known;
        }
        qint64 number = hashed(serverId);
        // Another ID with the same hash: the next free number (rare at the
        // bound's size among a trillion).
        while (m_byNumber.count(number) != 0)
            number = number % kMaxNumber + 1;
        m_byNumber[number] = Entry{serverId, facts};
        m_byServer.insert(serverId, number);
        m_order.push_back(number);
        while (m_order.size() > m_maxEntries) {
            const auto oldest = m_byNumber.find(m_order.front());
            m_byServer.remove(oldest->second.serverId);
            m_byNumber.erase(oldest);
            m_order.pop_front();
        }
        return number;
    }

    struct Entry
    {
        QString serverId;
        Facts facts;
    };
    std::optional<Entry> find(qint64 number) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_byNumber.find(number);
        if (it == m_byNumber.end())
            return std::nullopt;
        return it->second;
    }

    size_t size() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_order.size();
    }

    // FNV-1a of the ID's UTF-8, folded into 1..kMaxNumber.
    static qint64 hashed(const QString &serverId)
    {
        quint64 h = 14695981039346656037ULL;
        for (const char c : serverId.toUtf8()) {
            h ^= static_cast<unsigned char>(c);
            h *= 1099511628211ULL;
        }
        return static_cast<qint64>(h % static_cast<quint64>(kMaxNumber)) + 1;
    }

private:
    mutable std::mutex m_mutex;
    std::unordered_map<qint64, Entry> m_byNumber;
    QHash<QString, qint64> m_byServer;
    std::deque<qint64> m_order; // first seen first
    const size_t m_maxEntries;
};

} // namespace subsonic
