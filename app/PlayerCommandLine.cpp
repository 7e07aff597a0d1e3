#include "app/PlayerCommandLine.h"

#include "service/ServiceConfig.h"

#include <QDir>
#include <QFileInfo>

namespace {

// Options of the toolkit's application object, accepted here so that the
// parse does not refuse them; the application object reads them later.
const char *const kToolkitValueOptions[] = {"platform",
                                            "platformpluginpath",
                                            "platformtheme",
                                            "plugin",
                                            "qwindowgeometry",
                                            "qwindowicon",
                                            "qwindowtitle",
                                            "display",
                                            "geometry",
                                            "style",
                                            "stylesheet",
                                            "session",
                                            "name",
                                            "title"};
const char *const kToolkitFlags[] = {"reverse", "nograb", "dograb", "sync", "widgetcount"};

} // namespace

PlayerOptions parsePlayerCommandLine(const QStringList &args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Velmor Music Player: search the music service, play, follow the lyrics.\n"
                       "A second start hands its command line to the running player, which "
                       "comes to the front.\n"
                       "Without --service the music comes from the server chosen in the\n"
                       "window's 音乐库 (music library) dialog, else from this user's own\n"
                       "velmor-musicd: the one running (the systemd user unit, a terminal),\n"
                       "or one the player starts on the dialog's folders (by default the\n"
                       "music folder) and stops when it exits."));
    // "-platform xcb" is one option, as the toolkit spells it.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    commandline::addHelpAndVersion(parser);
    const QCommandLineOption service = commandline::serviceOption();
    const QCommandLineOption newInstance(
        QStringLiteral("new-instance"),
        QStringLiteral("Start a player of its own even when one is running."));
    parser.addOption(service);
    parser.addOption(newInstance);
    parser.addPositionalArgument(
        QStringLiteral("FILE|FOLDER"),
        QStringLiteral("Audio files, or folders of them, to add to the playlist and play."),
        QStringLiteral("[FILE|FOLDER...]"));
    for (const char *name : kToolkitValueOptions) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char *name : kToolkitFlags) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    PlayerOptions options;
    options.result = commandline::parse(parser, args, kPlayerProgram);
    if (options.result.outcome != commandline::Outcome::Proceed)
        return options;
    for (const QString &path : parser.positionalArguments()) {
        const QFileInfo file(path);
        if (!file.exists()) {
            options.result = {commandline::Outcome::UsageError,
                              QStringLiteral("no such file or folder: '%1'").arg(path)};
            return options;
        }
        options.files.append(QDir::cleanPath(file.absoluteFilePath()));
    }
    QString error;
    if (!ServiceConfig::configureHost(parser.value(service), &error)) {
        options.result = {commandline::Outcome::UsageError, error};
        return options;
    }
    options.newInstance = parser.isSet(newInstance);
    options.serviceNamed = !parser.value(service).trimmed().isEmpty() ||
                           !qEnvironmentVariable("VELMOR_SERVICE_URL").trimmed().isEmpty();
    return options;
}

QStringList handedArguments(const QStringList &args, const PlayerOptions &options)
{
    return QStringList{args.value(0, kPlayerProgram)} + options.files;
}

QStringList handedFiles(const QStringList &handed)
{
    QStringList files;
    for (const QString &arg : handed) {
        if (QFileInfo(arg).isAbsolute())
            files.append(arg);
    }
    return files;
}
