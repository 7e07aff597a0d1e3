#include "controls/scrollbar/ucScrollbar.h"

#include "controls/PropertyBag.h"
#include "controls/scrollbar/cScrollbarDraw.h"

#include <QCursor>
#include <QMouseEvent>
#include <QPainter>

#include <climits>

using namespace scrollbar;

namespace {

// The bar's own window timers.
constexpr int kTimerDelay = 1;  // one-shot wait before auto-repeat
constexpr int kTimerRepeat = 2; // auto-repeat step
constexpr int kTimerHot = 3;    // ends the hot state once the pointer left the part
constexpr int kTimerInside = 4; // ends the inside state once the pointer left the bar
constexpr int kHoverPollMs = 25;
// The shortest repeat period; also applied to a stored period, so that a
// saved 0 cannot turn the repeat into a busy loop.
constexpr int kMinChangeFrequency = 25;

// Arrow button, track and thumb states of the skin.
constexpr qint16 kButtonNormal = 0;
constexpr qint16 kButtonInside = 1;
constexpr qint16 kButtonHot = 2;
constexpr qint16 kButtonPressed = 3;
constexpr qint16 kButtonDisabled = 4;
constexpr qint16 kTrackNormal = 0;
constexpr qint16 kTrackPressed = 1;
constexpr qint16 kThumbNormal = 0;
constexpr qint16 kThumbHot = 1;
constexpr qint16 kThumbPressed = 2;
constexpr qint16 kThumbDisabled = 3;

int clampToInt(qint64 value)
{
    return int(qBound(qint64(INT_MIN), value, qint64(INT_MAX)));
}

} // namespace

ucScrollbar::ucScrollbar(QWidget *parent)
    : QWidget(parent), m_hook(this), m_gapBrush(Qt::Dense4Pattern)
{
    setMouseTracking(true); // hover states need moves without a button
    resize(sizeHint());
    Relayout(false);

    m_hook.Subclass(this);
    m_hook.AddMessage(this, wm::kPaint, SubclassHook::kPhaseBefore);
    m_hook.AddMessage(this, wm::kSize, SubclassHook::kPhaseBefore);
    for (const qint32 message : {wm::kCancelMode, wm::kMouseMove, wm::kLButtonDown, wm::kLButtonUp,
                                 wm::kLButtonDblClk, wm::kTimer, wm::kSysColorChange})
        m_hook.AddMessage(this, message, SubclassHook::kPhaseAfter);
}

ucScrollbar::~ucScrollbar()
{
    m_hook.UnsubclassAll();
}

QSize ucScrollbar::sizeHint() const
{
    return m_orientation == kHorizontal ? QSize(100, kDefaultThickness)
                                        : QSize(kDefaultThickness, 100);
}

// --- properties ---------------------------------------------------------

void ucScrollbar::setMin(int New_Min)
{
    m_min = qMin(New_Min, m_max);
    m_range = qint64(m_max) - m_min;
    if (m_value < m_min)
        m_value = m_min; // brought into range quietly, no Change
    recomputeThumb();
    update();
}

void ucScrollbar::setMax(int New_Max)
{
    m_max = qMax(New_Max, m_min);
    m_range = qint64(m_max) - m_min;
    if (m_value > m_max)
        m_value = m_max;
    recomputeThumb();
    update();
}

void ucScrollbar::setValue(int New_Value)
{
    const int old = m_value;
    m_value = qBound(m_min, New_Value, qMax(m_min, m_max));
    m_thumbPos = ThumbPosFromValue(trackStart(), trackEnd() - trackStart(), m_thumbSize, m_range,
                                   m_value, m_min);
    updateThumbRects();
    update();
    if (m_value != old)
        Q_EMIT Change();
}

void ucScrollbar::setSmallChange(int New_SmallChange)
{
    m_smallChange = New_SmallChange <= 0 ? 1 : New_SmallChange;
    recomputeThumb();
    update();
}

void ucScrollbar::setLargeChange(int New_LargeChange)
{
    m_largeChange = New_LargeChange <= 0 ? 1 : New_LargeChange;
    recomputeThumb();
    update();
}

void ucScrollbar::setChangeDelay(int New_ChangeDelay)
{
    m_changeDelay = qMax(0, New_ChangeDelay);
}

