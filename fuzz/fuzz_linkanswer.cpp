// The link-answer cutters over arbitrary answer bytes: the playable link
// and the lyric URL. Whatever the answer, neither keeps a quote or a
// backslash (which would end up in the player's request), the lyric URL
// ends before any comma, and "no lyric member" is told apart from "an
// empty one" exactly by the member's name being absent.
#include "fuzz/FuzzCheck.h"
#include "service/FetchPage.h"
#include "service/LoadLyrics.h"
#include "service/ResolveSongLink.h"

#include <cstdint>

namespace {

bool hasEscapes(const QString &s)
{
    return s.contains(QLatin1Char('"')) || s.contains(QLatin1Char('\\'));
}

} // namespace

using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace musicservice;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString answer = decodeBytes(bytes, QStringLiteral("Utf-8"));

    const QString link = cutSongLink(answer);
    check(!hasEscapes(link));
    check(link.isEmpty() || answer.contains(QStringLiteral("\"url\":\"")));

    const std::optional<QString> lyric = cutLyricUrl(answer);
    check(lyric.has_value() == answer.contains(QStringLiteral("lyric_url")));
    if (lyric) {
        check(!hasEscapes(*lyric) && !lyric->contains(QLatin1Char(',')));
        (void)isLrcUrl(*lyric);
    }

    // The same bytes as a song ID cut from a page: only URL-safe characters
    // go into the link request.
    for (QChar c : encodeSongId(answer.left(256))) {
        const char16_t u = c.unicode();
        check((u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') ||
              u == u'-' || u == u'_' || u == u'.' || u == u'%');
    }
    return 0;
}
