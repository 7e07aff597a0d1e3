#include "musicd/SubsonicApi.h"

#include "musicd/SubsonicBrowse.h"
#include "musicd/SubsonicMedia.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace musicd {
namespace {

const char kXml[] = "text/xml; charset=utf-8";
const char kJson[] = "application/json; charset=utf-8";
const QLatin1String kViewSuffix(".view");

// The API version spoken: 1.16.1, so clients of any 1.x up to it are served.
constexpr int kMajor = 1;
constexpr int kMinor = 16;

// The OpenSubsonic extensions answered, each with the versions spoken.
const char *const kExtensions[] = {"apiKeyAuthentication", "formPost", "songLyrics"};

// 0 when the version is one this API serves, else its error code.
int versionProblem(const QString &version)
{
    const QStringList parts = version.split(QLatin1Char('.'));
    bool okMajor = false;
    bool okMinor = parts.size() < 2;
    const int major = parts.value(0).toInt(&okMajor);
    const int minor = parts.size() < 2 ? 0 : parts.at(1).toInt(&okMinor);
    if (!okMajor || !okMinor)
        return 0;
    if (major < kMajor)
        return 20; // the client must upgrade
    if (major > kMajor || minor > kMinor)
        return 30; // the server must upgrade
    return 0;
}

// Gives the heap's free pages back to the system (glibc keeps them for the
// thread that freed them otherwise).
void trimHeap()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

} // namespace

const char SubsonicApi::kApiVersion[] = "1.16.1";

SubsonicApi::SubsonicApi(ApiLibrary *library, MusicSource &media,
                         std::unique_ptr<SubsonicAuth> auth, QString serverVersion)
    : m_library(library), m_auth(std::move(auth)),
      m_browse(library ? std::make_unique<SubsonicBrowse>(*library) : nullptr),
      m_media(std::make_unique<SubsonicMedia>(library, media)),
      m_serverVersion(std::move(serverVersion))
{
}

SubsonicApi::~SubsonicApi() = default;

SubsonicNode SubsonicApi::envelope(bool ok) const
{
    SubsonicNode root(QStringLiteral("subsonic-response"));
    root.set(QStringLiteral("status"), ok ? QStringLiteral("ok") : QStringLiteral("failed"))
        .set(QStringLiteral("version"), QString::fromLatin1(kApiVersion))
        .set(QStringLiteral("type"), QStringLiteral("velmor"))
        .set(QStringLiteral("serverVersion"), m_serverVersion)
        .set(QStringLiteral("openSubsonic"), true);
    return root;
}

SubsonicAnswer SubsonicApi::written(const SubsonicRequest &request, SubsonicNode root) const
{
    SubsonicAnswer answer;
    if (request.value(QStringLiteral("f")) == QLatin1String("json")) {
        answer.contentType = kJson;
        answer.body = root.toJson();
    } else {
        answer.contentType = kXml;
        answer.body = root.toXml();
    }
    return answer;
}

SubsonicAnswer SubsonicApi::answer(const SubsonicRequest &request)
{
    QString endpoint = request.endpoint;
    if (endpoint.endsWith(kViewSuffix))
        endpoint.chop(kViewSuffix.size());
    const auto failed = [&](int code, const QString &message, std::chrono::milliseconds delay) {
        SubsonicAnswer answer = failure(request, code, message);
        answer.delay = delay;
        return answer;
    };

    SubsonicCall call{request, QString(), false};
    // OpenSubsonic asks for the extension list to be open to everyone, so
    // a client can learn how to log in before it does.
    if (endpoint != QLatin1String("getOpenSubsonicExtensions")) {
        if (!request.has(QStringLiteral("v")))
            return failed(10, QStringLiteral("Required parameter is missing: v"), {});
        if (const int code = versionProblem(request.value(QStringLiteral("v"))))
            return failed(code,
                          code == 20 ? QStringLiteral("Incompatible Subsonic REST protocol "
                                                      "version. Client must upgrade.")
                                     : QStringLiteral("Incompatible Subsonic REST protocol "
                                                      "version. Server must upgrade."),
                          {});
        const SubsonicCaller caller = m_auth->check(request);
        if (caller.errorCode != 0)
            return failed(caller.errorCode, caller.message, caller.delay);
        call.user = caller.user;
        call.admin = caller.admin;
    }
    if (endpoint == QLatin1String("getArtists") || endpoint == QLatin1String("getIndexes"))
        return kept(endpoint, call);
    return answered(endpoint, call);
}

