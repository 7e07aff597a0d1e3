// The player's own view: what the user sees after clicking the singer
// picture (a dark panel with the state, the times and a progress line), its
// mouse signals and its full-screen switch. Playback itself is in
// MediaPlayer.cpp.
#include "playback/MediaPlayer.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>

namespace {

// Colours of the view; the accent is the playlist's playing-item colour
// (red 255, green 128, blue 255).
const QColor kBackgroundColour(22, 22, 28);
const QColor kTextColour(225, 225, 230);
const QColor kTrackColour(70, 70, 80);
const QColor kAccentColour(255, 128, 255);

} // namespace

void MediaPlayer::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), kBackgroundColour);
    if (m_status.isEmpty())
        return;

    const int margin = qMax(4, width() / 12);
    const QRect textArea = rect().adjusted(margin, margin, -margin, -margin);
    painter.setPen(kTextColour);
    QFont font = painter.font();
    font.setPixelSize(qBound(10, height() / 10, 28));
    painter.setFont(font);
    const QString times =
        m_controls.currentPositionString() + QStringLiteral(" / ") + m_media.durationString();
    painter.drawText(textArea, Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextWordWrap,
                     m_status + QLatin1Char('\n') + times);

    const int barY = height() - margin;
    painter.fillRect(QRect(margin, barY, width() - 2 * margin, 3), kTrackColour);
    if (m_duration > 0) {
        const double fraction = qBound(0.0, readPosition() / m_duration, 1.0);
        painter.fillRect(QRect(margin, barY, int((width() - 2 * margin) * fraction), 3),
                         kAccentColour);
    }
}

void MediaPlayer::updateRepaintTimer()
{
    // The view only moves while it can be seen and the track runs.
    const bool running = isVisible() && (m_state == kStatePlaying || m_state == kStateBuffering);
    if (running && !m_repaintTimer->isActive())
        m_repaintTimer->start();
    else if (!running)
        m_repaintTimer->stop();
}

void MediaPlayer::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updateRepaintTimer();
}

void MediaPlayer::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    updateRepaintTimer();
}

void MediaPlayer::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && !m_doubleClickHeld)
        m_pressed = true;
    QWidget::mousePressEvent(event);
}

void MediaPlayer::mouseReleaseEvent(QMouseEvent *event)
{
    const bool click = m_pressed && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    m_pressed = false;
    if (event->button() == Qt::LeftButton)
        m_doubleClickHeld = false;
    if (!click)
        return;
    // A click still waiting was not followed by a double click: it stands.
    if (m_clickTimer->isActive()) {
        m_clickTimer->stop();
        Q_EMIT clicked();
    }
    m_clickTimer->start(QApplication::doubleClickInterval());
}

void MediaPlayer::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The click waiting from the first half of the pair belongs to this
    // double click; the release that follows this press is no click either.
    m_pressed = false;
    if (event->button() != Qt::LeftButton)
        return;
    m_doubleClickHeld = true;
    m_clickTimer->stop();
    Q_EMIT doubleClicked();
}

void MediaPlayer::keyPressEvent(QKeyEvent *event)
{
    // Escape leaves full screen, and so does F11, the key that entered it.
    if ((event->key() == Qt::Key_Escape || event->key() == Qt::Key_F11) && m_fullScreen) {
        setFullScreen(false);
        return;
    }
    QWidget::keyPressEvent(event);
}

void MediaPlayer::setFullScreen(bool on)
{
    if (on == m_fullScreen)
        return;
    m_fullScreen = on;
    if (!parentWidget()) {
        if (on)
            showFullScreen();
        else
            showNormal();
        return;
    }
    // Embedded in the window's frame: become a window of our own for the
    // full-screen spell, then go back into the frame where we were.
    if (on) {
        m_normalGeometry = geometry();
        m_hiddenBeforeFullScreen = isHidden();
        QScreen *screen = window()->screen();
        setWindowFlag(Qt::Window, true);
        // The full-screen state is a request to a window manager; without
        // one nothing would size the view, so it takes the screen itself.
        if (screen)
            setGeometry(screen->geometry());
        showFullScreen();
        activateWindow();
        setFocus(Qt::OtherFocusReason);
    } else {
        setWindowState(windowState() & ~Qt::WindowFullScreen);
        setWindowFlag(Qt::Window, false);
        setGeometry(m_normalGeometry);
        setVisible(!m_hiddenBeforeFullScreen);
        // The keys go back to the window the view sits in (without a
        // window manager nobody else would give them).
        window()->activateWindow();
    }
}
