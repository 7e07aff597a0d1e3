#include "service/FetchPage.h"

#include "net/HttpClient.h"

#include <QStringDecoder>

namespace musicservice {

QString decodeBytes(const QByteArray &bytes, const QString &charset)
{
    if (bytes.isEmpty())
        return QString();
    QStringDecoder decoder(charset.trimmed().toLatin1().constData());
    if (!decoder.isValid())
        decoder = QStringDecoder(QStringDecoder::Utf8);
    return decoder.decode(bytes);
}

QString decodeSystemAnsi(const QByteArray &bytes)
{
    return decodeBytes(bytes, QStringLiteral("GBK"));
}

QString fetchPage(const QString &url, const QString &charset, const HttpLimits &limits)
{
    const HttpResult r = HttpClient::get(url, limits);
    const QByteArray &body = r.body;
    if (body.isEmpty())
        return QString();
    if (charset == QLatin1String("auto")) {
        const QString head = decodeSystemAnsi(body.left(1000)).toLower();
        if (head.contains(QLatin1String("charset=gb2312")))
            return decodeSystemAnsi(body);
        return decodeBytes(body, QStringLiteral("UTF-8"));
    }
    return decodeBytes(body, charset);
}

QString httpGetAnsi(const QString &url)
{
    return decodeSystemAnsi(HttpClient::get(url).body);
}

} // namespace musicservice
