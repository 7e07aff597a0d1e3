#include "window/rules/LyricIndex.h"

#include "window/rules/PlaybackClock.h"

void LyricIndex::clear()
{
    m_entries.clear();
    m_known = false;
}

void LyricIndex::append(const QString &entry)
{
    m_entries.append(entry);
    m_known = false;
}

std::optional<QString> LyricIndex::lineFor(const QString &key) const
{
    if (!m_known || key != m_key) {
        m_key = key;
        m_line = PlaybackClock::lyricLineFor(m_entries, key);
        m_known = true;
    }
    return m_line;
}
