#include "service/ServiceConfig.h"

#include <QUrl>
#include <QtGlobal>

namespace ServiceConfig {
namespace {

QString &currentHost()
{
    static QString h = defaultHost();
    return h;
}

QString normalised(QString url)
{
    url = url.trimmed();
    while (url.endsWith(QLatin1Char('/')))
        url.chop(1);
    return url;
}

} // namespace

QString defaultHost()
{
    return QStringLiteral("http://127.0.0.1:%1").arg(VELMOR_DEFAULT_PORT);
}

QString host()
{
    return currentHost();
}

void setHost(const QString &url)
{
    const QString h = normalised(url);
    currentHost() = h.isEmpty() ? defaultHost() : h;
}

QString configureFromArguments(const QStringList &args)
{
    QString chosen;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        if (a == QLatin1String("--service") && i + 1 < args.size()) {
            chosen = args.at(i + 1);
            break;
        }
        if (a.startsWith(QLatin1String("--service="))) {
            chosen = a.mid(10);
            break;
        }
    }
    if (chosen.isEmpty())
        chosen = qEnvironmentVariable("VELMOR_SERVICE_URL");
    setHost(chosen);
    return host();
}

QString serviceUrlProblem(const QString &url)
{
    const QString text = url.trimmed();
    if (text.isEmpty())
        return QStringLiteral("no URL given");
    const QUrl parsed(text, QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return QStringLiteral("not an http:// or https:// URL");
    if (parsed.host().isEmpty())
        return QStringLiteral("the URL names no host");
    if (parsed.hasQuery() || parsed.hasFragment() || !parsed.userInfo().isEmpty())
        return QStringLiteral("the URL must end at its path (no query, fragment or user name)");
    return QString();
}

bool configureHost(const QString &fromOption, QString *error)
{
    QString source = QStringLiteral("--service");
    QString chosen = fromOption;
    if (chosen.isEmpty()) {
        source = QStringLiteral("VELMOR_SERVICE_URL");
        chosen = qEnvironmentVariable("VELMOR_SERVICE_URL");
    }
    if (chosen.trimmed().isEmpty()) {
        setHost(QString());
        return true;
    }
    const QString problem = serviceUrlProblem(chosen);
    if (!problem.isEmpty()) {
        if (error) {
            *error = QStringLiteral("%1 \"%2\" is refused: %3 (for example %4)")
                         .arg(source, chosen, problem, defaultHost());
        }
        return false;
    }
    setHost(chosen);
    return true;
}

QString resource(int id)
{
    switch (id) {
    case 101:
    case 103:
        return host() + QStringLiteral("/app/search/searchList.php?qword=");
    case 102:
        return host() + QStringLiteral("/app/link/getLinks.php?songId=");
    case 104:
        return QStringLiteral("&page=");
    default:
        return QString();
    }
}

QString singerPageUrl()
{
    return host() + QStringLiteral("/search/artist?key=");
}

QString pictureServerPrefix()
{
    return host() + QStringLiteral("/ting/pic/item/");
}

} // namespace ServiceConfig
