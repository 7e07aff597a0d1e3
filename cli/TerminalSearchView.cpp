#include "cli/TerminalSearchView.h"

#include "service/SearchState.h"

#include <QStringList>

namespace {

// HTTP statuses from here on are errors.
constexpr int kFirstErrorStatus = 400;

// A field of a tab-separated line: the page text may still carry line feeds
// (only CR LF pairs are removed from it), which would break the line apart.
QString field(QString text)
{
    for (QChar &c : text) {
        if (c == u'\t' || c == u'\n' || c == u'\r')
            c = u' ';
    }
    return text;
}

void writeLine(std::FILE *out, const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out);
    std::fflush(out);
}

} // namespace

TerminalSearchView::TerminalSearchView(std::FILE *rows, std::FILE *progress)
    : m_rows(rows), m_progress(progress)
{
}

void TerminalSearchView::appendResult(const SearchResult &row)
{
    ++m_count;
    writeLine(
        m_rows,
        QStringList{field(row.songId), field(row.title), field(row.singer), field(row.album)}.join(
            QLatin1Char('\t')));
}

void TerminalSearchView::setStatusText(const QString &text)
{
    writeLine(m_progress, text);
}

void TerminalSearchView::pageFetchFailed(const QString &error)
{
    if (m_failure.isEmpty())
        m_failure = error;
    musicservice::searchState().searchInProgress = false;
}

void TerminalSearchView::pageAnswered(const QString &url, int status)
{
    ++m_pagesAnswered;
    if (status < kFirstErrorStatus || m_errorStatus != 0)
        return;
    m_errorStatus = status;
    m_errorUrl = url;
    m_errorPage = m_pagesAnswered;
    musicservice::searchState().searchInProgress = false;
}
