#include "musicd/SingerPage.h"

#include "musicd/QueryText.h"

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <cmath>

namespace musicd {
namespace {

const QString kCrLf = QStringLiteral("\r\n");
constexpr int kPictureSize = 300;
constexpr int kJpegQuality = 88;
// Sides beyond this are not decoded at all (a picture of the band is never
// that large; a decompression bomb is).
constexpr int kMaxSourceSide = 12000;

QString pageHead(const QString &title)
{
    return QStringLiteral("<!DOCTYPE html>\r\n"
                          "<html>\r\n"
                          "<head>\r\n"
                          "\t<meta charset=\"utf-8\" />\r\n"
                          "\t<title>%1 - 夜航音乐</title>\r\n"
                          "\t<link rel=\"stylesheet\" href=\"/static/css/artist.css\" />\r\n"
                          "</head>\r\n"
                          "<body>\r\n")
        .arg(title);
}

} // namespace

QByteArray singerPageHtml(const SingerEntry *entry, const QString &query, const QString &host)
{
    if (!entry) {
        QString html = pageHead(htmlEscape(query));
        html += QStringLiteral("<div class=\"search-artist\">") + kCrLf;
        html += QStringLiteral("\t<p class=\"no-result\">很抱歉，没有找到与“%1”相关的歌手。</p>")
                    .arg(htmlEscape(query)) +
                kCrLf;
        html += QStringLiteral("</div>") + kCrLf + QStringLiteral("</body>") + kCrLf +
                QStringLiteral("</html>") + kCrLf;
        return html.toUtf8();
    }

    const Singer *singer = &entry->singer;
    const QString name = htmlEscape(singer->name);
    QString html = pageHead(name);
    html += QStringLiteral("<div class=\"search-artist\">") + kCrLf;
    html += QStringLiteral("\t<div class=\"artist-item\">") + kCrLf;
    if (singer->hasPicture) {
        const QString src = QStringLiteral("http://") + host + QLatin1String(kPicturePath) +
                            singer->pictureKey + QStringLiteral(".jpg");
        html += QStringLiteral("\t\t<a class=\"cover-img\" href=\"/artist/%1\" title=\"%2\">"
                               "<img src=\"%3\" width=\"240\" height=\"240\" alt=\"%2\" /></a>")
                    .arg(singer->pictureKey, name, src) +
                kCrLf;
    } else {
        html += QStringLiteral("\t\t<a class=\"cover-img no-pic\" href=\"/artist/%1\" title=\"%2\">"
                               "<span>暂无图片</span></a>")
                    .arg(singer->pictureKey, name) +
                kCrLf;
    }
    html += QStringLiteral("\t\t<div class=\"artist-info\">") + kCrLf;
    html += QStringLiteral("\t\t\t<h2 class=\"artist-name\">%1</h2>").arg(name) + kCrLf;
    html += QStringLiteral("\t\t\t<ul class=\"artist-songs\">") + kCrLf;
    for (const Song &s : entry->songs) {
        html += QStringLiteral("\t\t\t\t<li><a href=\"/song/%1\">%2</a></li>")
                    .arg(QString::number(s.id), htmlEscape(s.title)) +
                kCrLf;
    }
    html += QStringLiteral("\t\t\t</ul>") + kCrLf;
    html += QStringLiteral("\t\t</div>") + kCrLf;
    html += QStringLiteral("\t</div>") + kCrLf;
    html += QStringLiteral("</div>") + kCrLf + QStringLiteral("</body>") + kCrLf +
            QStringLiteral("</html>") + kCrLf;
    return html.toUtf8();
}

QByteArray singerPictureJpeg(int singerIndex)
{
    // Colours spread round the hue circle by the golden angle, so
    // neighbouring singers look clearly different.
    const int hue = (singerIndex * 137) % 360;
    const QColor top = QColor::fromHsv(hue, 150, 235);
    const QColor bottom = QColor::fromHsv((hue + 40) % 360, 220, 120);
    const QColor disc = QColor::fromHsv((hue + 180) % 360, 120, 250);
    const QColor ring = QColor::fromHsv((hue + 90) % 360, 200, 200);

    const double cx = kPictureSize * (0.35 + 0.03 * (singerIndex % 10));
    const double cy = kPictureSize * (0.40 + 0.02 * (singerIndex % 7));
    const double discRadius = kPictureSize * (0.16 + 0.01 * (singerIndex % 5));
    const double ringRadius = discRadius * 1.9;

    QImage image(kPictureSize, kPictureSize, QImage::Format_RGB32);
    for (int y = 0; y < kPictureSize; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        const double f = static_cast<double>(y) / (kPictureSize - 1);
        for (int x = 0; x < kPictureSize; ++x) {
            const double d = std::hypot(x - cx, y - cy);
            QColor c;
            if (d < discRadius)
                c = disc;
            else if (std::abs(d - ringRadius) < 9.0)
                c = ring;
            else
                c = QColor::fromRgbF(top.redF() * (1 - f) + bottom.redF() * f,
                                     top.greenF() * (1 - f) + bottom.greenF() * f,
                                     top.blueF() * (1 - f) + bottom.blueF() * f);
            // Diagonal stripes across the lower third.
            if (y > kPictureSize * 2 / 3 && ((x + y) / 14) % 2 == 0)
                c = c.darker(125);
            line[x] = c.rgb();
        }
    }

    return jpegOf(image);
}

QByteArray jpegOf(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(kJpegQuality);
    if (!writer.write(image))
        return QByteArray();
    return bytes;
}

QByteArray singerPictureFromImage(const QByteArray &encoded)
{
    QBuffer buffer;
    buffer.setData(encoded);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // A hostile file may announce a giant canvas; refuse it before decoding.
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > kMaxSourceSide || size.height() > kMaxSourceSide)
        return QByteArray();
    if (size.width() > kPictureSize || size.height() > kPictureSize)
        reader.setScaledSize(size.scaled(kPictureSize, kPictureSize, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (image.isNull())
        return QByteArray();
    // JPEG has no transparency: a PNG's clear parts become white, not black.
    if (image.hasAlphaChannel()) {
        QImage opaque(image.size(), QImage::Format_RGB32);
        opaque.fill(Qt::white);
        QPainter painter(&opaque);
        painter.drawImage(0, 0, image);
        painter.end();
        image = opaque;
    }
    return jpegOf(image);
}

} // namespace musicd
