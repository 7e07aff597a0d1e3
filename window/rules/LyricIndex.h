// The timed lyric entries of the playing song, and the line the clock shows
// for a second. The clock asks on every tick, many times a second; the
// entries are scanned once per new key and never copied, so a long lyric
// costs one scan a second, not one copy and scan a tick.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class LyricIndex
{
public:
    void clear();
    void append(const QString &entry);
    const QStringList &entries() const { return m_entries; }

    // PlaybackClock::lyricLineFor over the entries.
    std::optional<QString> lineFor(const QString &key) const;

private:
    QStringList m_entries;
    // The last answer, valid until the entries change.
    mutable QString m_key;
    mutable std::optional<QString> m_line;
    mutable bool m_known = false;
};
