// The player's command line: audio files and folders to play, --service URL,
// --new-instance, --help and
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
    // The files and folders to add and play, absolute.
    QStringList files;
};

// The program's name in messages and help.
inline const QString kPlayerProgram = QStringLiteral("velmor");

// Parses args (args[0] the program) and, when it can go on, sets the music
// service's host from --service or VELMOR_SERVICE_URL (ServiceConfig). A
// service that is no http(s) URL and a file or folder that does not exist
// are usage errors.
PlayerOptions parsePlayerCommandLine(const QStringList &args);

// What a start hands a running player: its program and the absolute paths
// of its files (relative ones would name other files in the running
// player's folder).
QStringList handedArguments(const QStringList &args, const PlayerOptions &options);
// The files in arguments handed over by a later start (program left out).
QStringList handedFiles(const QStringList &handed);
