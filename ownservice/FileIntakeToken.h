// The secret that lets this user's player hand files to this user's own
// velmor-musicd. The service makes a fresh one each run and leaves it in the
// user's runtime folder, readable by the user alone; the player reads it and
// sends it with every file it asks the service to take. A loopback port is
// open to every user of the machine and a page in a browser can reach it
// too, so the loopback address alone must not let a request name a path the
// service then reads.
#pragma once

#include <QByteArray>
#include <QString>

namespace FileIntakeToken {

// Hex characters in a token.
inline constexpr int kLength = 32;

// <runtime folder>/musicd-<port>.token: one per service, by port ("" when
// the runtime folder is not safe to use).
QString path(int port);
// A new token from the system's random source.
QByteArray create();
// Writes the token for port (mode 0600, replacing an older file at once).
bool write(int port, const QByteArray &token, QString *error = nullptr);
// The token of the service on port, "" when there is none, it is not this
// user's own file, or it does not look like a token.
QByteArray read(int port);
void remove(int port);

} // namespace FileIntakeToken
