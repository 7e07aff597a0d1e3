// A small thread-safe cache of generated files (audio, lyrics, pictures),
// bounded by total size: the least recently used entries go first. Values
// are shared, so a response can keep streaming an entry the cache has
// already dropped.
#pragma once

#include <QByteArray>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

namespace musicd {

class ByteCache
{
public:
    using Value = std::shared_ptr<const QByteArray>;

    explicit ByteCache(qint64 maxBytes) : m_maxBytes(maxBytes) {}

    Value find(const std::string &key)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_index.find(key);
        if (it == m_index.end())
            return nullptr;
        m_order.splice(m_order.begin(), m_order, it->second);
        return it->second->second;
    }

    // Stores value under key (replacing an equal entry) and returns it.
    Value insert(const std::string &key, QByteArray value)
    {
        auto shared = std::make_shared<const QByteArray>(std::move(value));
        std::lock_guard<std::mutex> lock(m_mutex);
        if (const auto it = m_index.find(key); it != m_index.end()) {
            m_bytes -= it->second->second->size();
            m_order.erase(it->second);
            m_index.erase(it);
        }
        m_order.emplace_front(key, shared);
        m_index[key] = m_order.begin();
        m_bytes += shared->size();
        while (m_bytes > m_maxBytes && m_order.size() > 1) {
            m_bytes -= m_order.back().second->size();
            m_index.erase(m_order.back().first);
            m_order.pop_back();
        }
        return shared;
    }

    qint64 bytes() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_bytes;
    }

private:
    using Entry = std::pair<std::string, Value>;
    mutable std::mutex m_mutex;
    std::list<Entry> m_order; // most recently used first
    std::unordered_map<std::string, std::list<Entry>::iterator> m_index;
    qint64 m_maxBytes;
    qint64 m_bytes = 0;
};

} // namespace musicd
