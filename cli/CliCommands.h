// The commands of velmor-cli. Each prints its result to stdout, messages to
// stderr, and returns the process exit status.
#pragma once

#include <QString>
#include <QStringList>

namespace cli {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitNetwork = 1;       // the service could not be read
inline constexpr int kExitUsage = 2;         // bad command line
inline constexpr int kExitNotFound = 3;      // the answer names no playable link
inline constexpr int kExitInterrupted = 130; // Ctrl-C (128 + SIGINT)

// All result pages for the words; one "ID\ttitle\tsinger\talbum" line a row.
int search(const QString &words);
// The playable link of a song.
int link(const QString &songId, const QString &artist, const QString &title);
// The song's lyric lines, one per line, or "暂无歌词".
int lyrics(const QString &songId, const QString &artist, const QString &title);
// The singer picture's URL or "无歌手信息".
int picture(const QString &singer);
// The text percent-encoded for a query value.
int encode(const QString &text);

// Writes a line to stdout / stderr as UTF-8.
void printOut(const QString &line);
void printErr(const QString &line);

} // namespace cli
