// Saves songs for the download commands: asks where to save (a save dialog
// opening in the download folder, suggesting the caller's name with the
// extension the link's answer calls for), shows a progress dialog with a
// cancel button and reports the end, finished or failed, as a message. The dialogs are replaceable
// so that tests and scripts can drive the whole path without a user.
#pragma once

#include "downloads/DownloadJob.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

class QProgressDialog;
class QWidget;

class DownloadManager : public QObject
{
    Q_OBJECT
public:
    // Gets the suggested full path, returns the chosen one ("" = the user
    // cancelled).
    using PathChooser = std::function<QString(const QString &suggestedPath)>;
    // Shows one message to the user.
    using MessageSink = std::function<void(bool isError, const QString &text)>;

    explicit DownloadManager(QWidget *window, QObject *parent = nullptr);
    ~DownloadManager() override;

    void setPathChooser(PathChooser chooser) { m_chooser = std::move(chooser); }
    void setMessageSink(MessageSink sink) { m_sink = std::move(sink); }
    // Whether a progress dialog shows for each download (default true).
    void setShowProgress(bool show) { m_showProgress = show; }

    // Downloads `link`. `nameHint` (for example "title - singer") names the
    // file when the link's own name says nothing. Returns the running job,
    // or nullptr when the link was refused (message shown) or the user
    // cancelled the save dialog.
    DownloadJob *download(const QString &link, const QString &nameHint = QString());

    // The folder the save dialog opens in: the last folder saved to in this
    // run, else the system download folder, else the home folder.
    QString defaultFolder() const;
    // The folder last saved to (remembered between runs); "" when none.
    QString lastFolder() const { return m_lastFolder; }
    void setLastFolder(const QString &folder);

    QList<DownloadJob *> activeJobs() const;

Q_SIGNALS:
    void downloadFinished(const QString &path, DownloadJob::Result result);
    void lastFolderChanged(const QString &folder);

private:
    QString choosePath(const QString &suggestedPath);
    // The extension a download of url should carry, from the answer's
    // Content-Type or first bytes (DownloadNaming::extensionFor).
    QString probeExtension(const QUrl &url);
    void showMessage(bool isError, const QString &text);
    void attachProgress(DownloadJob *job, const QString &fileName);

    QPointer<QWidget> m_window;
    PathChooser m_chooser;
    MessageSink m_sink;
    bool m_showProgress = true;
    QString m_lastFolder;
    QList<QPointer<DownloadJob>> m_jobs;
};
