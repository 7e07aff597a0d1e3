#include "controls/image/ImageControl.h"

#include "controls/MouseCodes.h"

#include "controls/Twips.h"
#include "controls/image/ImageControlAccessible.h"

#include <QKeyEvent>
#include <QMouseEvent>

ImageControl::LazyPicture::LazyPicture(const QPixmap &picture)
{
    if (!picture.isNull())
        m_state = std::make_shared<State>(State{{}, picture});
}

ImageControl::LazyPicture::LazyPicture(std::function<QPixmap()> draw)
{
    if (draw)
        m_state = std::make_shared<State>(State{std::move(draw), QPixmap()});
}

QPixmap ImageControl::LazyPicture::get() const
{
    if (!m_state)
        return QPixmap();
    if (m_state->draw) {
        m_state->picture = m_state->draw();
        m_state->draw = nullptr;
    }
    return m_state->picture;
}

ImageControl::ImageControl(QWidget *parent) : QLabel(parent)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(&ImageControlAccessible::create);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setMouseTracking(true);
    setAlignment(Qt::AlignCenter);
}

void ImageControl::keyPressEvent(QKeyEvent *event)
{
    const bool activate = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (activate && m_accessibleRole == QAccessible::Button) {
        Q_EMIT clicked();
        return;
    }
    QLabel::keyPressEvent(event);
}

void ImageControl::focusInEvent(QFocusEvent *event)
{
    if (!m_looks.hover.isNull())
        showHoverLook();
    QLabel::focusInEvent(event);
}

void ImageControl::focusOutEvent(QFocusEvent *event)
{
    if (!m_looks.normal.isNull())
        showNormalLook();
    QLabel::focusOutEvent(event);
}

void ImageControl::setPicture(const QPixmap &picture)
{
    m_picture = picture;
    setPixmap(picture);
}

int ImageControl::dpi() const
{
    const int value = logicalDpiX();
    return value > 0 ? value : 96;
}

int ImageControl::leftTwips() const
{
    return qRound(Twips::fromPixels(x(), dpi()));
}

void ImageControl::setLeftTwips(int twips)
{
    move(Twips::toPixels(twips, dpi()), y());
}

int ImageControl::topTwips() const
{
    return qRound(Twips::fromPixels(y(), dpi()));
}

void ImageControl::setTopTwips(int twips)
{
    move(x(), Twips::toPixels(twips, dpi()));
}

int ImageControl::widthTwips() const
{
    return qRound(Twips::fromPixels(width(), dpi()));
}

void ImageControl::setWidthTwips(int twips)
{
    resize(qMax(0, Twips::toPixels(twips, dpi())), height());
}

int ImageControl::heightTwips() const
{
    return qRound(Twips::fromPixels(height(), dpi()));
}

void ImageControl::setHeightTwips(int twips)
{
    resize(width(), qMax(0, Twips::toPixels(twips, dpi())));
}

void ImageControl::setGeometryTwips(int left, int top, int width, int height)
{
    const int d = dpi();
    setGeometry(Twips::toPixels(left, d), Twips::toPixels(top, d),
                qMax(0, Twips::toPixels(width, d)), qMax(0, Twips::toPixels(height, d)));
}

int ImageControl::buttonsOf(Qt::MouseButtons buttons)
{
    return mousecodes::buttonCode(buttons);
}

int ImageControl::shiftOf(Qt::KeyboardModifiers modifiers)
{
    return mousecodes::shiftCode(modifiers);
}

void ImageControl::mousePressEvent(QMouseEvent *event)
{
    m_pressedInside = true;
    const QPointF p = event->position();
    Q_EMIT mouseDown(buttonsOf(event->button()), shiftOf(event->modifiers()),
                     Twips::fromPixels(p.x(), dpi()), Twips::fromPixels(p.y(), dpi()));
}

void ImageControl::mouseMoveEvent(QMouseEvent *event)
{
    const QPointF p = event->position();
    Q_EMIT mouseMoved(buttonsOf(event->buttons()), shiftOf(event->modifiers()),
                      Twips::fromPixels(p.x(), dpi()), Twips::fromPixels(p.y(), dpi()));
}

void ImageControl::mouseReleaseEvent(QMouseEvent *event)
{
    const QPointF p = event->position();
    const bool click = m_pressedInside && rect().contains(p.toPoint());
    m_pressedInside = false;
    Q_EMIT mouseUp(buttonsOf(event->button()), shiftOf(event->modifiers()),
                   Twips::fromPixels(p.x(), dpi()), Twips::fromPixels(p.y(), dpi()));
    // Only a left press and release on the picture is a click.
    if (click && event->button() == Qt::LeftButton)
        Q_EMIT clicked();
}

void ImageControl::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        Q_EMIT doubleClicked();
}
