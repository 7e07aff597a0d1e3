#include "tests/service/FakeSearchPages.h"

namespace FakeSearchPages {

QString row(const FakeSong &song)
{
    QString r = QStringLiteral("<tr>\r\n\t<td><input type=\"checkbox\"></td>\r\n"
                               "\t<td><a href=\"javascript:;\" onclick=\"ddSong(%1,%2,%3)\" "
                               "class=\"play\">%3</a></td>\r\n")
                    .arg(song.id, song.singer, song.title);
    r += QStringLiteral("\t<td>%1</td>\r\n").arg(song.singer);
    if (!song.album.isEmpty())
        r += QStringLiteral("\t<td>《%1》</td>\r\n").arg(song.album);
    else
        r += QStringLiteral("\t<td></td>\r\n");
    r += QStringLiteral("\t<td><a href=\"#\" class=\"fav\">collect</a></td>\r\n</tr>\r\n");
    return r;
}

QString page(qint64 total, const QList<FakeSong> &songs)
{
    QString p = QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body>\r\n"
                               "<div class=\"count\">共找到相关歌曲 \"%1\" 首</div>\r\n")
                    .arg(total);
    p += QStringLiteral("<table>\r\n<tr><td>歌曲</td><td>歌手</td><td>专辑</td>"
                        "<td><div><a href=\"#\">收藏</a></div></td></tr>\r\n");
    for (const FakeSong &s : songs)
        p += row(s);
    p += QStringLiteral("</table>\r\n<div class=\"pager\"><a href=\"#\">上一页</a>"
                        "<a href=\"#\">下一页</a></div>\r\n"
                        "<a href=\"javascript:;\" onclick=\"ddSong(999,footer,footer)\" "
                        "class=\"x\">collect</a></body></html>\r\n");
    return p;
}

QList<FakeSong> numbered(int firstId, int count)
{
    QList<FakeSong> songs;
    for (int i = 0; i < count; ++i) {
        const QString n = QString::number(firstId + i);
        songs.append(
            {n, QStringLiteral("歌手") + n, QStringLiteral("歌") + n, QStringLiteral("专辑") + n});
    }
    return songs;
}

QString noMatchPage(const QString &words)
{
    return QStringLiteral("<html><body><p>很抱歉，没有找到与“%1”相关的歌曲。</p></body></html>")
        .arg(words);
}

} // namespace FakeSearchPages
