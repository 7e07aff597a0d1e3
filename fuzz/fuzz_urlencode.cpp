// urlEncode over arbitrary UTF-16 input: every output character must be an
// ASCII letter, a digit or '%', and a text of spaces encodes to nothing.
#include "net/UrlEncode.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QString in(qsizetype(size / 2), Qt::Uninitialized);
    std::memcpy(in.data(), data, size_t(in.size()) * 2);
    const QString out = musicservice::urlEncode(in);
    for (QChar c : out) {
        const char16_t u = c.unicode();
        const bool ok = (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'Z') ||
                        (u >= u'a' && u <= u'z') || u == u'%';
        if (!ok)
            std::abort();
    }
    if (in.count(QLatin1Char(' ')) == in.size() && !out.isEmpty())
        std::abort(); // a text of spaces only encodes to nothing
    return 0;
}
