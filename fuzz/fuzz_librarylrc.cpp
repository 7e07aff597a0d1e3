// The library's lyric reader over arbitrary sidecar bytes: decoded (UTF-8,
// BOM, GBK) and turned into what the service sends. The answer is empty or
// valid UTF-8 lines, each ending in CR LF, none blank, none holding a
// control character; plain text always comes back with a time tag on every
// line.
#include "fuzz/FuzzCheck.h"
#include "musicd/LyricText.h"

#include <QStringDecoder>
#include <QStringList>
#include <cstdint>

using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int seconds = data[0]; // the song's length
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const QString text = musicd::LyricText::decode(bytes);
    const QByteArray served = musicd::LyricText::served(text, seconds);
    if (served.isEmpty())
        return 0;

    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString out = utf8.decode(served);
    check(!utf8.hasError());
    check(out.endsWith(QLatin1String("\r\n")));
    const bool timed = musicd::LyricText::hasTimeTags(text);
    const QStringList lines = out.chopped(2).split(QStringLiteral("\r\n"));
    for (const QString &line : lines) {
        check(!line.trimmed().isEmpty());
        for (const QChar c : line)
            check(c.unicode() >= 0x20 && c.unicode() != 0x7F);
        if (!timed)
            check(musicd::LyricText::hasTimeTags(line) && line.startsWith(u'['));
    }
    return 0;
}
