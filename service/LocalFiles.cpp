#include "service/LocalFiles.h"

#include "net/HttpClient.h"
#include "ownservice/FileIntakeToken.h"
#include "service/SearchPageParser.h"
#include "service/ServiceConfig.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace musicservice {

int loopbackPort(const QString &serviceUrl)
{
    const QUrl url(serviceUrl, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("http"))
        return -1;
    const QString host = url.host();
    // Qt's address class lives in the network library, which the player
    // opens only for https; the loopback names are few.
    const bool loopback = host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
                          host.startsWith(QLatin1String("127.")) || host == QLatin1String("::1");
    return loopback ? url.port(80) : -1;
}

QString localFileProblem(const QString &path, int status, const QString &networkError)
{
    const QString name = QFileInfo(path).fileName().isEmpty() ? path : QFileInfo(path).fileName();
    switch (status) {
    case 0:
        return QStringLiteral("无法添加本地文件：%1").arg(networkError);
    case 400:
    case 404:
        return QStringLiteral("没有可播放的音乐文件：%1").arg(name);
    case 403:
        return QStringLiteral("无法添加本地文件：音乐服务拒绝了请求");
    case 501:
        return QStringLiteral("无法添加本地文件：本机的音乐服务不接收文件");
    default:
        return QStringLiteral("无法添加本地文件：音乐服务回答 HTTP %1").arg(status);
    }
}

LocalFilesAnswer addLocalFiles(const QStringList &paths)
{
    LocalFilesAnswer answer;
    if (paths.isEmpty())
        return answer;
    const QString host = ServiceConfig::host();
    const int port = loopbackPort(host);
    if (port < 0) {
        answer.problem = QStringLiteral("无法添加本地文件：音乐服务 %1 不在本机").arg(host);
        return answer;
    }
    const QByteArray token = FileIntakeToken::read(port);
    if (token.isEmpty()) {
        answer.problem = localFileProblem(QString(), 501, QString());
        return answer;
    }
    for (const QString &path : paths) {
        const QByteArray bytes = QFile::encodeName(QFileInfo(path).absoluteFilePath());
        const HttpResult result = HttpClient::get(
            host + QStringLiteral("/local/add?token=") + QString::fromLatin1(token) +
            QStringLiteral("&path=") + QString::fromLatin1(bytes.toHex()));
        const QList<SearchResult> songs = result.ok && result.status == 200
                                              ? parseSearchPage(QString::fromUtf8(result.body))
                                              : QList<SearchResult>();
        if (songs.isEmpty() && answer.problem.isEmpty())
            answer.problem = localFileProblem(
                path, result.ok ? (result.status == 200 ? 404 : result.status) : 0, result.error);
        answer.songs += songs;
    }
    return answer;
}

} // namespace musicservice
