// velmor-cli: the music-service client of the player on the command line,
// for scripts and for trying a service by hand.
#include "cli/CliCommands.h"
#include "service/ServiceConfig.h"

#include <QCoreApplication>
#include <QStringList>

namespace {

const char kUsage[] =
    "Usage: velmor-cli [--service URL] COMMAND ARGUMENTS\n"
    "\n"
    "Commands:\n"
    "  search WORDS...           every result page; one line per song:\n"
    "                            ID<TAB>title<TAB>singer<TAB>album (progress on stderr;\n"
    "                            Ctrl-C stops after the page being read)\n"
    "  link ID ARTIST TITLE      the song's playable link\n"
    "  lyrics ID ARTIST TITLE    the song's lyric lines, or 暂无歌词\n"
    "  picture SINGER            the singer picture's URL, or 无歌手信息\n"
    "  encode TEXT...            the text percent-encoded as a query value\n"
    "\n"
    "Options:\n"
    "  --service URL             the music service (default: VELMOR_SERVICE_URL,\n"
    "                            else the bundled service on 127.0.0.1)\n"
    "  -h, --help                this text\n"
    "\n"
    "Exit status: 0 done, 1 the service could not be read, 2 bad usage,\n"
    "3 no playable link, 130 stopped by Ctrl-C.\n";

int usageError(const QString &message)
{
    cli::printErr(QStringLiteral("velmor-cli: ") + message);
    cli::printErr(QStringLiteral("Try 'velmor-cli --help'."));
    return cli::kExitUsage;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);

    // Options come before the command; everything after it is its arguments.
    QStringList options;
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("-"))) {
        const QString option = args.takeFirst();
        if (option == QLatin1String("-h") || option == QLatin1String("--help")) {
            std::fputs(kUsage, stdout);
            return cli::kExitOk;
        }
        if (option == QLatin1String("--service")) {
            if (args.isEmpty())
                return usageError(QStringLiteral("--service needs a URL"));
            options << option << args.takeFirst();
        } else if (option.startsWith(QLatin1String("--service="))) {
            options << option;
        } else {
            return usageError(QStringLiteral("unknown option ") + option);
        }
    }
    ServiceConfig::configureFromArguments(options);

    if (args.isEmpty())
        return usageError(QStringLiteral("no command given"));
    const QString command = args.takeFirst();
    const auto needs = [&](qsizetype n) { return args.size() == n; };

    if (command == QLatin1String("search") && !args.isEmpty())
        return cli::search(args.join(QLatin1Char(' ')));
    if (command == QLatin1String("link") && needs(3))
        return cli::link(args.at(0), args.at(1), args.at(2));
    if (command == QLatin1String("lyrics") && needs(3))
        return cli::lyrics(args.at(0), args.at(1), args.at(2));
    if (command == QLatin1String("picture") && needs(1))
        return cli::picture(args.at(0));
    if (command == QLatin1String("encode") && !args.isEmpty())
        return cli::encode(args.join(QLatin1Char(' ')));

    static const QStringList known{QStringLiteral("search"), QStringLiteral("link"),
                                   QStringLiteral("lyrics"), QStringLiteral("picture"),
                                   QStringLiteral("encode")};
    if (!known.contains(command))
        return usageError(QStringLiteral("unknown command ") + command);
    return usageError(QStringLiteral("wrong number of arguments for ") + command);
}
