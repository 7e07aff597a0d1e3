// The link answer is JSON-like text that is cut, not parsed: from the link
// member's label to the "&src=\" parameter (which the player must not send)
// or to the member's end, then every backslash and quote removed, which
// turns the escaped "\/" back into "/".
#include "service/ResolveSongLink.h"

#include "net/HttpClient.h"
#include "net/UrlEncode.h"
#include "service/FetchPage.h"
#include "service/LoadLyrics.h"
#include "service/ServiceConfig.h"

#include <QUrl>

namespace musicservice {
namespace {

// The link request endpoint.
constexpr int kLinkResource = 102;
// The link member's name with its quotes, colon and opening quote. The lyric
// member cannot contain it: the character before "url" there is "_".
const QString kLinkMarker = QStringLiteral("\"url\":\"");
// A tracking parameter of the link; it and everything after it are dropped.
const QString kSrcParam = QStringLiteral("&src=\\");
// The end of a member that another one follows.
const QString kMemberEnd = QStringLiteral("\",");

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool keptInId(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' ||
           c == '_' || c == '.';
}

} // namespace

QString encodeSongId(const QString &songId)
{
    const QByteArray utf8 = songId.toUtf8();
    QString out;
    out.reserve(utf8.size());
    for (const char c : utf8) {
        if (keptInId(c)) {
            out += QLatin1Char(c);
        } else {
            const auto u = static_cast<unsigned char>(c);
            out += QLatin1Char('%');
            out += QLatin1Char(kHexDigits[u >> 4]);
            out += QLatin1Char(kHexDigits[u & 0xF]);
        }
    }
    return out;
}

QString linkRequestUrl(const QString &songId, const QString &artist, const QString &title)
{
    return ServiceConfig::resource(kLinkResource) + encodeSongId(songId) +
           QStringLiteral("&songArtist=") + urlEncode(artist) + QStringLiteral("&songTitle=") +
           urlEncode(title);
}

QString cutSongLink(const QString &answer)
{
    const qsizetype at = answer.indexOf(kLinkMarker);
    if (at < 0)
        return QString();
    QString link = answer.mid(at + 1); // starts with: url":"
    // "&src=\" only counts inside the link itself: one in a later member
    // comes after the link member's end.
    const qsizetype src = link.indexOf(kSrcParam);
    const qsizetype memberEnd = link.indexOf(kMemberEnd);
    qsizetype end = src;
    if (end < 0 || (memberEnd >= 0 && memberEnd < end))
        end = memberEnd;
    if (end < 0) {
        // The last member: the link ends at its closing quote, not with the
        // answer's closing brace glued to it.
        const qsizetype valueStart = kLinkMarker.size() - 1;
        for (qsizetype i = valueStart; i < link.size(); ++i) {
            if (link.at(i) == u'"' && link.at(i - 1) != u'\\') {
                end = i;
                break;
            }
        }
    }
    if (end >= 0)
        link.truncate(end);
    link.remove(QLatin1Char('\\'));
    link.remove(QLatin1Char('"'));
    return link.mid(link.indexOf(QLatin1Char(':')) + 1);
}

bool isServiceLink(const QString &link)
{
    const QUrl url(link.trimmed(), QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty();
}

QString resolveSongLink(const QString &songId, const QString &artist, const QString &title,
                        LyricsView &lyrics, ResolveErrors *errors)
{
    const QString answer =
        fetchPage(linkRequestUrl(songId, artist, title), QStringLiteral("Utf-8"));
    const QString linkError = HttpClient::lastError();
    QString lyricError;
    // The lyric is loaded first, so it is ready when the caller starts playing.
    loadLyrics(answer, lyrics, &lyricError);
    if (errors) {
        errors->link = linkError;
        errors->lyrics = lyricError;
    }
    const QString link = cutSongLink(answer);
    return isServiceLink(link) ? link : QString();
}

} // namespace musicservice