void ucScrollbar::setChangeFrequency(int New_ChangeFrequency)
{
    m_changeFrequency = qMax(kMinChangeFrequency, New_ChangeFrequency);
}

void ucScrollbar::setOrientation(int New_Orientation)
{
    m_orientation = qBound(kVertical, New_Orientation, kHorizontal);
    updateGeometry();
    Relayout();
}

void ucScrollbar::setShowButtons(bool New_ShowButtons)
{
    m_showButtons = New_ShowButtons;
    Relayout();
}

void ucScrollbar::Refresh()
{
    update();
}

void ucScrollbar::ReadProperties(const PropertyBag &bag)
{
    setEnabled(bag.ReadProperty(QStringLiteral("Enabled"), true).toBool());
    m_min = bag.ReadProperty(QStringLiteral("Min"), 0).toInt();
    m_max = bag.ReadProperty(QStringLiteral("Max"), 100).toInt();
    m_value = bag.ReadProperty(QStringLiteral("Value"), 0).toInt();
    m_smallChange = bag.ReadProperty(QStringLiteral("SmallChange"), 1).toInt();
    m_largeChange = bag.ReadProperty(QStringLiteral("LargeChange"), 10).toInt();
    m_changeDelay = bag.ReadProperty(QStringLiteral("ChangeDelay"), 500).toInt();
    m_changeFrequency = bag.ReadProperty(QStringLiteral("ChangeFrequency"), 50).toInt();
    m_orientation = bag.ReadProperty(QStringLiteral("Orientation"), 0).toInt();
    m_showButtons = bag.ReadProperty(QStringLiteral("ShowButtons"), true).toBool();
    m_range = qint64(m_max) - m_min;
    updateGeometry();
    Relayout(false);
}

void ucScrollbar::WriteProperties(PropertyBag &bag) const
{
    bag.WriteProperty(QStringLiteral("Enabled"), isEnabled());
    bag.WriteProperty(QStringLiteral("Min"), m_min);
    bag.WriteProperty(QStringLiteral("Max"), m_max);
    bag.WriteProperty(QStringLiteral("Value"), m_value);
    bag.WriteProperty(QStringLiteral("SmallChange"), m_smallChange);
    bag.WriteProperty(QStringLiteral("LargeChange"), m_largeChange);
    bag.WriteProperty(QStringLiteral("ChangeDelay"), m_changeDelay);
    bag.WriteProperty(QStringLiteral("ChangeFrequency"), m_changeFrequency);
    bag.WriteProperty(QStringLiteral("Orientation"), m_orientation);
    bag.WriteProperty(QStringLiteral("ShowButtons"), m_showButtons);
}

bool ucScrollbar::isTimerRunning(int id) const
{
    return m_hook.isTimerActive(const_cast<ucScrollbar *>(this), id);
}

void ucScrollbar::setCursorSource(std::function<QPoint()> source)
{
    m_cursorSource = std::move(source);
}

// --- geometry -----------------------------------------------------------

int ucScrollbar::trackStart() const
{
    return TrackStart(m_layout, m_orientation);
}

int ucScrollbar::trackEnd() const
{
    return TrackEnd(m_layout, m_orientation);
}

int ucScrollbar::axisCoordinate(int x, int y) const
{
    return m_orientation == kHorizontal ? x : y;
}

void ucScrollbar::recomputeThumb()
{
    const int length = trackEnd() - trackStart();
    m_thumbSize = ThumbSizeFromRange(length, m_range, m_largeChange);
    m_thumbPos = ThumbPosFromValue(trackStart(), length, m_thumbSize, m_range, m_value, m_min);
    updateThumbRects();
}

void ucScrollbar::updateThumbRects()
{
    UpdateThumbRects(m_layout, m_orientation, m_thumbPos, m_thumbSize);
}

void ucScrollbar::Relayout(bool repaint)
{
    LayoutButtons(m_layout, width(), height(), m_orientation, m_showButtons);
    recomputeThumb();
    if (repaint)
        update();
}

// --- stepping -----------------------------------------------------------

bool ucScrollbar::StepBack(int amount, bool repaintAlways)
{
    return stepTo(qMax<qint64>(qint64(m_value) - amount, m_min), repaintAlways);
}

bool ucScrollbar::StepForward(int amount, bool repaintAlways)
{
    return stepTo(qMin<qint64>(qint64(m_value) + amount, m_max), repaintAlways);
}

