// The server's recent answers, kept a short while so a result page, its
// link and its lyric, asked for one after the other, cost the server one
// request each; bounded by entries and bytes, the oldest going first.
// Thread-safe.
#pragma once

#include <QByteArray>
#include <chrono>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

class AnswerCache
{
public:
    using Clock = std::chrono::steady_clock;

    AnswerCache(std::chrono::milliseconds lifetime, size_t maxEntries, qint64 maxBytes)
        : m_lifetime(lifetime), m_maxEntries(maxEntries), m_maxBytes(maxBytes)
    {
    }

    std::optional<QByteArray> find(const std::string &key)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_index.find(key);
        if (it == m_index.end())
            return std::nullopt;
        if (it->second->expires <= Clock::now()) {
            drop(it->second);
            return std::nullopt;
        }
        return it->second->bytes;
    }

    void insert(const std::string &key, const QByteArray &bytes)
    {
        if (bytes.size() > m_maxBytes)
            return;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (const auto it = m_index.find(key); it != m_index.end())
            drop(it->second);
        m_order.push_back(Entry{key, bytes, Clock::now() + m_lifetime});
        m_index[key] = std::prev(m_order.end());
        m_bytes += bytes.size();
        while (m_order.size() > m_maxEntries || m_bytes > m_maxBytes)
            drop(m_order.begin());
    }

    qint64 bytes() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_bytes;
    }

private:
    struct Entry
    {
        std::string key;
        QByteArray bytes;
        Clock::time_point expires;
    };

    void drop(std::list<Entry>::iterator it)
    {
        m_bytes -= it->bytes.size();
        m_index.erase(it->key);
        m_order.erase(it);
    }

    mutable std::mutex m_mutex;
    std::list<Entry> m_order; // oldest first; every entry lives equally long
    std::unordered_map<std::string, std::list<Entry>::iterator> m_index;
    const std::chrono::milliseconds m_lifetime;
    const size_t m_maxEntries;
    const qint64 m_maxBytes;
    qint64 m_bytes = 0;
};
