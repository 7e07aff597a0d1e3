// Page fetching and byte-to-text decoding for the music-service client.
#pragma once

#include "net/HttpClient.h"

#include <QByteArray>
#include <QString>

namespace musicservice {

// GET of the exact URL; the body, whatever the HTTP status, decoded in the
// named character set. "auto" looks for "charset=gb2312" (any letter case)
// in the first 1000 bytes and decodes in the system ANSI code page (GBK) if
// it is there, as UTF-8 otherwise. An empty body, and a transport failure,
// give empty text; HttpClient::lastError() then says what went wrong.
QString fetchPage(const QString &url, const QString &charset, const HttpLimits &limits = {});

// Bytes to text in a named character set (names are case-insensitive). A
// name nobody knows decodes as UTF-8. Invalid sequences become U+FFFD.
QString decodeBytes(const QByteArray &bytes, const QString &charset);

// The system ANSI code page of the player: GBK (Simplified Chinese).
QString decodeSystemAnsi(const QByteArray &bytes);

// GET decoded in the system ANSI code page.
QString httpGetAnsi(const QString &url);

} // namespace musicservice
