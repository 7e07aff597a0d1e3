// A lyric view that keeps what a link request said about the lyric until
// the caller knows whether the song is wanted: a play hands it on to the
// window only once its link proved playable, so a failed play leaves the
// lyric of the song still playing where it was.
#pragma once

#include "service/LyricsView.h"

#include <QStringList>
#include <optional>

class LyricsBuffer : public LyricsView
{
public:
    void clearLyricList() override;
    void addLyricEntry(const QString &entry) override;
    void setLyricText(const QString &text) override;
    void setLyricBoxText(const QString &text) override;

    // Whether the request said anything about the lyric at all.
    bool isEmpty() const;
    // Passes everything on to view in the order the lyric loader uses:
    // the list emptied, its entries, the whole text, the lyric box.
    void applyTo(LyricsView &view) const;

private:
    bool m_cleared = false;
    QStringList m_entries;
    std::optional<QString> m_text;
    std::optional<QString> m_boxText;
};
