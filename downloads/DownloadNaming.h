// Which links a download accepts and what the saved file is called. The
// link comes from the music service, so its last path segment is untrusted
// text: it must not climb out of the chosen folder, carry control
// characters or end up as an empty or hidden name.
#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace DownloadNaming {

// Name used when neither the caller nor the link gives one.
inline constexpr char16_t kFallbackBaseName[] = u"歌曲";

// True for an absolute http or https link with a host.
bool isDownloadableUrl(const QUrl &url);

// The extension (without the dot) for what a link answers, from the MIME
// database: the answer's Content-Type when it names a particular type,
// else the type its first bytes show, else the type the link's own last
// path segment names when that is audio or video; "" when none tells.
// The extension always comes from the database, never from the server's
// text, so it cannot smuggle anything into the name.
QString extensionFor(const QString &contentType, const QByteArray &firstBytes, const QUrl &url);

// A safe file name (no folder part): `nameHint` (for example
// "title - singer"), else the link's last path segment without its
// extension when that names audio or video, else a fixed name; then
// "." + `extension`, or the extension the link's name gives when
// `extension` is empty. Every part is sanitised as below and capped in
// length.
QString suggestedFileName(const QUrl &url, const QString &nameHint = QString(),
                          const QString &extension = QString());

// Sanitises one name: path separators, control characters and the
// characters Windows forbids become "_", blanks and dots are trimmed at both
// ends. Gives "" when nothing meaningful is left.
QString sanitizeFileName(const QString &name);

} // namespace DownloadNaming
