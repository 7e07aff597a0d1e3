#include "downloads/DownloadManager.h"

#include "downloads/DownloadNaming.h"
#include "net/NetworkBackend.h"

#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

namespace {

// Title of the save dialog and of the download message boxes.
const char16_t kDialogTitle[] = u"下载歌曲";
// How much of a song's start shows its type, and how long the look at it
// may take.
constexpr qint64 kProbeBytes = 512;
constexpr int kProbeTimeoutMs = 5000;

} // namespace

DownloadManager::DownloadManager(QWidget *window, QObject *parent)
    : QObject(parent), m_window(window)
{
}

DownloadManager::~DownloadManager()
{
    // Jobs are children of this object; destroying them drops their
    // temporary files, so quitting mid-download leaves no partial song.
}

QString DownloadManager::defaultFolder() const
{
    if (!m_lastFolder.isEmpty() && QFileInfo(m_lastFolder).isDir())
        return m_lastFolder;
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (!downloads.isEmpty() && QFileInfo(downloads).isDir())
        return downloads;
    return QDir::homePath();
}

void DownloadManager::setLastFolder(const QString &folder)
{
    if (folder == m_lastFolder)
        return;
    m_lastFolder = folder;
    Q_EMIT lastFolderChanged(folder);
}

QList<DownloadJob *> DownloadManager::activeJobs() const
{
    QList<DownloadJob *> out;
    for (const auto &job : m_jobs) {
        if (job && !job->isFinished())
            out.append(job);
    }
    return out;
}

DownloadJob *DownloadManager::download(const QString &link, const QString &nameHint)
{
    const QString trimmed = link.trimmed();
    if (trimmed.isEmpty()) {
        showMessage(true, QStringLiteral("下载失败：没有找到这首歌曲的下载地址"));
        return nullptr;
    }
    const QUrl url(trimmed, QUrl::StrictMode);
    if (!DownloadNaming::isDownloadableUrl(url)) {
        showMessage(true, QStringLiteral("下载失败：只能下载 http 或 https 地址"));
        return nullptr;
    }

    // The extension follows what the link answers, so it is asked before
    // the save dialog suggests a name.
    QPointer<DownloadManager> alive(this);
    const QString extension = probeExtension(url);
    if (!alive)
        return nullptr;
    const QString suggested =
        QDir(defaultFolder()).filePath(DownloadNaming::suggestedFileName(url, nameHint, extension));
    const QString path = choosePath(suggested);
    if (path.isEmpty())
        return nullptr;
    setLastFolder(QFileInfo(path).absolutePath());

    auto *job = new DownloadJob(url, path, this);
    m_jobs.removeAll(nullptr);
    m_jobs.append(job);
    connect(
        job, &DownloadJob::finished, this,
        [this, job](DownloadJob::Result result, const QString &message) {
            // A finished download says so, naming the file; a failed one
            // says why.
            if (result == DownloadJob::Result::Failed)
                showMessage(true, message);
            else if (result == DownloadJob::Result::Saved)
                showMessage(
                    false,
                    QStringLiteral("下载完成：%1").arg(QFileInfo(job->targetPath()).fileName()));
            Q_EMIT downloadFinished(job->targetPath(), result);
            job->deleteLater();
        });
    if (m_showProgress)
        attachProgress(job, QFileInfo(path).fileName());
    job->start();
    return job;
}

QString DownloadManager::probeExtension(const QUrl &url)
{
    // One short request: the answer's headers and its first bytes are all
    // that is needed, so it ends as soon as they are here (or after a few
    // seconds, when the name goes without them).
    NetworkBackend *network = NetworkBackend::instance();
    if (!network)
        return DownloadNaming::extensionFor(QString(), QByteArray(), url);
    HttpStream::Request request;
    request.url = url;
    request.transferTimeoutMs = kProbeTimeoutMs;
    request.headers.append({QByteArrayLiteral("Range"),
                            QByteArrayLiteral("bytes=0-") + QByteArray::number(kProbeBytes - 1)});
    QEventLoop wait;
    QByteArray firstBytes;
    HttpStream *reply = nullptr;
    HttpStream::Handlers handlers;
    handlers.readyRead = [&] {
        firstBytes += reply->read(kProbeBytes - firstBytes.size());
        if (!firstBytes.isEmpty())
            wait.quit();
    };
    handlers.finished = [&wait] { wait.quit(); };
    const std::unique_ptr<HttpStream> stream = network->open(request, std::move(handlers));
    reply = stream.get();
    QTimer::singleShot(kProbeTimeoutMs, &wait, &QEventLoop::quit);
    if (!stream->isFinished())
        wait.exec();
    const int status = stream->status();
    QString contentType;
    // An error page's type and bytes describe the page, not the song.
    if (status >= 200 && status < 300) {
        contentType = stream->contentType();
        if (firstBytes.isEmpty())
            firstBytes = stream->read(kProbeBytes);
    } else {
        firstBytes.clear();
    }
    return DownloadNaming::extensionFor(contentType, firstBytes, url);
}

QString DownloadManager::choosePath(const QString &suggestedPath)
{
    if (m_chooser)
        return m_chooser(suggestedPath);
    return QFileDialog::getSaveFileName(
        m_window, QString::fromUtf16(kDialogTitle), suggestedPath,
        QStringLiteral("音频文件 (*.mp3 *.m4a *.aac *.flac *.ogg *.opus *.wav *.wma);;"
                       "所有文件 (*)"));
}

void DownloadManager::showMessage(bool isError, const QString &text)
{
    if (m_sink) {
        m_sink(isError, text);
        return;
    }
    if (isError)
        QMessageBox::warning(m_window, QString::fromUtf16(kDialogTitle), text);
    else
        QMessageBox::information(m_window, QString::fromUtf16(kDialogTitle), text);
}

void DownloadManager::attachProgress(DownloadJob *job, const QString &fileName)
{
    // Not modal: the player keeps playing and can start other downloads.
    auto *dialog = new QProgressDialog(QStringLiteral("正在下载：%1").arg(fileName),
                                       QStringLiteral("取消"), 0, 0, m_window);
    dialog->setWindowTitle(QString::fromUtf16(kDialogTitle));
    dialog->setWindowModality(Qt::NonModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    dialog->setMinimumDuration(0);
    connect(dialog, &QProgressDialog::canceled, job, &DownloadJob::cancel);
    connect(job, &DownloadJob::progress, dialog, [dialog](qint64 received, qint64 total) {
        // The dialog counts in int; kibibytes keep songs of any size in range.
        if (total > 0) {
            dialog->setMaximum(static_cast<int>(total / 1024) + 1);
            dialog->setValue(static_cast<int>(received / 1024));
        }
    });
    // Closing the dialog counts as a cancel, so cut it loose from the job
    // before it goes away.
    const auto dismiss = [dialog, job] {
        QObject::disconnect(dialog, nullptr, job, nullptr);
        dialog->hide();
        dialog->deleteLater();
    };
    connect(job, &DownloadJob::finished, dialog, dismiss);
    connect(job, &QObject::destroyed, dialog, dismiss);
    dialog->show();
}
