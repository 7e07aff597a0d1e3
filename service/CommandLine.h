// What the three programs share in reading their command lines with
// QCommandLineParser: --help and --version go to stdout with status 0, a bad
// command line to stderr with status 2 and a pointer to --help. Parsing
// needs no application object (the player reads its command line before it
// opens a display), so the programs' names and version are passed in.
#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

namespace commandline {

// Exit status of a command line that cannot be used.
inline constexpr int kExitUsage = 2;

enum class Outcome {
    Proceed,    // parsed; the program goes on
    Help,       // text is the help to print
    Version,    // text is the version line to print
    UsageError, // text is what is wrong
};

struct Result
{
    Outcome outcome = Outcome::Proceed;
    QString text;
};

// "1.0.0": the version every program reports.
QString versionNumber();

// Adds -h/--help and -v/--version to parser; returns the two options.
void addHelpAndVersion(QCommandLineParser &parser);

// --service URL, the music service's host, as the player and the CLI both
// take it.
QCommandLineOption serviceOption();

// Parses args (args[0] is the program as started) with parser, which
// addHelpAndVersion has prepared. The help text names program, whatever
// args[0] says.
Result parse(QCommandLineParser &parser, const QStringList &args, const QString &program);

// The parser's help text with "Usage: <program>" in its first line.
QString helpText(const QCommandLineParser &parser, const QString &program);

// Prints what a Help, Version or UsageError result says and returns the
// process's exit status (0, 0, 2). Proceed prints nothing and returns 0.
int report(const Result &result, const QString &program);

// The command line of the running process, for parsing before an
// application object exists.
QStringList argumentsOf(int argc, char **argv);

} // namespace commandline
