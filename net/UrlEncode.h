// Percent-encoding of query values (search words, singer names, titles).
#pragma once

#include <QString>

namespace musicservice {

// Trims U+0020 at both ends, keeps ASCII letters and digits, writes every
// other code up to 255 as one %XX escape of its own value, and every code
// above 255 as the three-byte %XX%XX%XX pattern of its 16-bit value. Codes
// U+0100..U+07FF therefore take three bytes and U+0080..U+00FF a single
// escape: that is what the service expects, not textbook UTF-8. Surrogate
// units are encoded one by one.
QString urlEncode(QString text);

} // namespace musicservice
