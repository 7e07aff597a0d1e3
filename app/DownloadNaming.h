// Which links a download accepts and what the saved file is called. The
// link comes from the music service, so its last path segment is untrusted
// text: it must not climb out of the chosen folder, carry control
// characters or end up as an empty or hidden name.
#pragma once

#include <QString>
#include <QUrl>

namespace DownloadNaming {

// Name used when the link gives nothing usable.
inline constexpr char16_t kFallbackBaseName[] = u"歌曲";
// Extension used when the link's name has none we know as audio.
inline constexpr char16_t kFallbackExtension[] = u"mp3";

// True for an absolute http or https link with a host.
bool isDownloadableUrl(const QUrl &url);

// A safe file name (no folder part) for a link. Its last path segment,
// percent-decoded, is used when it ends in an audio extension; otherwise
// `fallbackBase` (for example "title - singer"), else the segment, else a
// fixed name, each with ".mp3" added. Every part is sanitised as below and
// capped in length.
QString suggestedFileName(const QUrl &url, const QString &fallbackBase = QString());

// Sanitises one name: path separators, control characters and the
// characters Windows forbids become "_", blanks and dots are trimmed at both
// ends. Gives "" when nothing meaningful is left.
QString sanitizeFileName(const QString &name);

} // namespace DownloadNaming
