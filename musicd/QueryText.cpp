#include "musicd/QueryText.h"

namespace musicd {

QString decodePlayerQuery(const std::string &bytes)
{
    QString out;
    out.reserve(static_cast<qsizetype>(bytes.size()));
    const size_t n = bytes.size();
    for (size_t i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b >= 0xE0 && b <= 0xEF && i + 2 < n) {
            const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
            const auto b2 = static_cast<unsigned char>(bytes[i + 2]);
            if ((b1 & 0xC0) == 0x80 && (b2 & 0xC0) == 0x80) {
                out += QChar(
                    static_cast<char16_t>(((b & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F)));
                i += 2;
                continue;
            }
        }
        out += QChar(static_cast<char16_t>(b));
    }
    return out;
}

std::string encodePlayerQuery(const QString &text)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    auto escape = [&out](unsigned byte) {
        out += '%';
        out += kHex[(byte >> 4) & 0xF];
        out += kHex[byte & 0xF];
    };
    for (const QChar qc : text) {
        const unsigned u = qc.unicode();
        if (u > 255) {
            escape(0xE0 | (u >> 12));
            escape(0x80 | ((u >> 6) & 0x3F));
            escape(0x80 | (u & 0x3F));
        } else if ((u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z')) {
            out += static_cast<char>(u);
        } else {
            escape(u);
        }
    }
    return out;
}

QString htmlEscape(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'&':
            out += QLatin1String("&amp;");
            break;
        case u'<':
            out += QLatin1String("&lt;");
            break;
        case u'>':
            out += QLatin1String("&gt;");
            break;
        case u'"':
            out += QLatin1String("&quot;");
            break;
        case u'\'':
            out += QLatin1String("&#039;");
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString jsonEscape(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'"' || u == u'\\' || u == u'/') {
            out += QLatin1Char('\\');
            out += c;
        } else if (u < 0x20 || u > 0x7E) {
            out += QStringLiteral("\\u%1").arg(static_cast<uint>(u), 4, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out;
}

QString sanitisedHost(const std::string &header, const QString &fallback)
{
    // A host name, an IPv4 address or a bracketed IPv6 address, with a port.
    constexpr size_t kMaxHostLength = 255;
    if (header.empty() || header.size() > kMaxHostLength)
        return fallback;
    for (const char c : header) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '.' || c == '-' || c == ':' || c == '[' ||
                        c == ']';
        if (!ok)
            return fallback;
    }
    return QString::fromLatin1(header.data(), static_cast<qsizetype>(header.size()));
}

} // namespace musicd
