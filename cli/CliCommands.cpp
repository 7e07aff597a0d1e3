#include "cli/CliCommands.h"

#include "cli/SigintStop.h"
#include "cli/TerminalSearchView.h"
#include "net/HttpClient.h"
#include "net/UrlEncode.h"
#include "service/FetchPage.h"
#include "service/LoadLyrics.h"
#include "service/LoadNetPicture.h"
#include "service/ResolveSongLink.h"
#include "service/SearchSongs.h"
#include "service/ServiceConfig.h"

#include <QUrl>
#include <cstdio>

namespace cli {
namespace {

// The warning the window shows for an empty search.
const QString kEmptySearch = QStringLiteral("请输入要搜索的歌名、歌手或者专辑！");

void writeLine(std::FILE *out, const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out);
    std::fflush(out);
}

// A failed read. When no answer came at all, the message names the URL that
// was tried and how to start the bundled service there, the usual cause
// being that it is not running.
int networkFailure(const QString &error)
{
    printErr(QStringLiteral("velmor-cli: ") + error);
    if (HttpClient::lastStatus() == 0 && !HttpClient::lastUrl().isEmpty()) {
        const QUrl service(ServiceConfig::host());
        printErr(QStringLiteral("velmor-cli: cannot reach the music service at %1 (tried %2)")
                     .arg(ServiceConfig::host(), HttpClient::lastUrl()));
        printErr(QStringLiteral("velmor-cli: start the bundled service with 'velmor-musicd --port "
                                "%1', or name a running one with --service URL or "
                                "VELMOR_SERVICE_URL")
                     .arg(service.port(VELMOR_DEFAULT_PORT)));
    }
    return kExitNetwork;
}

// The lyric outputs gathered for printing.
class CollectedLyrics : public LyricsView
{
public:
    void clearLyricList() override { entries.clear(); }
    void addLyricEntry(const QString &entry) override { entries.append(entry); }
    void setLyricText(const QString &) override {}
    void setLyricBoxText(const QString &) override {}

    QStringList entries;
};

} // namespace

void printOut(const QString &line)
{
    writeLine(stdout, line);
}

void printErr(const QString &line)
{
    writeLine(stderr, line);
}

int search(const QString &words)
{
    if (QString(words).remove(QLatin1Char(' ')).isEmpty()) {
        printErr(QStringLiteral("velmor-cli: ") + kEmptySearch);
        return kExitUsage;
    }
    SigintStop sigint;
    TerminalSearchView view;
    musicservice::beginSearch(words, view);
    if (!view.failure().isEmpty())
        return networkFailure(view.failure());
    // The window takes an error page for a page without songs; here it is
    // what it is: on the first page most often a --service that is not a
    // music service, later a list that lacks that page's songs.
    if (view.errorStatus() != 0 && !sigint.interrupted()) {
        if (view.errorPage() == 1)
            printErr(QStringLiteral("velmor-cli: the service answered HTTP %1 to %2; is %3 a "
                                    "music service?")
                         .arg(view.errorStatus())
                         .arg(view.errorUrl(), ServiceConfig::host()));
        else
            printErr(QStringLiteral("velmor-cli: the service answered HTTP %1 to %2 (page %3); "
                                    "the search stopped there and the %4 songs listed are not "
                                    "all of them")
                         .arg(view.errorStatus())
                         .arg(view.errorUrl())
                         .arg(view.errorPage())
                         .arg(view.resultCount()));
        return kExitNetwork;
    }
    return sigint.interrupted() ? kExitInterrupted : kExitOk;
}

int link(const QString &songId, const QString &artist, const QString &title)
{
    CollectedLyrics lyrics;
    musicservice::ResolveErrors errors;
    const QString url = musicservice::resolveSongLink(songId, artist, title, lyrics, &errors);
    if (!errors.link.isEmpty())
        return networkFailure(errors.link);
    if (url.isEmpty()) {
        printErr(QStringLiteral("velmor-cli: no playable link for song ") + songId);
        return kExitNotFound;
    }
    printOut(url);
    return kExitOk;
}

int lyrics(const QString &songId, const QString &artist, const QString &title)
{
    CollectedLyrics lyrics;
    musicservice::ResolveErrors errors;
    musicservice::resolveSongLink(songId, artist, title, lyrics, &errors);
    if (!errors.link.isEmpty())
        return networkFailure(errors.link);
    if (!errors.lyrics.isEmpty())
        return networkFailure(errors.lyrics);
    if (lyrics.entries.isEmpty()) {
        printOut(musicservice::kNoLyrics);
        return kExitOk;
    }
    for (QString entry : lyrics.entries) {
        // Entries keep the line break of the file; print one line each.
        while (entry.endsWith(QLatin1Char('\n')) || entry.endsWith(QLatin1Char('\r')))
            entry.chop(1);
        printOut(entry);
    }
    return kExitOk;
}

int picture(const QString &singer)
{
    const QString url = LoadNetPicture::singerPictureUrl(singer);
    const QString error = HttpClient::lastError();
    if (!error.isEmpty())
        return networkFailure(error);
    printOut(url);
    return kExitOk;
}

int encode(const QString &text)
{
    printOut(musicservice::urlEncode(text));
    return kExitOk;
}

} // namespace cli
