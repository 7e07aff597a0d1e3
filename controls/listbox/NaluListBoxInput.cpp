// NaluListBox input and scrolling: presses select, a left double click
// plays, the wheel and the embedded bar move the top row, and a resize lays
// the bar out again. Presses and double clicks work on the item under the
// pointer; the row geometry comes from ListGeometry.
#include "controls/listbox/NaluListBox.h"

#include "controls/MouseCodes.h"
#include "controls/scrollbar/ucScrollbar.h"

#include <QMouseEvent>
#include <QResizeEvent>
#include <QWheelEvent>

namespace {

// Mouse button codes of the control's events.
constexpr short kButtonLeft = mousecodes::kLeftButton;
constexpr short kButtonRight = mousecodes::kRightButton;

} // namespace

short NaluListBox::buttonCode(Qt::MouseButtons buttons)
{
    return short(mousecodes::buttonCode(buttons));
}

short NaluListBox::shiftCode(Qt::KeyboardModifiers modifiers)
{
    return short(mousecodes::shiftCode(modifiers));
}

void NaluListBox::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    const QPointF pos = event->position();
    m_lastMouseDown = {buttonCode(event->button()), shiftCode(event->modifiers()), float(pos.x()),
                       float(pos.y())};
    m_pressPending = true;
    const MouseState press = m_lastMouseDown;

    if ((press.button == kButtonLeft || press.button == kButtonRight) && !m_items.isEmpty()) {
        const int index =
            listgeo::hitTest(press.y, m_props.BorderWidth, m_props.ItemHeight, m_firstIndex);
        // A press on the selected item or below the list is ignored whole:
        // no selection change and no MouseDown.
        if (!isValidIndex(index) || index == m_listIndex)
            return;
        changeIndex(m_listIndex, short(index), 0, &NaluListBox::ListIndexChanged);
    }
    Q_EMIT MouseDown(press.button, press.shift, press.x, press.y);
}

void NaluListBox::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept();
    // The double click reports where its first press happened.
    const MouseState press = m_lastMouseDown;
    if (!m_items.isEmpty() && press.button == kButtonLeft) {
        const int index =
            listgeo::hitTest(press.y, m_props.BorderWidth, m_props.ItemHeight, m_firstIndex);
        // Double clicking the playing item does not restart it.
        if (!isValidIndex(index) || index == m_playIndex)
            return;
        changeIndex(m_playIndex, short(index), 0, &NaluListBox::PlayIndexChanged);
    }
    Q_EMIT DBClick(press.button, press.shift, press.x, press.y);
}

void NaluListBox::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    const QPointF pos = event->position();
    Q_EMIT MouseUp(buttonCode(event->button()), shiftCode(event->modifiers()), float(pos.x()),
                   float(pos.y()));
    // A press released over the control is a click; the release that ends a
    // double click is not a second one.
    const bool click = m_pressPending && rect().contains(pos.toPoint());
    m_pressPending = false;
    if (click) {
        const MouseState press = m_lastMouseDown;
        Q_EMIT Click(press.button, press.shift, press.x, press.y);
    }
}

void NaluListBox::mouseMoveEvent(QMouseEvent *event)
{
    const QPointF pos = event->position();
    Q_EMIT MouseMove(buttonCode(event->buttons()), shiftCode(event->modifiers()), float(pos.x()),
                     float(pos.y()));
}

void NaluListBox::wheelEvent(QWheelEvent *event)
{
    // Scrolling is done by the wheel message after this handler; the event
    // stops here so no parent scrolls as well.
    event->accept();
}

void NaluListBox::zSubclass_Proc(bool bBefore, bool &, qint32 &, QWidget *&lng_hWnd, qint32 &uMsg,
                                 qint32 &wParam, qint32 &)
{
    if (bBefore || lng_hWnd != this || uMsg != wm::kMouseWheel)
        return;
    onWheel(qint16(quint32(wParam) >> 16));
}

void NaluListBox::onWheel(int delta)
{
    if (ucBar->isHidden())
        return;
    const listgeo::Layout l = layout();
    const int step = listgeo::wheelStep(listgeo::innerHeight(l), m_props.ItemHeight);
    const int target = listgeo::wheelTarget(ucBar->Value(), ucBar->Max(), delta, step);
    if (target == ucBar->Value())
        return;
    ucBar->setValue(target);
    RedrawRows();
    Q_EMIT Scroll();
}

void NaluListBox::onBarChange()
{
    if (ucBar->isHidden())
        return;
    m_firstIndex = short(ucBar->Value());
    RedrawRows();
}

void NaluListBox::onBarScroll()
{
    onBarChange();
    Q_EMIT Scroll();
}

void NaluListBox::UpdateScrollRange()
{
    if (!ucBar)
        return;
    if (m_items.isEmpty()) {
        ucBar->setMax(0);
        ucBar->setVisible(false);
    } else {
        const listgeo::ScrollRange range =
            listgeo::scrollRange(ListCount(), listgeo::innerHeight(layout()), m_props.ItemHeight);
        ucBar->setMax(range.max);
        ucBar->setVisible(range.visible);
    }
    // When the range shrinks the bar lowers its value silently; the top row
    // follows it so no item is left out of reach above the view.
    const int top = std::max(0, ucBar->Max());
    if (m_firstIndex > top) {
        m_firstIndex = short(top);
        RedrawRows();
    }
}

void NaluListBox::placeBar()
{
    if (ucBar)
        ucBar->setGeometry(listgeo::barRect(layout(), ucBar->width()));
}

void NaluListBox::handleResize()
{
    // Growth is painted by Qt's own paint request; shrinking repaints now.
    if (width() < m_lastSize.width() || height() < m_lastSize.height())
        Paint();
    UpdateScrollRange();
    placeBar();
    m_lastSize = size();
    Q_EMIT Resize();
}

void NaluListBox::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    handleResize();
}
