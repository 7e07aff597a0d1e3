// Result pages in the shape the service sends, for tests that need a page
// without the bundled service: a count line, the table head, one row per
// song (play call, album cell, collect link) and the pager.
#pragma once

#include <QList>
#include <QString>

struct FakeSong
{
    QString id;
    QString singer;
    QString title;
    QString album; // bare name; empty for none
};

namespace FakeSearchPages {

// One table row as the service writes it, quotes and CR LF included.
QString row(const FakeSong &song);

// A whole page: count line for `total` songs, table head, rows, pager.
QString page(qint64 total, const QList<FakeSong> &songs);

// `count` songs numbered from `firstId`: id N, singer "歌手N", title "歌N".
QList<FakeSong> numbered(int firstId, int count);

// The service's nothing-found page.
QString noMatchPage(const QString &words);

} // namespace FakeSearchPages
