// The lyric step of a link request: cut the LRC file's URL out of the link
// answer, download it and split it into one entry per time tag.
#pragma once

#include "service/LyricsView.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace musicservice {

// Shown in the lyric boxes when a song has no lyric file.
inline const QString kNoLyrics = QStringLiteral("暂无歌词");

// A real LRC file is a few KB, rarely over 100 KB; a larger one is refused
// like an unreadable one, before it can cost the window time and memory.
inline constexpr qint64 kMaxLyricBytes = 1024 * 1024;

// The lyric URL named by a link answer, backslashes and quotes removed;
// nullopt when the answer has no "lyric_url" at all. The URL ends at the
// first comma after it or, when none follows, at the closing brace of the
// answer.
std::optional<QString> cutLyricUrl(const QString &answer);

// An LRC file is recognised by ".lrc" anywhere in its URL, any letter case.
bool isLrcUrl(const QString &url);

// Splits an LRC text at every "[" and gives "[" + piece for every piece that
// is not blank; pieces are trimmed of spaces only, so line breaks stay.
QStringList splitLrc(const QString &text);

// Refreshes the lyric outputs from a link answer. An answer without
// "lyric_url" leaves them as they are. Returns false only when the lyric
// file could not be downloaded or is larger than kMaxLyricBytes;
// fetchError then gets HttpClient's message.
bool loadLyrics(const QString &answer, LyricsView &view, QString *fetchError = nullptr);

} // namespace musicservice
