// The player's command line: --service URL, --new-instance, --help and
// --version, and the toolkit's own display options (-platform, -display,
// -style...), which the application object takes out again afterwards.
// Read before any application object exists, so --help, --version and a
// bad command line need no display.
#pragma once

#include "service/CommandLine.h"

struct PlayerOptions
{
    commandline::Result result;
    // --new-instance: start a player of its own even when one is running.
    bool newInstance = false;
    // --service or VELMOR_SERVICE_URL named the service; otherwise the
    // player finds or starts this user's own (OwnServiceController).
    bool serviceNamed = false;
};

// The program's name in messages and help.
inline const QString kPlayerProgram = QStringLiteral("velmor");

// Parses args (args[0] the program) and, when it can go on, sets the music
// service's host from --service or VELMOR_SERVICE_URL (ServiceConfig). A
// service that is no http(s) URL and stray arguments are usage errors.
PlayerOptions parsePlayerCommandLine(const QStringList &args);
