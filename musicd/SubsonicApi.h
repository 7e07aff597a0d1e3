// velmor-musicd's Subsonic face (API 1.16.1 with the OpenSubsonic
// extensions it lists): answer() turns one request under /rest/ into its
// answer, XML by default or JSON with f=json, errors as the API numbers
// them with HTTP 200 as the API does. The browsing, list, search, star and
// playlist endpoints are SubsonicBrowse's, the media ones (stream, cover
// art, lyrics) SubsonicMedia's; this class checks the version and the
// caller and writes the envelope. Called from many request threads at once.
#pragma once

#include "musicd/MusicSource.h"
#include "musicd/SubsonicAuth.h"
#include "musicd/SubsonicNode.h"
#include "musicd/SubsonicRequest.h"
#include "musicd/library/ApiLibrary.h"

#include <QHash>
#include <QSet>
#include <functional>
#include <memory>
#include <mutex>

namespace musicd {

class SubsonicBrowse;
class SubsonicMedia;

// What one endpoint gives: an element for the envelope (or none: a bare
// "ok"), an API error, or bytes of its own (a stream, a picture).
struct SubsonicResult
{
    std::optional<SubsonicNode> element;
    int errorCode = -1; // -1: no error
    QString message;
    std::optional<SubsonicAnswer> raw;

    static SubsonicResult ok() { return {}; }
    static SubsonicResult of(SubsonicNode node) { return {std::move(node), -1, QString(), {}}; }
    static SubsonicResult error(int code, const QString &message)
    {
        return {std::nullopt, code, message, {}};
    }
};

// The caller of an endpoint: who asks, and what they asked.
struct SubsonicCall
{
    const SubsonicRequest &request;
    QString user;
    bool admin = false;
};

class SubsonicApi
{
public:
    static const char kApiVersion[];

    // library: none without --library (browsing endpoints then answer
    // error 0); media: where audio, lyrics and pictures come from. Both
    // must outlive the API.
    SubsonicApi(ApiLibrary *library, MusicSource &media, std::unique_ptr<SubsonicAuth> auth,
                QString serverVersion);
    ~SubsonicApi();

    // The scan's state for getScanStatus: scanning or not, tracks indexed.
    using ScanState = std::function<std::pair<bool, qint64>()>;
    void setScanState(ScanState state) { m_scanState = std::move(state); }

    SubsonicAnswer answer(const SubsonicRequest &request);

    // Reads the names searches need and writes again the lists of the
    // whole library apps have asked for, for the library as it is now, so
    // the next app asking is not the one that waits while a list of 50,000
    // artists is written. Called after a scan pass changed the library;
    // the getArtists list in JSON, the one most apps ask first, counts as
    // asked from the start.
    void writeAhead();

    // The envelope alone, for tests and for errors: status "ok" or "failed".
    SubsonicNode envelope(bool ok) const;

private:
    SubsonicResult dispatch(const QString &endpoint, const SubsonicCall &call);
    SubsonicResult user(const SubsonicCall &call) const;
    SubsonicResult scanStatus() const;
    SubsonicAnswer written(const SubsonicRequest &request, SubsonicNode root) const;
    SubsonicAnswer failure(const SubsonicRequest &request, int code, const QString &message) const;
    // The answer to a call, from the endpoint.
    SubsonicAnswer answered(const QString &endpoint, const SubsonicCall &call);
    // The same for a list of the whole library (every artist): written
    // once per library stamp, user and format, one at a time, and given
    // again while the stamp holds. At 50,000 artists an answer is a few
    // megabytes written through ten times that, and the apps ask for it
    // all at once when they start.
    SubsonicAnswer kept(const QString &endpoint, const SubsonicCall &call);
    // The list everyone without starred artists shares, in a format.
    SubsonicAnswer sharedList(const QString &endpoint, const QString &format);
    SubsonicAnswer keptFor(const QString &key, uint64_t stamp,
                           const std::function<SubsonicAnswer()> &write);

    struct KeptAnswer
    {
        uint64_t stamp = 0;
        SubsonicAnswer answer;
    };
    ApiLibrary *m_library;
    std::mutex m_writingKept; // held while a kept answer is written
    std::mutex m_keptMutex;   // guards m_kept
    QHash<QString, KeptAnswer> m_kept;
    // The shared lists asked for ("endpoint\nformat"), guarded by m_keptMutex.
    QSet<QString> m_asked{QStringLiteral("getArtists\njson")};

    std::unique_ptr<SubsonicAuth> m_auth;
    std::unique_ptr<SubsonicBrowse> m_browse;
    std::unique_ptr<SubsonicMedia> m_media;
    QString m_serverVersion;
    ScanState m_scanState;
};

} // namespace musicd
