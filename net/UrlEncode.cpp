#include "net/UrlEncode.h"

namespace musicservice {
namespace {

void appendEscape(QString &out, unsigned byte)
{
    static const char kHex[] = "0123456789ABCDEF";
    out += QLatin1Char('%');
    out += QLatin1Char(kHex[(byte >> 4) & 0xF]);
    out += QLatin1Char(kHex[byte & 0xF]);
}

bool isAsciiAlnum(char16_t c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

} // namespace

QString urlEncode(QString text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' '))
        --end;

    QString out;
    out.reserve((end - begin) * 3);
    for (qsizetype i = begin; i < end; ++i) {
        const char16_t c = text.at(i).unicode();
        const unsigned u = c;
        if (u > 255) {
            // "1110" + bits 15..12, "10" + bits 11..6, "10" + bits 5..0.
            appendEscape(out, 0xE0 | (u >> 12));
            appendEscape(out, 0x80 | ((u >> 6) & 0x3F));
            appendEscape(out, 0x80 | (u & 0x3F));
        } else if (isAsciiAlnum(c)) {
            out += QChar(c);
        } else {
            appendEscape(out, u);
        }
    }
    return out;
}

} // namespace musicservice
