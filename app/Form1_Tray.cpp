// Closing and resizing the main window, and the tray tips both keep up to
// date. Closing never ends the program: the window goes to the tray and
// the tray menu's exit command is the only way out.
#include "app/Form1.h"

#include "app/PlaybackState.h"
#include "shell/Trayico.h"

#include <QCloseEvent>

namespace {

// Balloon flags of the window's tray updates: the information icon.
constexpr int kInfoBalloon = 1;
constexpr int kBalloonTimeoutMs = 5000;
// Balloon shown when the window goes to the tray before anything played.
const QString kHereBalloon = QStringLiteral("我在这里哦!");

} // namespace

void Form1::closeEvent(QCloseEvent *event)
{
    bool cancel = false;
    Form_Unload(cancel);
    if (cancel)
        event->ignore();
    else
        event->accept();
}

void Form1::Form_Unload(bool &cancel)
{
    cancel = true;
    setWindowState(windowState() | Qt::WindowMinimized);
    // Without a notification area a hidden window could not be reached
    // again, so it then stays minimised on the task bar.
    if (Trayico::TrayUsable())
        hide();
    PlaybackState &state = PlaybackState::instance();
    if (state.nowPlayingTest()) {
        Trayico::UpdateTrayIcon(this, state.nowPlayingTip(), QString(), kInfoBalloon,
                                kBalloonTimeoutMs);
        state.TrayTipMode = 2;
    } else {
        Trayico::UpdateTrayIcon(this, windowTitle(), kHereBalloon, kInfoBalloon, kBalloonTimeoutMs);
        state.TrayTipMode = 1;
    }
}

void Form1::Form_Resize()
{
    if (!m_loaded)
        return;
    const PlaybackState &state = PlaybackState::instance();
    const QString tip = state.nowPlayingTest() ? state.nowPlayingTip() : windowTitle();
    Trayico::UpdateTrayIcon(this, tip, QString(), kInfoBalloon, kBalloonTimeoutMs);
}

void Form1::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
    QWidget::changeEvent(event);
}

void Form1::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}
