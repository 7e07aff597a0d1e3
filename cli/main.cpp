// velmor-cli: the music-service client of the player on the command line,
// for scripts and for trying a service by hand.
#include "cli/CliCommands.h"
#include "ownservice/LibrarySettings.h"
#include "ownservice/OwnService.h"
#include "service/CommandLine.h"
#include "service/ServiceConfig.h"

#include <QCoreApplication>
#include <QHash>
#include <QStringList>
#include <functional>

namespace {

const QString kProgram = QStringLiteral("velmor-cli");

const char kDescription[] =
    "The music service's client: search, links, lyrics and pictures.\n"
    "\n"
    "Commands (velmor-cli COMMAND --help for each):\n"
    "  search WORDS...           every result page; one line per song:\n"
    "                            ID<TAB>title<TAB>singer<TAB>album (progress on stderr;\n"
    "                            Ctrl-C stops after the page being read)\n"
    "  link ID ARTIST TITLE      the song's playable link\n"
    "  lyrics ID ARTIST TITLE    the song's lyric lines, or 暂无歌词\n"
    "  picture SINGER            the singer picture's URL, or 无歌手信息\n"
    "  encode TEXT...            the text percent-encoded as a query value\n"
    "\n"
    "Arguments that begin with '-' follow '--' (velmor-cli search -- -1).\n"
    "The service: --service URL, else VELMOR_SERVICE_URL, else the server chosen\n"
    "in the player's music library (音乐库), else this user's own velmor-musicd\n"
    "(the one the player started or the systemd user unit runs), else the\n"
    "default address.\n"
    "Exit status: 0 done, 1 the service could not be read, 2 bad usage,\n"
    "3 no playable link, 130 stopped by Ctrl-C.";

struct Command
{
    const char *name;
    const char *description;
    QStringList arguments; // names shown in the help; "WORDS..." takes one or more
    std::function<int(const QStringList &)> run;
};

QList<Command> commands()
{
    const auto joined = [](const QStringList &a) { return a.join(QLatin1Char(' ')); };
    return {
        {"search",
         "Every result page of the search; one line per song: ID, title, singer, album.",
         {QStringLiteral("WORDS...")},
         [joined](const QStringList &a) { return cli::search(joined(a)); }},
        {"link",
         "The song's playable link.",
         {QStringLiteral("ID"), QStringLiteral("ARTIST"), QStringLiteral("TITLE")},
         [](const QStringList &a) { return cli::link(a.at(0), a.at(1), a.at(2)); }},
        {"lyrics",
         "The song's lyric lines, or 暂无歌词.",
         {QStringLiteral("ID"), QStringLiteral("ARTIST"), QStringLiteral("TITLE")},
         [](const QStringList &a) { return cli::lyrics(a.at(0), a.at(1), a.at(2)); }},
        {"picture",
         "The singer picture's URL, or 无歌手信息.",
         {QStringLiteral("SINGER")},
         [](const QStringList &a) { return cli::picture(a.at(0)); }},
        {"encode",
         "The text percent-encoded as a query value.",
         {QStringLiteral("TEXT...")},
         [joined](const QStringList &a) { return cli::encode(joined(a)); }},
    };
}

// What an argument of a command is, for the command's help.
QString argumentHelp(const QString &argument)
{
    static const QHash<QString, QString> help{
        {QStringLiteral("WORDS..."),
         QStringLiteral("The words to search for (song, singer or album).")},
        {QStringLiteral("ID"), QStringLiteral("The song's ID, as search prints it first.")},
        {QStringLiteral("ARTIST"), QStringLiteral("The song's singer.")},
        {QStringLiteral("TITLE"), QStringLiteral("The song's title.")},
        {QStringLiteral("SINGER"), QStringLiteral("The singer's name.")},
        {QStringLiteral("TEXT..."),
         QStringLiteral("The text to encode; several are joined by spaces.")},
    };
    return help.value(argument);
}

int usageError(const QString &message, const QString &program)
{
    return commandline::report({commandline::Outcome::UsageError, message}, program);
}

// The command's own command line: its --help, its arguments.
int runCommand(const Command &command, const QStringList &args)
{
    const QString name = QString::fromLatin1(command.name);
    const QString program = kProgram + QLatin1Char(' ') + name;
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(command.description));
    parser.addOption(QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Show this help.")));
    for (const QString &argument : command.arguments)
        parser.addPositionalArgument(argument, argumentHelp(argument));
    if (!parser.parse(QStringList{program} + args))
        return usageError(parser.errorText(), program);
    if (parser.isSet(QStringLiteral("help")))
        return commandline::report(
            {commandline::Outcome::Help, commandline::helpText(parser, program)}, program);

    const QStringList values = parser.positionalArguments();
    const bool many = command.arguments.size() == 1 && command.arguments.first().endsWith(u"...");
    if (many ? values.isEmpty() : values.size() != command.arguments.size()) {
        return usageError(QStringLiteral("wrong number of arguments for %1 (%2 expected)")
                              .arg(name, command.arguments.join(QLatin1Char(' '))),
                          program);
    }
    return command.run(values);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    commandline::addHelpAndVersion(parser);
    const QCommandLineOption service = commandline::serviceOption();
    parser.addOption(service);
    parser.addPositionalArgument(QStringLiteral("COMMAND"), QStringLiteral("What to do (above)."),
                                 QStringLiteral("COMMAND [ARGUMENTS...]"));
    // Options after the command are the command's own.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);

    const commandline::Result result =
        commandline::parse(parser, commandline::argumentsOf(argc, argv), kProgram);
    if (result.outcome != commandline::Outcome::Proceed)
        return commandline::report(result, kProgram);

    QString error;
    if (!ServiceConfig::configureHost(parser.value(service), &error))
        return usageError(error, kProgram);
    if (parser.value(service).trimmed().isEmpty() &&
        qEnvironmentVariable("VELMOR_SERVICE_URL").trimmed().isEmpty()) {
        // As the player finds it, without starting one: a script asking a
        // question should not leave a service behind.
        const LibraryChoice choice =
            LibrarySettingsFile::read(LibrarySettingsFile::defaultPath()).choice;
        const QString own = choice.usesOwnService() ? ownservice::findRunning() : choice.server;
        if (!own.isEmpty())
            ServiceConfig::setHost(own);
    }

    QStringList args = parser.positionalArguments();
    if (args.isEmpty())
        return usageError(QStringLiteral("no command given"), kProgram);
    const QString name = args.takeFirst();
    for (const Command &command : commands()) {
        if (name == QLatin1String(command.name))
            return runCommand(command, args);
    }
    return usageError(QStringLiteral("unknown command ") + name, kProgram);
}
