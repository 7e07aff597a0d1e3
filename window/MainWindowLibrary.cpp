// The music library dialog, and songs from files the desktop hands over
// (the command line, a second start, a drop on the playlist).
#include "window/LibraryDialog.h"
#include "window/MainWindow.h"

#include "controls/listbox/PlaylistView.h"
#include "service/LocalFiles.h"
#include "service/ServiceConfig.h"
#include "window/EventHook.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

namespace {

// How long a message about files that could not be added stays.
constexpr int kFilesMessageMs = 6000;

// The local files and folders a drag carries (none for anything else).
QStringList localPathsOf(const QMimeData *data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl &url : data->urls()) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    return paths;
}

} // namespace

LibraryDialog *MainWindow::libraryDialog() const
{
    return m_libraryDialog;
}

void MainWindow::showLibraryDialog()
{
    if (m_libraryDialog) {
        m_libraryDialog->show();
        m_libraryDialog->raise();
        m_libraryDialog->activateWindow();
        return;
    }
    const QString path = LibrarySettingsFile::defaultPath();
    const LibraryChoice start = LibrarySettingsFile::read(path).choice;
    m_libraryDialog = new LibraryDialog(start, path, this);
    m_libraryDialog->setWindowFlag(Qt::Window);
    m_libraryDialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_libraryDialog, &LibraryDialog::libraryChosen, this,
            [this, before = start](const LibraryChoice &choice) {
                // A server takes the next search at once. Our own service's
                // folders are the program's to apply (libraryChosen).
                if (!choice.usesOwnService())
                    ServiceConfig::setHost(choice.server);
                else if (!before.usesOwnService() && ServiceConfig::host() == before.server)
                    ServiceConfig::setHost(QString());
                Q_EMIT libraryChosen(choice);
            });
    m_libraryDialog->show();
}

void MainWindow::openFiles(const QStringList &paths)
{
    if (paths.isEmpty() || m_closing)
        return;
    QStringList absolute;
    for (const QString &path : paths)
        absolute.append(QFileInfo(path).absoluteFilePath());
    const musicservice::LocalFilesAnswer answer = musicservice::addLocalFiles(absolute);
    if (m_closing)
        return;
    const int first = playlistView->listCount();
    for (const SearchResult &song : answer.songs)
        playlistView->addItem(song.title, song.singer, song.songId, QString());
    if (!answer.problem.isEmpty())
        showStatusMessage(answer.problem, kFilesMessageMs);
    if (playlistView->listCount() > first)
        m_state->playItem(first, PlayEntry::Menu);
}

void MainWindow::connectFileDrops()
{
    playlistView->setAcceptDrops(true);
    EventHook::install(playlistView, [this](QEvent *event) {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto *drag = static_cast<QDragMoveEvent *>(event);
            if (localPathsOf(drag->mimeData()).isEmpty())
                return false;
            drag->acceptProposedAction();
            return true;
        }
        case QEvent::Drop: {
            auto *drop = static_cast<QDropEvent *>(event);
            const QStringList paths = localPathsOf(drop->mimeData());
            if (paths.isEmpty())
                return false;
            drop->acceptProposedAction();
            // After the drop has been answered: the drag's source is not
            // kept waiting while the service reads the files.
            QTimer::singleShot(0, this, [this, paths] { openFiles(paths); });
            return true;
        }
        default:
            return false;
        }
    });
}
