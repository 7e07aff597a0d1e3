#include "musicd/SearchPageHtml.h"

#include "musicd/QueryText.h"

namespace musicd {
namespace {

const QString kCrLf = QStringLiteral("\r\n");
// Eight spaces: the run the player deletes before cutting.
const QString kSpaceRun = QStringLiteral("        ");
// Page numbers the pager shows around the current one.
constexpr qint64 kPagerSpan = 4;

QString pageHead()
{
    return QStringLiteral(
        "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
        "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\r\n"
        "<html xmlns=\"http://www.w3.org/1999/xhtml\">\r\n"
        "<head>\r\n"
        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />\r\n"
        "<title>歌曲搜索 - 夜航音乐</title>\r\n"
        "<link rel=\"stylesheet\" type=\"text/css\" href=\"/static/css/search.css\" />\r\n"
        "<script type=\"text/javascript\" src=\"/static/js/player.js\"></script>\r\n"
        "</head>\r\n"
        "<body>\r\n"
        "<div class=\"header\">\r\n"
        "\t<a class=\"logo\" href=\"/\" title=\"夜航音乐\">夜航音乐</a>\r\n"
        "\t<ul class=\"nav\">\r\n"
        "\t\t<li><a href=\"/\">首页</a></li>\r\n"
        "\t\t<li><a href=\"/top\">排行榜</a></li>\r\n"
        "\t\t<li><a href=\"/artist\">歌手</a></li>\r\n"
        "\t</ul>\r\n"
        "</div>\r\n");
}

QString pageFoot()
{
    return QStringLiteral("<div class=\"footer\">\r\n"
                          "\t<p>Copyright &copy; 夜航音乐 All Rights Reserved</p>\r\n"
                          "</div>\r\n"
                          "</body>\r\n"
                          "</html>\r\n");
}

QString pageLink(const QString &encodedQuery, qint64 page)
{
    // Concatenated, not arg(): the encoded query is full of "%2D"-like text.
    return QStringLiteral("/app/search/searchList.php?qword=") + encodedQuery +
           QStringLiteral("&amp;page=") + QString::number(page);
}

QString songRow(const Song &s, bool odd)
{
    const QString id = QString::number(s.id);
    const QString title = htmlEscape(s.title);
    const QString singer = htmlEscape(s.singer);
    const QString album = htmlEscape(s.album);
    const QString singerLink = QString::fromLatin1(encodePlayerQuery(s.singer));

    QString row;
    row += QStringLiteral("\t\t<tr class=\"%1\">")
               .arg(odd ? QStringLiteral("odd") : QStringLiteral("even")) +
           kCrLf;
    row += QStringLiteral("\t\t\t<td class=\"c-check\"><input type=\"checkbox\" name=\"sid\" "
                          "value=\"%1\" /></td>")
               .arg(id) +
           kCrLf;
    row += QStringLiteral("\t\t\t<td class=\"c-title\"><a href=\"/song/%1\" title=\"%2\" "
                          "target=\"_blank\">%2</a></td>")
               .arg(id, title) +
           kCrLf;
    row += QStringLiteral("\t\t\t<td class=\"c-singer\"><a href=\"/search/artist?key=%1\" "
                          "target=\"_blank\">%2</a></td>")
               .arg(singerLink, singer) +
           kCrLf;
    if (s.album.isEmpty()) {
        row += QStringLiteral("\t\t\t<td class=\"c-album\">") + kSpaceRun +
               QStringLiteral("</td>") + kCrLf;
    } else {
        row += QStringLiteral("\t\t\t<td class=\"c-album\">") + kSpaceRun +
               QStringLiteral("<a href=\"/album?name=%1\">《%2》</a>")
                   .arg(QString::fromLatin1(encodePlayerQuery(s.album)), album) +
               QStringLiteral("  ") + QStringLiteral("</td>") + kCrLf;
    }
    row += QStringLiteral("\t\t\t<td class=\"c-play\"><a href=\"javascript:;\" "
                          "onclick=ddSong(\"%1\",\"%2\",\"%3\",\"%4\") class=\"btn-play\" "
                          "title=\"试听\">play</a></td>")
               .arg(id, singer, title, album) +
           kCrLf;
    row += QStringLiteral(
               "\t\t\t<td class=\"c-fav\"><a href=\"javascript:;\" onclick=\"collectSong('%1')\" "
               "class=\"btn-fav\" title=\"收藏\">collect</a></td>")
               .arg(id) +
           kCrLf;
    row += QStringLiteral("\t\t</tr>") + kCrLf;
    return row;
}

QString pager(const QString &encodedQuery, qint64 pageNo, qint64 pageCount)
{
    QString out = QStringLiteral("\t<div class=\"pager\">") + kCrLf;
    // The previous-page link is always written (pointing at page 1 on the
    // first page): the player cuts the table off at it.
    out += QStringLiteral("\t\t<a class=\"prev\" href=\"%1\">上一页</a>")
               .arg(pageLink(encodedQuery,
                             pageNo > 1 ? qMin(pageNo - 1, qMax<qint64>(pageCount, 1)) : 1)) +
           kCrLf;
    const qint64 from = qMax<qint64>(1, pageNo - kPagerSpan);
    const qint64 to = qMin(pageCount, pageNo + kPagerSpan);
    for (qint64 p = from; p <= to; ++p) {
        if (p == pageNo)
            out += QStringLiteral("\t\t<span class=\"current\">%1</span>").arg(p) + kCrLf;
        else
            out += QStringLiteral("\t\t<a href=\"%1\">%2</a>")
                       .arg(pageLink(encodedQuery, p), QString::number(p)) +
                   kCrLf;
    }
    if (pageNo < pageCount)
        out += QStringLiteral("\t\t<a class=\"next\" href=\"%1\">下一页</a>")
                   .arg(pageLink(encodedQuery, pageNo + 1)) +
               kCrLf;
    else
        out += QStringLiteral("\t\t<span class=\"next disabled\">下一页</span>") + kCrLf;
    out += QStringLiteral("\t</div>") + kCrLf;
    return out;
}

} // namespace

QByteArray resultPageHtml(const QString &query, qint64 pageNo, const SearchPage &page)
{
    const QString encodedQuery = QString::fromLatin1(encodePlayerQuery(query.trimmed()));
    const qint64 pageCount = (page.total + kRowsPerPage - 1) / kRowsPerPage;

    QString html = pageHead();
    html += QStringLiteral("<div class=\"main\">") + kCrLf;
    html += QStringLiteral("\t<div class=\"search-info\">") + kCrLf;
    // The count stands alone between the markers: the player reads the
    // text between them as a number once spaces are gone.
    html +=
        QStringLiteral("\t\t<span class=\"total\">为您找到相关歌曲 %1 首</span>").arg(page.total) +
        kCrLf;
    html += QStringLiteral("\t\t<span class=\"keyword\">关键词：“%1”</span>")
                .arg(htmlEscape(query.trimmed())) +
            kCrLf;
    html += QStringLiteral("\t</div>") + kCrLf;
    html += QStringLiteral("\t<div class=\"song-list\">") + kCrLf;
    html += QStringLiteral("\t<table class=\"list\" cellspacing=\"0\" cellpadding=\"0\">") + kCrLf;
    html += QStringLiteral("\t\t<thead>") + kCrLf + QStringLiteral("\t\t<tr>") + kCrLf;
    html += QStringLiteral("\t\t\t<td class=\"c-check\"><div class=\"th\"><input type=\"checkbox\" "
                           "class=\"check-all\" /></div></td>") +
            kCrLf;
    html += QStringLiteral("\t\t\t<td class=\"c-title\"><div class=\"th\">歌曲</div></td>") + kCrLf;
    html +=
        QStringLiteral("\t\t\t<td class=\"c-singer\"><div class=\"th\">歌手</div></td>") + kCrLf;
    html += QStringLiteral("\t\t\t<td class=\"c-album\"><div class=\"th\">专辑</div></td>") + kCrLf;
    html += QStringLiteral("\t\t\t<td class=\"c-play\"><div class=\"th\">试听</div></td>") + kCrLf;
    html += QStringLiteral("\t\t\t<td class=\"c-fav\"><div class=\"th\"><a "
                           "href=\"javascript:;\">收藏</a></div></td>") +
            kCrLf;
    html += QStringLiteral("\t\t</tr>") + kCrLf + QStringLiteral("\t\t</thead>") + kCrLf;
    html += QStringLiteral("\t\t<tbody>") + kCrLf;
    for (qsizetype i = 0; i < page.rows.size(); ++i)
        html += songRow(page.rows.at(i), i % 2 == 0);
    html += QStringLiteral("\t\t</tbody>") + kCrLf;
    html += QStringLiteral("\t</table>") + kCrLf;
    html += QStringLiteral("\t</div>") + kCrLf;
    html += pager(encodedQuery, pageNo, pageCount);
    html += QStringLiteral("</div>") + kCrLf;
    html += pageFoot();
    return html.toUtf8();
}

QByteArray noMatchPageHtml(const QString &query)
{
    QString html = pageHead();
    html += QStringLiteral("<div class=\"main\">") + kCrLf;
    html += QStringLiteral("\t<div class=\"no-result\">") + kCrLf;
    html += QStringLiteral("\t\t<p class=\"tip\">很抱歉，没有找到与“<em>%1</em>”相关的歌曲。</p>")
                .arg(htmlEscape(query.trimmed())) +
            kCrLf;
    html += QStringLiteral("\t\t<p>建议您：</p>") + kCrLf;
    html += QStringLiteral("\t\t<ul>") + kCrLf;
    html += QStringLiteral("\t\t\t<li>检查输入的文字是否有误</li>") + kCrLf;
    html += QStringLiteral("\t\t\t<li>换一个关键词，或者用较短的关键词试试</li>") + kCrLf;
    html += QStringLiteral("\t\t</ul>") + kCrLf;
    html += QStringLiteral("\t</div>") + kCrLf;
    html += QStringLiteral("</div>") + kCrLf;
    html += pageFoot();
    return html.toUtf8();
}

} // namespace musicd
