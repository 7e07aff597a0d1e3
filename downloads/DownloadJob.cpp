#include "downloads/DownloadJob.h"

#include "downloads/DownloadNaming.h"
#include "files/CheckedCommit.h"
#include "net/StreamInflater.h"

#include "net/NetworkBackend.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStorageInfo>
#include <QTimer>
#include <cerrno>

namespace {

int g_stallTimeoutMs = 30000;
constexpr int kPartialContent = 206;
// Less free space than this on the target's volume counts as a full disk.
constexpr qint64 kNearlyFull = 1024 * 1024;
const QString kCutShort = QStringLiteral("下载失败：连接被中断，文件不完整");

QString networkMessage(NetworkFailure failure)
{
    switch (failure) {
    case NetworkFailure::Refused:
        return QStringLiteral("下载失败：连接被拒绝");
    case NetworkFailure::Closed:
        return kCutShort;
    case NetworkFailure::HostNotFound:
        return QStringLiteral("下载失败：找不到服务器");
    case NetworkFailure::TimedOut:
        return QStringLiteral("下载失败：连接超时");
    default:
        return QStringLiteral("下载失败：网络错误");
    }
}

} // namespace

DownloadJob::DownloadJob(const QUrl &url, const QString &targetPath, QObject *parent)
    : QObject(parent), m_url(url), m_targetPath(targetPath)
{
}

DownloadJob::~DownloadJob()
{
    // m_stream ends an unfinished transfer without calling back; m_file, never committed unless the
    // download completed, drops its temporary file here.
}

int DownloadJob::stallTimeoutMs()
{
    return g_stallTimeoutMs;
}
void DownloadJob::setStallTimeoutMs(int ms)
{
    g_stallTimeoutMs = ms;
}

void DownloadJob::start()
{
    if (m_file || m_done)
        return;
    if (!DownloadNaming::isDownloadableUrl(m_url)) {
        QTimer::singleShot(0, this, [this] {
            finish(Result::Failed, QStringLiteral("下载失败：只能下载 http 或 https 地址"));
        });
        return;
    }
    m_file = std::make_unique<QSaveFile>(m_targetPath);
    if (m_targetPath.isEmpty() || !m_file->open(QIODevice::WriteOnly)) {
        QTimer::singleShot(0, this, [this] {
            finish(Result::Failed, QStringLiteral("下载失败：无法写入文件 %1")
                                       .arg(QDir::toNativeSeparators(m_targetPath)));
        });
        return;
    }

    NetworkBackend *network = NetworkBackend::instance();
    if (!network) {
        QTimer::singleShot(0, this, [this] { fail(QStringLiteral("下载失败：网络错误")); });
        return;
    }
    HttpStream::Request request;
    request.url = m_url;
    request.transferTimeoutMs = g_stallTimeoutMs;
    // Asking for the bytes as they are keeps the network stack from
    // inflating a compressed answer behind our back: what arrives is then
    // exactly what the server announced, and a compressed answer sent
    // anyway is inflated and checked here.
    request.headers.append({QByteArrayLiteral("Accept-Encoding"), QByteArrayLiteral("identity")});
    HttpStream::Handlers handlers;
    handlers.readyRead = [this] { onReadyRead(); };
    handlers.finished = [this] { onFinished(); };
    handlers.progress = [this](qint64 received, qint64 total) {
        Q_EMIT progress(received, total > 0 ? total : -1);
    };
    m_stream = network->open(request, std::move(handlers));
}

void DownloadJob::cancel()
{
    if (m_done)
        return;
    m_cancelled = true;
    if (m_stream && !m_stream->isFinished()) {
        m_stream->abort(); // finished follows and reports the cancel
        return;
    }
    if (!m_stream)
        QTimer::singleShot(0, this, [this] { finish(Result::Cancelled, QString()); });
}

bool DownloadJob::takeEncoding()
{
    if (m_encodingKnown)
        return m_inflater || m_bodyError.isEmpty();
    m_encodingKnown = true;
    // The request asked for no range: a part of the song is no song.
    if (m_stream->status() == kPartialContent) {
        m_bodyError = QStringLiteral("下载失败：服务器只返回了部分内容");
        return false;
    }
    const QByteArray encoding = m_stream->rawHeader("Content-Encoding").trimmed().toLower();
    if (encoding.isEmpty() || encoding == "identity")
        return true;
    StreamInflater::Format format;
    if (!StreamInflater::formatOf(encoding, format)) {
        m_bodyError = QStringLiteral("下载失败：服务器使用了无法识别的压缩方式");
        return false;
    }
    m_inflater = std::make_unique<StreamInflater>(format);
    return true;
}

