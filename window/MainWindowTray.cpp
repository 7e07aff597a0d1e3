// Closing and resizing the main window, and the tray tips both keep up to
// date. With a notification area closing never ends the program: the
// window goes to the tray and the tray menu's exit command ends it. Without
// one a hidden window could not be reached again, so closing ends the
// program through that same exit command.
#include "window/MainWindow.h"

#include "shell/TrayIcon.h"

#include <QCloseEvent>

namespace {

// Balloon flags of the window's tray updates: the information icon.
constexpr int kInfoBalloon = 1;
constexpr int kBalloonTimeoutMs = 5000;
// Balloon shown when the window goes to the tray before anything played.
const QString kHereBalloon = QStringLiteral("我在这里哦!");

} // namespace

void MainWindow::closeEvent(QCloseEvent *event)
{
    bool cancel = false;
    closeToTray(cancel);
    if (cancel)
        event->ignore();
    else
        event->accept();
}

void MainWindow::closeToTray(bool &cancel)
{
    if (!tray::isTrayUsable()) {
        cancel = false;
        exitPlayer();
        return;
    }
    cancel = true;
    setWindowState(windowState() | Qt::WindowMinimized);
    hide();
    if (m_state->nowPlayingTest()) {
        tray::updateTrayIcon(this, m_state->nowPlayingTip(), QString(), kInfoBalloon,
                             kBalloonTimeoutMs);
        m_state->setTrayTipMode(2);
    } else {
        tray::updateTrayIcon(this, windowTitle(), kHereBalloon, kInfoBalloon, kBalloonTimeoutMs);
        m_state->setTrayTipMode(1);
    }
}

void MainWindow::onResized()
{
    // After the exit command the icon stays removed.
    if (!m_loaded || m_closing)
        return;
    const QString tip = m_state->trayTip(windowTitle());
    tray::updateTrayIcon(this, tip, QString(), kInfoBalloon, kBalloonTimeoutMs);
}

void MainWindow::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::WindowStateChange)
        onResized();
    QWidget::changeEvent(event);
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    onResized();
}
