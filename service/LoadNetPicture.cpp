// The singer page is searched with substring cuts like every other service
// page: past the first cover image, the first URL that ends in ".jpg". That
// the URL found need not be the one on the picture server is how the page
// has always been read.
#include "service/LoadNetPicture.h"

#include "net/HttpClient.h"
#include "net/UrlEncode.h"
#include "service/FetchPage.h"
#include "service/ServiceConfig.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>
#include <QUrl>

namespace LoadNetPicture {
namespace {

// The cover image element of the singer page.
const QString kCoverMarker = QStringLiteral("cover-img");
// The scheme that starts the picture URL.
const QString kHttpScheme = QStringLiteral("http://");
// The extension that ends it.
const QString kJpgExtension = QStringLiteral(".jpg");

bool isWebUrl(const QString &path)
{
    return path.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
           path.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

} // namespace

QString cutSingerPictureUrl(const QString &page, const QString &pictureServerPrefix)
{
    if (pictureServerPrefix.isEmpty() || !page.contains(pictureServerPrefix))
        return kNoSingerInfo;
    QStringView rest(page);
    const qsizetype cover = rest.indexOf(kCoverMarker);
    if (cover >= 0)
        rest = rest.mid(cover + 1);
    const qsizetype http = rest.indexOf(kHttpScheme);
    if (http < 0)
        return kNoSingerInfo;
    rest = rest.mid(http);
    const qsizetype jpg = rest.indexOf(kJpgExtension);
    if (jpg < 0)
        return kNoSingerInfo;
    // When the cover is not a JPEG the first ".jpg" belongs to a later
    // image; its URL starts at the last scheme before it, not at the cover's.
    const qsizetype start = rest.left(jpg).lastIndexOf(kHttpScheme);
    return rest.mid(start, jpg - start).toString() + kJpgExtension;
}

QString singerPictureUrl(const QString &singer)
{
    const QString page = musicservice::fetchPage(
        ServiceConfig::singerPageUrl() + musicservice::urlEncode(singer), QStringLiteral("utf-8"));
    return cutSingerPictureUrl(page, ServiceConfig::pictureServerPrefix());
}

QImage loadPictureFromPath(const QString &path)
{
    if (path.isEmpty() || path == kNoSingerInfo)
        return QImage();
    if (isWebUrl(path)) {
        const HttpResult r = HttpClient::get(path);
        if (!r.ok || r.body.isEmpty())
            return QImage();
        QByteArray body = r.body;
        QBuffer buffer(&body);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        return reader.read();
    }
    const QString file = path.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)
                             ? QUrl(path).toLocalFile()
                             : path;
    if (!QFileInfo(file).isFile())
        return QImage();
    QImageReader reader(file);
    return reader.read();
}

} // namespace LoadNetPicture
