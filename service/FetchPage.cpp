#include "service/FetchPage.h"

#include "service/HttpClient.h"

#include <QStringDecoder>

namespace GetMusicList {

QString DecodeBytes(const QByteArray &bytes, const QString &charset)
{
    if (bytes.isEmpty())
        return QString();
    QStringDecoder decoder(charset.trimmed().toLatin1().constData());
    if (!decoder.isValid())
        decoder = QStringDecoder(QStringDecoder::Utf8);
    return decoder.decode(bytes);
}

QString DecodeSystemAnsi(const QByteArray &bytes)
{
    return DecodeBytes(bytes, QStringLiteral("GBK"));
}

QString FetchPage(const QString &url, const QString &charset)
{
    const HttpResult r = HttpClient::get(url);
    const QByteArray &body = r.body;
    if (body.isEmpty())
        return QString();
    if (charset == QLatin1String("auto")) {
        const QString head = DecodeSystemAnsi(body.left(1000)).toLower();
        if (head.contains(QLatin1String("charset=gb2312")))
            return DecodeSystemAnsi(body);
        return DecodeBytes(body, QStringLiteral("UTF-8"));
    }
    return DecodeBytes(body, charset);
}

QString HttpGetAnsi(const QString &url)
{
    return DecodeSystemAnsi(HttpClient::get(url).body);
}

} // namespace GetMusicList
