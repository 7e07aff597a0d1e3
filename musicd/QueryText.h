// Text in and out of velmor-musicd's pages: query values as the player
// percent-encodes them, and the escaping of names inside HTML and JSON.
#pragma once

#include <QString>
#include <string>

namespace musicd {

// Query bytes (already percent-decoded by the HTTP server) back to text in
// the player's scheme: bytes below 0x80 are ASCII; a byte 1110xxxx followed
// by two bytes 10xxxxxx is one 16-bit code unit, whatever its value (the
// player writes U+0100..U+07FF and surrogates that way too, which no UTF-8
// decoder accepts); any other byte is the Latin-1 character of its value.
QString decodePlayerQuery(const std::string &bytes);

// The inverse, for links the pages carry: ASCII letters and digits kept,
// codes up to 255 as %XX, higher codes as three %XX bytes.
std::string encodePlayerQuery(const QString &text);

// HTML text and attribute values: & < > " ' as entities, "'" as "&#039;"
// and "&" as "&amp;" the way the service's page generator writes them.
QString htmlEscape(const QString &text);

// A JSON string body (no surrounding quotes): quotes and backslashes
// escaped, slashes as "\/", everything outside ASCII as \uXXXX.
QString jsonEscape(const QString &text);

// The Host header if it is a plausible host[:port], else the fallback: the
// host goes into every absolute URL the service writes, so arbitrary header
// text must never reach a page.
QString sanitisedHost(const std::string &header, const QString &fallback);

} // namespace musicd
