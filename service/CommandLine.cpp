#include "service/CommandLine.h"

#include "service/ServiceConfig.h"

#include <cstdio>

namespace commandline {
namespace {

#define VELMOR_STRINGIFY2(x) #x
#define VELMOR_STRINGIFY(x) VELMOR_STRINGIFY2(x)

void write(std::FILE *out, const QString &text)
{
    QByteArray bytes = text.toUtf8();
    if (!bytes.endsWith('\n'))
        bytes += '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out);
    std::fflush(out);
}

} // namespace

QString versionNumber()
{
    return QStringLiteral(VELMOR_STRINGIFY(VELMOR_VERSION_MAJOR) "." VELMOR_STRINGIFY(
        VELMOR_VERSION_MINOR) "." VELMOR_STRINGIFY(VELMOR_VERSION_PATCH));
}

QCommandLineOption serviceOption()
{
    return QCommandLineOption(
        QStringLiteral("service"),
        QStringLiteral("The music service (default: VELMOR_SERVICE_URL, else the server chosen "
                       "in the player's 音乐库 dialog, else this user's own velmor-musicd)."),
        QStringLiteral("URL"));
}

void addHelpAndVersion(QCommandLineParser &parser)
{
    // Our own options rather than addHelpOption()/addVersionOption(): those
    // print through the application object and call exit() themselves.
    parser.addOption(QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Show this help.")));
    parser.addOption(QCommandLineOption({QStringLiteral("v"), QStringLiteral("version")},
                                        QStringLiteral("Show the version.")));
}

QString helpText(const QCommandLineParser &parser, const QString &program)
{
    QString text = parser.helpText();
    // Without an application object the parser cannot know the program's
    // name; with one it would print the path it was started by.
    const qsizetype lineEnd = text.indexOf(QLatin1Char('\n'));
    QString first = text.left(lineEnd);
    const QString usage = QStringLiteral("Usage: ");
    if (first.startsWith(usage)) {
        const qsizetype nameEnd = first.indexOf(QLatin1Char(' '), usage.size());
        first = usage + program + (nameEnd < 0 ? QString() : first.mid(nameEnd));
        text = first + text.mid(lineEnd);
    }
    return text;
}

Result parse(QCommandLineParser &parser, const QStringList &args, const QString &program)
{
    Result result;
    if (!parser.parse(args)) {
        result.outcome = Outcome::UsageError;
        result.text = parser.errorText();
        return result;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        result.outcome = Outcome::Help;
        result.text = helpText(parser, program);
    } else if (parser.isSet(QStringLiteral("version"))) {
        result.outcome = Outcome::Version;
        result.text = program + QLatin1Char(' ') + versionNumber();
    }
    return result;
}

int report(const Result &result, const QString &program)
{
    switch (result.outcome) {
    case Outcome::Proceed:
        return 0;
    case Outcome::Help:
    case Outcome::Version:
        write(stdout, result.text);
        return 0;
    case Outcome::UsageError:
        write(stderr, program + QStringLiteral(": ") + result.text);
        write(stderr, QStringLiteral("Try '%1 --help'.").arg(program));
        return kExitUsage;
    }
    return 0;
}

QStringList argumentsOf(int argc, char **argv)
{
    QStringList args;
    args.reserve(argc);
    for (int i = 0; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    return args;
}

} // namespace commandline
