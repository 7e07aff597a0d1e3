// PlaylistView input and scrolling: presses select, a left double click
// plays, the wheel and the embedded bar move the top row, and a resize lays
// the bar out again. Presses and double clicks work on the item under the
// pointer; the row geometry comes from ListGeometry.
#include "controls/listbox/PlaylistView.h"

#include "controls/MouseCodes.h"
#include "controls/scrollbar/SkinScrollBar.h"

#include <QMouseEvent>
#include <QResizeEvent>
#include <QWheelEvent>

namespace {

// Mouse button codes of the control's events.
constexpr short kButtonLeft = mousecodes::kLeftButton;
constexpr short kButtonRight = mousecodes::kRightButton;

} // namespace

short PlaylistView::buttonCode(Qt::MouseButtons buttons)
{
    return short(mousecodes::buttonCode(buttons));
}

short PlaylistView::shiftCode(Qt::KeyboardModifiers modifiers)
{
    return short(mousecodes::shiftCode(modifiers));
}

void PlaylistView::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    const QPointF pos = event->position();
    m_lastMouseDown = {buttonCode(event->button()), shiftCode(event->modifiers()), float(pos.x()),
                       float(pos.y())};
    m_pressPending = true;
    const MouseState press = m_lastMouseDown;

    if ((press.button == kButtonLeft || press.button == kButtonRight) && listCount() > 0) {
        const int index =
            listgeo::hitTest(press.y, m_props.borderWidth, m_props.itemHeight, m_firstIndex);
        // A press on the selected item or below the list is ignored whole:
        // no selection change and no mousePressed.
        if (!isValidIndex(index) || index == listIndex())
            return;
        changeIndex(Index::List, short(index), 0);
    }
    Q_EMIT mousePressed(press.button, press.shift, press.x, press.y);
}

void PlaylistView::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept();
    // The double click reports where its first press happened.
    const MouseState press = m_lastMouseDown;
    if (listCount() > 0 && press.button == kButtonLeft) {
        const int index =
            listgeo::hitTest(press.y, m_props.borderWidth, m_props.itemHeight, m_firstIndex);
        // Double clicking the playing item does not restart it.
        if (!isValidIndex(index) || index == playIndex())
            return;
        changeIndex(Index::Play, short(index), 0);
    }
    Q_EMIT doubleClicked(press.button, press.shift, press.x, press.y);
}

void PlaylistView::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    const QPointF pos = event->position();
    Q_EMIT mouseReleased(buttonCode(event->button()), shiftCode(event->modifiers()), float(pos.x()),
                         float(pos.y()));
    // A press released over the control is a click; the release that ends a
    // double click is not a second one.
    const bool click = m_pressPending && rect().contains(pos.toPoint());
    m_pressPending = false;
    if (click) {
        const MouseState press = m_lastMouseDown;
        Q_EMIT clicked(press.button, press.shift, press.x, press.y);
    }
}

void PlaylistView::mouseMoveEvent(QMouseEvent *event)
{
    const QPointF pos = event->position();
    Q_EMIT mouseMoved(buttonCode(event->buttons()), shiftCode(event->modifiers()), float(pos.x()),
                      float(pos.y()));
}

void PlaylistView::wheelEvent(QWheelEvent *event)
{
    // Scrolling is done by the wheel message after this handler; the event
    // stops here so no parent scrolls as well.
    event->accept();
}

void PlaylistView::handleMessage(bool before, bool &, qint32 &, QWidget *&window, qint32 &message,
                                 qint32 &wParam, qint32 &)
{
    if (before || window != this || message != wm::kMouseWheel)
        return;
    onWheel(qint16(quint32(wParam) >> 16));
}

void PlaylistView::onWheel(int delta)
{
    if (m_scrollBar->isHidden())
        return;
    const listgeo::Layout l = layout();
    const int step = listgeo::wheelStep(listgeo::innerHeight(l), m_props.itemHeight);
    const int target =
        listgeo::wheelTarget(m_scrollBar->value(), m_scrollBar->maximum(), delta, step);
    if (target == m_scrollBar->value())
        return;
    m_scrollBar->setValue(target);
    redrawRows();
    Q_EMIT scrolled();
}

void PlaylistView::onBarChange()
{
    if (m_scrollBar->isHidden())
        return;
    m_firstIndex = topRowFor(m_scrollBar->value());
    redrawRows();
}

void PlaylistView::onBarScroll()
{
    onBarChange();
    Q_EMIT scrolled();
}

void PlaylistView::updateScrollRange()
{
    if (!m_scrollBar)
        return;
    if (listCount() == 0) {
        m_scrollBar->setMaximum(0);
        m_scrollBar->setVisible(false);
    } else {
        const listgeo::ScrollRange range =
            listgeo::scrollRange(listCount(), listgeo::innerHeight(layout()), m_props.itemHeight);
        m_scrollBar->setMaximum(range.max);
        m_scrollBar->setVisible(range.visible);
    }
    // When the range shrinks the bar lowers its value silently; the top row
    // follows it so no item is left out of reach above the view.
    const short top = topRowFor(m_scrollBar->maximum());
    if (m_firstIndex > top) {
        m_firstIndex = top;
        redrawRows();
    }
}

short PlaylistView::topRowFor(int barValue) const
{
    // With a view too low for one whole row the bar's range reaches the
    // item count itself, one past the last index; at the full 32,768
    // items that would not even fit the 16-bit index. The top row is
    // always an item that exists.
    return short(std::clamp(barValue, 0, std::max(0, listCount() - 1)));
}

void PlaylistView::placeBar()
{
    if (m_scrollBar)
        m_scrollBar->setGeometry(listgeo::barRect(layout(), m_scrollBar->width()));
}

void PlaylistView::handleResize()
{
    // Growth is painted by Qt's own paint request; shrinking repaints now.
    if (width() < m_lastSize.width() || height() < m_lastSize.height())
        paint();
    updateScrollRange();
    placeBar();
    m_lastSize = size();
    Q_EMIT resized();
}

void PlaylistView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    handleResize();
}
