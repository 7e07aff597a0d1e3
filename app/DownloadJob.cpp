#include "app/DownloadJob.h"

#include "app/DownloadNaming.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QTimer>

namespace {

int g_stallTimeoutMs = 30000;

QString networkMessage(QNetworkReply::NetworkError e)
{
    switch (e) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("下载失败：连接被拒绝");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("下载失败：连接被中断，文件不完整");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("下载失败：找不到服务器");
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
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
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
    // m_file, never committed unless the download completed, drops its
    // temporary file here.
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

    m_manager = new QNetworkAccessManager(this);
    m_manager->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkRequest request(m_url);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Velmor/%1.%2.%3")
                                                            .arg(VELMOR_VERSION_MAJOR)
                                                            .arg(VELMOR_VERSION_MINOR)
                                                            .arg(VELMOR_VERSION_PATCH));
    request.setTransferTimeout(g_stallTimeoutMs);
    m_reply = m_manager->get(request);
    connect(m_reply, &QNetworkReply::readyRead, this, &DownloadJob::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &DownloadJob::onFinished);
    connect(m_reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64 total) {
        Q_EMIT progress(received, total > 0 ? total : -1);
    });
}

void DownloadJob::cancel()
{
    if (m_done)
        return;
    m_cancelled = true;
    if (m_reply && !m_reply->isFinished()) {
        m_reply->abort(); // finished() follows and reports the cancel
        return;
    }
    if (!m_reply)
        QTimer::singleShot(0, this, [this] { finish(Result::Cancelled, QString()); });
}

void DownloadJob::onReadyRead()
{
    if (!m_reply || !m_writeError.isEmpty())
        return;
    // An error page is not the song: keep its bytes out of the file.
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status != 0 && (status < 200 || status >= 300))
        return;
    const QByteArray chunk = m_reply->readAll();
    if (m_file->write(chunk) != chunk.size()) {
        m_writeError = QStringLiteral("下载失败：写入文件出错（%1）").arg(m_file->errorString());
        m_reply->abort();
        return;
    }
    m_written += chunk.size();
}

void DownloadJob::onFinished()
{
    QNetworkReply *reply = m_reply;
    if (!reply)
        return;
    reply->deleteLater();
    if (m_cancelled) {
        finish(Result::Cancelled, QString());
        return;
    }
    if (!m_writeError.isEmpty()) {
        fail(m_writeError);
        return;
    }
    const QVariant statusAttr = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttr.toInt();
    if (statusAttr.isValid() && (status < 200 || status >= 300)) {
        fail(QStringLiteral("下载失败：服务器返回错误 %1").arg(status));
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        fail(networkMessage(reply->error()));
        return;
    }
    onReadyRead(); // whatever arrived with the last notification
    if (!m_writeError.isEmpty()) {
        fail(m_writeError);
        return;
    }
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    // A compressed answer's length counts the compressed bytes, not ours.
    const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    const bool plainBody = encoding.isEmpty() || encoding == "identity";
    if (plainBody && length.isValid() && length.toLongLong() != m_written) {
        fail(QStringLiteral("下载失败：连接被中断，文件不完整"));
        return;
    }
    if (m_written == 0) {
        fail(QStringLiteral("下载失败：服务器没有返回数据"));
        return;
    }
    if (!m_file->commit()) {
        fail(QStringLiteral("下载失败：无法保存文件 %1（%2）")
                 .arg(QDir::toNativeSeparators(m_targetPath), m_file->errorString()));
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