bool ucScrollbar::stepTo(qint64 target, bool repaintAlways)
{
    const int value = clampToInt(target);
    if (value == m_value) {
        if (repaintAlways)
            update();
        return false;
    }
    m_value = value;
    m_thumbPos = ThumbPosFromValue(trackStart(), trackEnd() - trackStart(), m_thumbSize, m_range,
                                   m_value, m_min);
    updateThumbRects();
    update();
    Q_EMIT Change();
    return true;
}

// --- timers -------------------------------------------------------------

void ucScrollbar::startBarTimer(int id, int milliseconds)
{
    m_hook.SetTimer(this, id, milliseconds);
}

void ucScrollbar::stopBarTimer(int id)
{
    m_hook.KillTimer(this, id);
    m_hoverPart = kPartNone;
}

QPoint ucScrollbar::cursorInClient() const
{
    return mapFromGlobal(m_cursorSource ? m_cursorSource() : QCursor::pos());
}

void ucScrollbar::onTimer(qint32 id)
{
    switch (id) {
    case kTimerDelay:
        stopBarTimer(kTimerDelay);
        startBarTimer(kTimerRepeat, qMax(kMinChangeFrequency, m_changeFrequency));
        break;
    case kTimerRepeat: {
        const int pointer = axisCoordinate(m_lastX, m_lastY);
        switch (m_pressedPart) {
        case kPartFirstButton:
            if (m_layout.firstButton.contains(m_lastX, m_lastY) && !StepBack(m_smallChange, false))
                stopBarTimer(kTimerRepeat);
            break;
        case kPartSecondButton:
            if (m_layout.secondButton.contains(m_lastX, m_lastY) &&
                !StepForward(m_smallChange, false))
                stopBarTimer(kTimerRepeat);
            break;
        case kPartTrackBefore:
            // Pages only while the thumb has not yet reached the pointer;
            // the band is drawn released once it has, though still held.
            m_trackBeforePressed = m_thumbPos > pointer;
            if (m_trackBeforePressed)
                StepBack(m_largeChange, false);
            else
                update();
            break;
        case kPartTrackAfter:
            m_trackAfterPressed = m_thumbPos + m_thumbSize < pointer;
            if (m_trackAfterPressed)
                StepForward(m_largeChange, false);
            else
                update();
            break;
        default:
            break;
        }
        break;
    }
    case kTimerHot: {
        const QPoint p = cursorInClient();
        bool *flag = m_firstHot    ? &m_firstHot
                     : m_secondHot ? &m_secondHot
                     : m_thumbHot  ? &m_thumbHot
                                   : nullptr;
        if (!flag)
            break;
        const ScrollRect &part = flag == &m_firstHot    ? m_layout.firstButton
                                 : flag == &m_secondHot ? m_layout.secondButton
                                                        : m_layout.thumb;
        if (part.contains(p.x(), p.y()))
            break;
        *flag = false;
        stopBarTimer(kTimerHot);
        update();
        break;
    }
    case kTimerInside: {
        const QPoint p = cursorInClient();
        const bool overSelf = isVisible() && rect().contains(p);
        if (overSelf || !m_inside || m_pressedPart != kPartNone)
            break;
        m_inside = false;
        stopBarTimer(kTimerInside);
        update();
        break;
    }
    default:
        break;
    }
}

// --- mouse --------------------------------------------------------------

void ucScrollbar::onButtonDown(qint32 wParam, qint32 lParam)
{
    if (wParam == 0)
        return;
    m_lastX = wm::lParamX(lParam);
    m_lastY = wm::lParamY(lParam);
    m_pressedPart = HitTestPart(m_layout, m_lastX, m_lastY);
    switch (m_pressedPart) {
    case kPartFirstButton:
        m_firstPressed = true;
        m_firstHot = false;
        StepBack(m_smallChange, true);
        break;
    case kPartSecondButton:
        m_secondPressed = true;
        m_secondHot = false;
        StepForward(m_smallChange, true);
        break;
    case kPartTrackBefore:
        m_trackBeforePressed = true;
        StepBack(m_largeChange, false);
        break;
    case kPartTrackAfter:
        m_trackAfterPressed = true;
        StepForward(m_largeChange, false);
        break;
    case kPartThumb:
        m_dragOffset = m_thumbPos - axisCoordinate(m_lastX, m_lastY);
        m_thumbPressed = true;
        m_thumbHot = false;
        m_dragStartValue = m_value;
        update();
        return;
    default:
        return;
    }
    stopBarTimer(kTimerDelay);
    startBarTimer(kTimerDelay, qMax(0, m_changeDelay));
}