SubsonicAnswer SubsonicApi::answered(const QString &endpoint, const SubsonicCall &call)
{
    SubsonicResult result = dispatch(endpoint, call);
    if (result.raw)
        return std::move(*result.raw);
    if (result.errorCode >= 0)
        return failure(call.request, result.errorCode, result.message);
    SubsonicNode root = envelope(true);
    if (result.element)
        root.add(std::move(*result.element));
    return written(call.request, std::move(root));
}

SubsonicAnswer SubsonicApi::failure(const SubsonicRequest &request, int code,
                                    const QString &message) const
{
    SubsonicNode root = envelope(false);
    root.add(SubsonicNode(QStringLiteral("error"))
                 .set(QStringLiteral("code"), code)
                 .set(QStringLiteral("message"), message));
    return written(request, std::move(root));
}

SubsonicAnswer SubsonicApi::kept(const QString &endpoint, const SubsonicCall &call)
{
    if (!m_library || !m_library->stamp())
        return answered(endpoint, call);
    const QString format = call.request.value(QStringLiteral("f")) == QLatin1String("json")
                               ? QStringLiteral("json")
                               : QStringLiteral("xml");
    // Only starred artists make one user's list differ from another's:
    // everyone else shares one list, which a play or a playlist leaves as
    // it is.
    if (m_library->starsArtists(call.user))
        return keptFor(endpoint + QLatin1Char('\n') + format + QLatin1Char('\n') + call.user,
                       *m_library->stamp(), [&] { return answered(endpoint, call); });
    const QString shared = endpoint + QLatin1Char('\n') + format;
    {
        std::lock_guard<std::mutex> lock(m_keptMutex);
        m_asked.insert(shared);
    }
    return keptFor(shared, m_library->contentStamp().value_or(0),
                   [&] { return sharedList(endpoint, format); });
}

SubsonicAnswer SubsonicApi::sharedList(const QString &endpoint, const QString &format)
{
    // Asked for by nobody: no stars, and nothing of a caller's but the form.
    const SubsonicRequest request{endpoint, {{QStringLiteral("f"), format}}, QString(), QString()};
    return answered(endpoint, SubsonicCall{request, QString(), false});
}

void SubsonicApi::writeAhead()
{
    if (!m_library || !m_library->contentStamp())
        return;
    m_library->warmUp();
    QStringList lists;
    {
        std::lock_guard<std::mutex> lock(m_keptMutex);
        lists = m_asked.values();
    }
    const uint64_t stamp = *m_library->contentStamp();
    for (const QString &list : lists) {
        const QString endpoint = list.section(QLatin1Char('\n'), 0, 0);
        const QString format = list.section(QLatin1Char('\n'), 1, 1);
        keptFor(list, stamp, [&] { return sharedList(endpoint, format); });
    }
}

SubsonicAnswer SubsonicApi::keptFor(const QString &key, uint64_t stamp,
                                    const std::function<SubsonicAnswer()> &write)
{
    const auto known = [&]() -> std::optional<SubsonicAnswer> {
        std::lock_guard<std::mutex> lock(m_keptMutex);
        const auto it = m_kept.constFind(key);
        // Stamps only grow: one written after this call began will do.
        if (it != m_kept.constEnd() && it->stamp >= stamp)
            return it->answer;
        return std::nullopt;
    };
    if (std::optional<SubsonicAnswer> answer = known())
        return *answer;
    std::lock_guard<std::mutex> writing(m_writingKept);
    if (std::optional<SubsonicAnswer> answer = known())
        return *answer; // written while this call waited
    SubsonicAnswer answer = write();
    // Handed out as shared bytes streamed from memory: a copy of a few
    // megabytes for each of a few hundred apps asking at once would be a
    // gigabyte. (Not gzipped, then: an app takes it once per change.)
    if (!answer.payload) {
        answer.payload = Payload{std::make_shared<const QByteArray>(std::move(answer.body)),
                                 nullptr, answer.contentType};
        answer.body.clear();
    }
    {
        std::lock_guard<std::mutex> lock(m_keptMutex);
        // A few users, two endpoints, two formats: more keys than this
        // are callers trying names, not apps.
        constexpr qsizetype kMaxKept = 16;
        if (m_kept.size() >= kMaxKept && !m_kept.contains(key))
            m_kept.clear();
        m_kept.insert(key, KeptAnswer{stamp, answer});
    }
    // What writing it took is given back to the system rather than kept
    // by this thread's heap for an answer that will not be written again.
    trimHeap();
    return answer;
}

