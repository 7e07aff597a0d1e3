// Where the music service lives. Every endpoint the client calls is built
// from one host; the compiled-in default is the bundled service on loopback,
// and --service URL or VELMOR_SERVICE_URL point the player and the CLI at any
// other host.
#pragma once

#include <QString>
#include <QStringList>

namespace ServiceConfig {

// http://127.0.0.1:<default port of velmor-musicd>
QString defaultHost();

// The host every endpoint is built on, without a trailing slash.
QString host();
void setHost(const QString &url);

// Picks the host from "--service URL" / "--service=URL" in args, else from
// VELMOR_SERVICE_URL, else the default. Returns what it picked.
QString configureFromArguments(const QStringList &args);

// Why url cannot name a music service ("" when it can): it must be an
// absolute http:// or https:// URL with a host, and nothing after the path
// (no query, no fragment, no user name). For the programs' --service checks,
// before anything is fetched.
QString serviceUrlProblem(const QString &url);

// The host for a program's command line: fromOption when it is not empty,
// else VELMOR_SERVICE_URL, else the default. A value that is no service URL
// is not taken: error then says which value was refused and why, and the
// host stays as it was. Returns whether the host was set.
bool configureHost(const QString &fromOption, QString *error);

// The endpoint string resources: 101 first search page, 102 link request,
// 103 later search pages, 104 the page parameter. Any other id gives "".
QString resource(int id);

// host + "/search/artist?key=" (the singer page, encoded name to follow).
QString singerPageUrl();
// host + "/ting/pic/item/": its presence on a singer page means a picture.
QString pictureServerPrefix();

} // namespace ServiceConfig
