// The library's tag reader over arbitrary file bytes: the first byte picks
// the format the bytes are read as, the rest is the file. Whatever TagLib
// makes of it, the tags that come out are clean (no control characters,
// bounded length) and a length is never negative; the embedded lyrics and
// cover readers get the same bytes and must come back.
#include "fuzz/FuzzCheck.h"
#include "musicd/library/TagReader.h"

#include <QStringList>
#include <cstdint>

using fuzz::check;

namespace {

bool clean(const QString &text)
{
    if (text.size() > 256 || text != text.trimmed())
        return false;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QStringList suffixes{QStringLiteral("mp3"), QStringLiteral("flac"),
                                      QStringLiteral("ogg"), QStringLiteral("opus"),
                                      QStringLiteral("m4a"), QStringLiteral("wav")};
    if (size < 1)
        return 0;
    const QString suffix = suffixes.at(data[0] % suffixes.size());
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    if (const std::optional<musicd::TrackTags> tags = musicd::TagReader::readBytes(bytes, suffix)) {
        check(clean(tags->title) && clean(tags->artist) && clean(tags->album));
        check(tags->durationSeconds >= 0);
    }
    const QString lyrics = musicd::TagReader::lyricsFromBytes(bytes, suffix);
    check(lyrics.size() <= 256 * 1024);
    return 0;
}