SubsonicResult SubsonicApi::dispatch(const QString &endpoint, const SubsonicCall &call)
{
    if (endpoint == QLatin1String("ping"))
        return SubsonicResult::ok();
    if (endpoint == QLatin1String("getLicense"))
        return SubsonicResult::of(
            SubsonicNode(QStringLiteral("license")).set(QStringLiteral("valid"), true));
    if (endpoint == QLatin1String("getOpenSubsonicExtensions")) {
        SubsonicResult result;
        // The extensions are a list directly in the envelope.
        SubsonicNode root = envelope(true);
        for (const char *name : kExtensions)
            root.add(
                SubsonicNode(QStringLiteral("openSubsonicExtensions"), SubsonicNode::Shape::List)
                    .set(QStringLiteral("name"), QString::fromLatin1(name))
                    .add(SubsonicNode(QStringLiteral("versions"), SubsonicNode::Shape::ScalarList)
                             .setText(1)));
        result.raw = written(call.request, std::move(root));
        return result;
    }
    if (endpoint == QLatin1String("getUser"))
        return user(call);
    if (endpoint == QLatin1String("getScanStatus"))
        return scanStatus();
    if (SubsonicMedia::answers(endpoint))
        return m_media->answer(endpoint, call);
    if (SubsonicBrowse::answers(endpoint)) {
        if (!m_browse)
            return SubsonicResult::error(0, QStringLiteral("this service serves no music "
                                                           "library (start it with --library)"));
        return m_browse->answer(endpoint, call);
    }
    return SubsonicResult::error(0, QStringLiteral("Unknown endpoint: %1").arg(endpoint));
}

SubsonicResult SubsonicApi::user(const SubsonicCall &call) const
{
    const QString asked = call.request.value(QStringLiteral("username"));
    if (!asked.isEmpty() && asked != call.user && !call.admin)
        return SubsonicResult::error(50, QStringLiteral("User is not authorized for the given "
                                                        "operation."));
    if (!asked.isEmpty() && asked != call.user)
        return SubsonicResult::error(70, QStringLiteral("User not found"));
    SubsonicNode node(QStringLiteral("user"));
    node.set(QStringLiteral("username"), call.user)
        .set(QStringLiteral("scrobblingEnabled"), true)
        .set(QStringLiteral("adminRole"), call.admin)
        .set(QStringLiteral("settingsRole"), false)
        .set(QStringLiteral("downloadRole"), true)
        .set(QStringLiteral("uploadRole"), false)
        .set(QStringLiteral("playlistRole"), true)
        .set(QStringLiteral("coverArtRole"), true)
        .set(QStringLiteral("commentRole"), false)
        .set(QStringLiteral("podcastRole"), false)
        .set(QStringLiteral("streamRole"), true)
        .set(QStringLiteral("jukeboxRole"), false)
        .set(QStringLiteral("shareRole"), false)
        .set(QStringLiteral("videoConversionRole"), false)
        .add(SubsonicNode(QStringLiteral("folder"), SubsonicNode::Shape::ScalarList)
                 .setText(SubsonicBrowse::kFolderId));
    return SubsonicResult::of(std::move(node));
}

SubsonicResult SubsonicApi::scanStatus() const
{
    const auto [scanning, count] = m_scanState ? m_scanState() : std::pair<bool, qint64>();
    return SubsonicResult::of(SubsonicNode(QStringLiteral("scanStatus"))
                                  .set(QStringLiteral("scanning"), scanning)
                                  .set(QStringLiteral("count"), count));
}

} // namespace musicd