void DownloadJob::onReadyRead()
{
    if (!m_stream || !m_writeError.isEmpty() || !m_bodyError.isEmpty())
        return;
    // An error page is not the song: keep its bytes out of the file.
    const int status = m_stream->status();
    if (status != 0 && (status < 200 || status >= 300))
        return;
    if (!takeEncoding()) {
        m_stream->abort();
        return;
    }
    QByteArray chunk = m_stream->readAll();
    m_received += chunk.size();
    if (m_inflater) {
        QByteArray plain;
        if (!m_inflater->feed(chunk, plain)) {
            m_bodyError = QStringLiteral("下载失败：压缩的数据已损坏");
            m_stream->abort();
            return;
        }
        chunk = std::move(plain);
    }
    errno = 0;
    if (m_file->write(chunk) != chunk.size()) {
        const int error = errno;
        m_writeError = writeFailure(m_file->errorString(), error);
        m_stream->abort();
        return;
    }
    m_written += chunk.size();
}

QString DownloadJob::writeFailure(const QString &detail, int error) const
{
    // The file layer's own text for a full disk is often "Unknown error";
    // the system's error number, or the free space left, says it plainly.
    const QStorageInfo volume(QFileInfo(m_targetPath).absolutePath());
    if (error == ENOSPC || error == EDQUOT ||
        (volume.isValid() && volume.bytesAvailable() >= 0 && volume.bytesAvailable() < kNearlyFull))
        return QStringLiteral("下载失败：磁盘已满，无法写入 %1")
            .arg(QDir::toNativeSeparators(m_targetPath));
    return QStringLiteral("下载失败：写入文件出错（%1）").arg(detail);
}

void DownloadJob::onFinished()
{
    if (!m_stream || m_done)
        return;
    if (m_cancelled) {
        finish(Result::Cancelled, QString());
        return;
    }
    if (!m_writeError.isEmpty()) {
        fail(m_writeError);
        return;
    }
    if (!m_bodyError.isEmpty()) {
        fail(m_bodyError);
        return;
    }
    const int status = m_stream->status();
    if (status != 0 && (status < 200 || status >= 300)) {
        fail(QStringLiteral("下载失败：服务器返回错误 %1").arg(status));
        return;
    }
    if (m_stream->failure() != NetworkFailure::None) {
        fail(networkMessage(m_stream->failure()));
        return;
    }
    onReadyRead(); // whatever arrived with the last notification
    if (!m_writeError.isEmpty() || !m_bodyError.isEmpty()) {
        fail(!m_writeError.isEmpty() ? m_writeError : m_bodyError);
        return;
    }
    // The announced length counts the bytes as sent, compressed or not; a
    // compressed body must also reach the end its own format marks.
    const qint64 length = m_stream->contentLength();
    if ((length >= 0 && length != m_received) || (m_inflater && !m_inflater->finished())) {
        fail(kCutShort);
        return;
    }
    if (m_written == 0) {
        fail(QStringLiteral("下载失败：服务器没有返回数据"));
        return;
    }
    // The last part of the song is still in the file's buffer: only a
    // checked commit knows that it reached the disk.
    const CheckedCommit commit = CheckedCommit::commit(*m_file, m_written);
    if (!commit.saved) {
        const QString failure = writeFailure(commit.reason, commit.systemError);
        fail(failure.contains(QStringLiteral("磁盘已满"))
                 ? failure
                 : QStringLiteral("下载失败：无法保存文件 %1（%2）")
                       .arg(QDir::toNativeSeparators(m_targetPath), commit.reason));
        return;
    }
    finish(Result::Saved,
           QStringLiteral("下载完成：%1").arg(QDir::toNativeSeparators(m_targetPath)));
}

void DownloadJob::fail(const QString &message)
{
    finish(Result::Failed, message);
}

void DownloadJob::finish(Result result, const QString &message)
{
    if (m_done)
        return;
    m_done = true;
    if (m_file && result != Result::Saved) {
        m_file->cancelWriting();
        m_file.reset(); // removes the temporary file
    }
    Q_EMIT finished(result, message);
}
