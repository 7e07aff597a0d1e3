// The singer picture shown while a song plays: the URL is cut from the
// service's singer page, the picture loaded from that URL (or a file).
#pragma once

#include <QImage>
#include <QString>

namespace LoadNetPicture {

// What singerPictureUrl gives when the page names no picture.
inline const QString kNoSingerInfo = QStringLiteral("无歌手信息");

// The first ".jpg" URL after the page's first cover image, or kNoSingerInfo
// when the page does not carry the picture server's prefix or the cut finds
// no "http://" ... ".jpg".
QString cutSingerPictureUrl(const QString &page, const QString &pictureServerPrefix);

// Fetches the singer page for the name and cuts the picture URL from it.
QString singerPictureUrl(const QString &singer);

// An http/https URL is fetched and decoded; anything else is read as a local
// file path. Whatever cannot be loaded, kNoSingerInfo included, gives a null
// image.
QImage loadPictureFromPath(const QString &path);

} // namespace LoadNetPicture