void ucScrollbar::onMouseMove(qint32 wParam, qint32 lParam)
{
    m_lastX = wm::lParamX(lParam);
    m_lastY = wm::lParamY(lParam);
    if (wParam != 0) {
        switch (m_pressedPart) {
        case kPartFirstButton:
        case kPartSecondButton: {
            const bool first = m_pressedPart == kPartFirstButton;
            bool &pressed = first ? m_firstPressed : m_secondPressed;
            const ScrollRect &button = first ? m_layout.firstButton : m_layout.secondButton;
            const bool inside = button.contains(m_lastX, m_lastY);
            if (inside != pressed) {
                pressed = inside;
                update();
            }
            break;
        }
        case kPartThumb: {
            const int oldValue = m_value;
            const int oldPos = m_thumbPos;
            const int start = trackStart();
            const int end = trackEnd();
            int position;
            if (m_layout.dragRect.contains(m_lastX, m_lastY)) {
                position = qMax(axisCoordinate(m_lastX, m_lastY) + m_dragOffset, start);
                if (position + m_thumbSize > end)
                    position = end - m_thumbSize;
                m_value = clampToInt(
                    ValueFromThumbPos(position, start, end - start, m_thumbSize, m_range, m_min));
            } else {
                // Strayed too far from the bar: back to where the drag began.
                m_value = m_dragStartValue;
                position =
                    ThumbPosFromValue(start, end - start, m_thumbSize, m_range, m_value, m_min);
            }
            if (position != oldPos) {
                m_thumbPos = position;
                updateThumbRects();
                update();
                if (m_value != oldValue)
                    Q_EMIT Scroll();
            }
            break;
        }
        default:
            break;
        }
        return;
    }

    m_hoverPart = HitTestPart(m_layout, m_lastX, m_lastY);
    if (!m_inside) {
        m_inside = true;
        update();
        stopBarTimer(kTimerInside); // also clears the hover part: no hot part on entry
        startBarTimer(kTimerInside, kHoverPollMs);
    }
    bool *hot = m_hoverPart == kPartFirstButton    ? &m_firstHot
                : m_hoverPart == kPartSecondButton ? &m_secondHot
                : m_hoverPart == kPartThumb        ? &m_thumbHot
                                                   : nullptr;
    if (!hot || *hot)
        return;
    m_firstHot = m_secondHot = m_thumbHot = false;
    *hot = true;
    update();
    stopBarTimer(kTimerHot);
    startBarTimer(kTimerHot, kHoverPollMs);
}

void ucScrollbar::onRelease()
{
    stopBarTimer(kTimerHot);
    stopBarTimer(kTimerDelay);
    stopBarTimer(kTimerRepeat);
    const bool dragged = m_pressedPart == kPartThumb && m_value != m_dragStartValue;
    m_pressedPart = kPartNone;
    m_firstPressed = m_secondPressed = false;
    m_trackBeforePressed = m_trackAfterPressed = false;
    m_thumbPressed = false;
    // The thumb snaps to the exact place of the value it was dropped at.
    m_thumbPos = ThumbPosFromValue(trackStart(), trackEnd() - trackStart(), m_thumbSize, m_range,
                                   m_value, m_min);
    updateThumbRects();
    update();
    if (dragged)
        Q_EMIT Change();
}

// --- messages -----------------------------------------------------------

