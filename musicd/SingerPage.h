// The singer search page and the singer pictures. The player tests the page
// for "http://<host>/ting/pic/item/" and then takes the first ".jpg" URL
// after "cover-img", so a singer with a picture gets exactly that, built on
// the host the client addressed; a singer without one, or an unknown name,
// gets a page without the picture prefix.
#pragma once

#include "musicd/MusicSource.h"

#include <QByteArray>
#include <QImage>
#include <QString>

namespace musicd {

// The path prefix of the picture server.
inline constexpr char kPicturePath[] = "/ting/pic/item/";

// Songs a singer page lists.
inline constexpr int kSongsListed = 10;

// entry may be null (no such singer); query is the decoded key.
QByteArray singerPageHtml(const SingerEntry *entry, const QString &query, const QString &host);

// A 300×300 JPEG of our own: a gradient with discs and rings whose colours
// and places follow from the singer's index. Empty if encoding fails.
QByteArray singerPictureJpeg(int singerIndex);

// A picture file's bytes (JPEG, PNG, whatever Qt reads) as a JPEG no larger
// than the drawn ones, aspect kept. Empty when it cannot be read or is
// unreasonably large.
QByteArray singerPictureFromImage(const QByteArray &encoded);

QByteArray jpegOf(const QImage &image);

} // namespace musicd
