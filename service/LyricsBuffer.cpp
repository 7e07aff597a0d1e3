#include "service/LyricsBuffer.h"

void LyricsBuffer::clearLyricList()
{
    m_cleared = true;
    m_entries.clear();
}

void LyricsBuffer::addLyricEntry(const QString &entry)
{
    m_entries.append(entry);
}

void LyricsBuffer::setLyricText(const QString &text)
{
    m_text = text;
}

void LyricsBuffer::setLyricBoxText(const QString &text)
{
    m_boxText = text;
}

bool LyricsBuffer::isEmpty() const
{
    return !m_cleared && m_entries.isEmpty() && !m_text && !m_boxText;
}

void LyricsBuffer::applyTo(LyricsView &view) const
{
    if (m_cleared)
        view.clearLyricList();
    for (const QString &entry : m_entries)
        view.addLyricEntry(entry);
    if (m_text)
        view.setLyricText(*m_text);
    if (m_boxText)
        view.setLyricBoxText(*m_boxText);
}
