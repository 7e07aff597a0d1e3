// LRC splitting over arbitrary lyric bytes. Every entry starts with the one
// "[" that split it off and holds no other, no entry is blank, and the
// entries together are never longer than the text they came from (plus the
// "[" given to a first piece without one).
#include "fuzz/FuzzCheck.h"
#include "service/FetchPage.h"
#include "service/LoadLyrics.h"

#include <cstdint>

using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = musicservice::decodeBytes(bytes, QStringLiteral("utf-8"));
    const QStringList entries = musicservice::splitLrc(text);

    check(entries.size() <= text.count(QLatin1Char('[')) + 1);
    qsizetype total = 0;
    for (const QString &entry : entries) {
        check(entry.size() >= 2 && entry.front() == u'[');
        check(entry.lastIndexOf(QLatin1Char('[')) == 0);
        check(entry.back() != u' ');
        total += entry.size();
    }
    check(total <= text.size() + 1);
    return 0;
}