void ucScrollbar::zSubclass_Proc(bool bBefore, bool &bHandled, qint32 &lReturn, QWidget *&lhWnd,
                                 qint32 &uMsg, qint32 &wParam, qint32 &lParam)
{
    if (lhWnd != this)
        return;
    if (bBefore) {
        switch (uMsg) {
        case wm::kSize:
            Relayout();
            bHandled = true;
            lReturn = 0;
            break;
        case wm::kPaint: {
            QPainter painter(this);
            painter.setPen(palette().color(QPalette::WindowText));
            painter.setBackground(palette().color(QPalette::Window));
            PaintTo(&painter);
            bHandled = true;
            lReturn = 0;
            break;
        }
        default:
            break;
        }
        return;
    }
    // A disabled window gets no mouse input; Qt hands the events on anyway
    // and leaves it to the widget to ignore them.
    const bool mouseInput =
        uMsg == wm::kLButtonDown || uMsg == wm::kMouseMove || uMsg == wm::kLButtonDblClk;
    if (mouseInput && !isEnabled())
        return;
    switch (uMsg) {
    case wm::kLButtonDown:
        m_pressSinceRelease = true;
        onButtonDown(wParam, lParam);
        break;
    case wm::kMouseMove:
        onMouseMove(wParam, lParam);
        break;
    case wm::kLButtonUp:
    case wm::kCancelMode:
        m_pressSinceRelease = false;
        onRelease();
        break;
    case wm::kTimer:
        onTimer(wParam);
        break;
    case wm::kLButtonDblClk:
        // A double click counts as a second press. The platform usually
        // delivers that press itself just before this message; only when it
        // did not is the press made here.
        if (!m_pressSinceRelease) {
            m_pressSinceRelease = true;
            onButtonDown(wParam, lParam);
        }
        break;
    case wm::kSysColorChange:
        update(); // the gap pattern takes the palette's colours
        break;
    default:
        break;
    }
}

// --- painting -----------------------------------------------------------

void ucScrollbar::PaintTo(QPainter *hdc)
{
    if (!hdc || !hdc->isActive())
        return;
    if (!m_draw)
        m_draw = std::make_unique<cScrollbarDraw>();
    const int o = m_orientation;
    if (isEnabled()) {
        auto buttonState = [this](bool hot, bool pressed) {
            return hot        ? kButtonHot
                   : pressed  ? kButtonPressed
                   : m_inside ? kButtonInside
                              : kButtonNormal;
        };
        m_draw->DrawFirstButton(hdc, o, buttonState(m_firstHot, m_firstPressed),
                                m_layout.firstButton);
        m_draw->DrawSecondButton(hdc, o, buttonState(m_secondHot, m_secondPressed),
                                 m_layout.secondButton);
        if (m_layout.thumbVisible) {
            m_draw->DrawTrack(hdc, o, m_trackBeforePressed ? kTrackPressed : kTrackNormal,
                              m_layout.trackBefore);
            m_draw->DrawTrack(hdc, o, m_trackAfterPressed ? kTrackPressed : kTrackNormal,
                              m_layout.trackAfter);
            m_draw->DrawThumb(hdc, o,
                              m_thumbHot       ? kThumbHot
                              : m_thumbPressed ? kThumbPressed
                                               : kThumbNormal,
                              m_layout.thumb);
        }
    } else {
        m_draw->DrawFirstButton(hdc, o, kButtonDisabled, m_layout.firstButton);
        m_draw->DrawSecondButton(hdc, o, kButtonDisabled, m_layout.secondButton);
        if (m_layout.thumbVisible) {
            m_draw->DrawTrack(hdc, o, kTrackNormal, m_layout.trackBefore);
            m_draw->DrawTrack(hdc, o, kTrackNormal, m_layout.trackAfter);
            m_draw->DrawThumb(hdc, o, kThumbDisabled, m_layout.thumb);
        }
    }
    if (m_layout.gapVisible) {
        // One-pixel checkerboard in the painter's pen and background colours.
        QBrush brush = m_gapBrush;
        brush.setColor(hdc->pen().color());
        hdc->save();
        hdc->setBackgroundMode(Qt::OpaqueMode);
        hdc->setBrushOrigin(0, 0);
        hdc->fillRect(m_layout.gap.toQRect(), brush);
        hdc->restore();
    }
}

// --- Qt events ----------------------------------------------------------

void ucScrollbar::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        Q_EMIT Show();
}

void ucScrollbar::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (!event->spontaneous())
        Q_EMIT Hide();
}

void ucScrollbar::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange)
        update();
}

// Mouse input is handled from the hook's messages; accepting here keeps the
// presses from travelling on to the host, which would otherwise take the
// mouse grab away from the bar.
void ucScrollbar::mousePressEvent(QMouseEvent *event)
{
    event->accept();
}

void ucScrollbar::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
}

void ucScrollbar::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
}

void ucScrollbar::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept();
}
