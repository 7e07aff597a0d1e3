#include "controls/scrollbar/SkinScrollBar.h"

#include "controls/PropertyBag.h"
#include "controls/scrollbar/ScrollBarPainter.h"

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

SkinScrollBar::SkinScrollBar(QWidget *parent)
    : QWidget(parent), m_hook(this), m_gapBrush(Qt::Dense4Pattern)
{
    setMouseTracking(true); // hover states need moves without a button
    resize(sizeHint());
    relayout(false);

    m_hook.attach(this);
    m_hook.addMessage(this, wm::kPaint, MessageHook::kPhaseBefore);
    m_hook.addMessage(this, wm::kSize, MessageHook::kPhaseBefore);
    for (const qint32 message : {wm::kCancelMode, wm::kMouseMove, wm::kLButtonDown, wm::kLButtonUp,
                                 wm::kLButtonDblClk, wm::kTimer, wm::kSysColorChange})
        m_hook.addMessage(this, message, MessageHook::kPhaseAfter);
}

SkinScrollBar::~SkinScrollBar()
{
    m_hook.detachAll();
}

QSize SkinScrollBar::sizeHint() const
{
    return m_orientation == kHorizontal ? QSize(100, kDefaultThickness)
                                        : QSize(kDefaultThickness, 100);
}

// --- properties ---------------------------------------------------------

void SkinScrollBar::setMinimum(int value)
{
    m_min = qMin(value, m_max);
    m_range = qint64(m_max) - m_min;
    if (m_value < m_min)
        m_value = m_min; // brought into range quietly, no valueChanged
    recomputeThumb();
    update();
}

void SkinScrollBar::setMaximum(int value)
{
    m_max = qMax(value, m_min);
    m_range = qint64(m_max) - m_min;
    if (m_value > m_max)
        m_value = m_max;
    recomputeThumb();
    update();
}

void SkinScrollBar::setValue(int value)
{
    const int old = m_value;
    m_value = qBound(m_min, value, qMax(m_min, m_max));
    m_thumbPos = thumbPosFromValue(trackStart(), trackEnd() - trackStart(), m_thumbSize, m_range,
                                   m_value, m_min);
    updateThumbRects();
    update();
    if (m_value != old)
        Q_EMIT valueChanged();
}

void SkinScrollBar::setSmallChange(int value)
{
    m_smallChange = value <= 0 ? 1 : value;
    recomputeThumb();
    update();
}

void SkinScrollBar::setLargeChange(int value)
{
    m_largeChange = value <= 0 ? 1 : value;
    recomputeThumb();
    update();
}

void SkinScrollBar::setChangeDelay(int value)
{
    m_changeDelay = qMax(0, value);
}

void SkinScrollBar::setChangeFrequency(int value)
{
    m_changeFrequency = qMax(kMinChangeFrequency, value);
}

void SkinScrollBar::setOrientation(int value)
{
    m_orientation = qBound(kVertical, value, kHorizontal);
    updateGeometry();
    relayout();
}

void SkinScrollBar::setShowButtons(bool value)
{
    m_showButtons = value;
    relayout();
}

void SkinScrollBar::refresh()
{
    update();
}

void SkinScrollBar::readProperties(const PropertyBag &bag)
{
    setEnabled(bag.readProperty(QStringLiteral("Enabled"), true).toBool());
    m_min = bag.readProperty(QStringLiteral("Min"), 0).toInt();
    m_max = bag.readProperty(QStringLiteral("Max"), 100).toInt();
    m_value = bag.readProperty(QStringLiteral("Value"), 0).toInt();
    m_smallChange = bag.readProperty(QStringLiteral("SmallChange"), 1).toInt();
    m_largeChange = bag.readProperty(QStringLiteral("LargeChange"), 10).toInt();
    m_changeDelay = bag.readProperty(QStringLiteral("ChangeDelay"), 500).toInt();
    m_changeFrequency = bag.readProperty(QStringLiteral("ChangeFrequency"), 50).toInt();
    m_orientation = bag.readProperty(QStringLiteral("Orientation"), 0).toInt();
    m_showButtons = bag.readProperty(QStringLiteral("ShowButtons"), true).toBool();
    m_range = qint64(m_max) - m_min;
    updateGeometry();
    relayout(false);
}

void SkinScrollBar::writeProperties(PropertyBag &bag) const
{
    bag.writeProperty(QStringLiteral("Enabled"), isEnabled());
    bag.writeProperty(QStringLiteral("Min"), m_min);
    bag.writeProperty(QStringLiteral("Max"), m_max);
    bag.writeProperty(QStringLiteral("Value"), m_value);
    bag.writeProperty(QStringLiteral("SmallChange"), m_smallChange);
    bag.writeProperty(QStringLiteral("LargeChange"), m_largeChange);
    bag.writeProperty(QStringLiteral("ChangeDelay"), m_changeDelay);
    bag.writeProperty(QStringLiteral("ChangeFrequency"), m_changeFrequency);
    bag.writeProperty(QStringLiteral("Orientation"), m_orientation);
    bag.writeProperty(QStringLiteral("ShowButtons"), m_showButtons);
}

bool SkinScrollBar::isTimerRunning(int id) const
{
    return m_hook.isTimerActive(const_cast<SkinScrollBar *>(this), id);
}

void SkinScrollBar::setCursorSource(std::function<QPoint()> source)
{
    m_cursorSource = std::move(source);
}

// --- geometry -----------------------------------------------------------

int SkinScrollBar::trackStart() const
{
    return scrollbar::trackStart(m_layout, m_orientation);
}

int SkinScrollBar::trackEnd() const
{
    return scrollbar::trackEnd(m_layout, m_orientation);
}

int SkinScrollBar::axisCoordinate(int x, int y) const
{
    return m_orientation == kHorizontal ? x : y;
}

void SkinScrollBar::recomputeThumb()
{
    const int length = trackEnd() - trackStart();
    m_thumbSize = thumbSizeFromRange(length, m_range, m_largeChange);
    m_thumbPos = thumbPosFromValue(trackStart(), length, m_thumbSize, m_range, m_value, m_min);
    updateThumbRects();
}

void SkinScrollBar::updateThumbRects()
{
    scrollbar::updateThumbRects(m_layout, m_orientation, m_thumbPos, m_thumbSize);
}

void SkinScrollBar::relayout(bool repaint)
{
    layoutButtons(m_layout, width(), height(), m_orientation, m_showButtons);
    recomputeThumb();
    if (repaint)
        update();
}

// --- stepping -----------------------------------------------------------

bool SkinScrollBar::stepBack(int amount, bool repaintAlways)
{
    return stepTo(qMax<qint64>(qint64(m_value) - amount, m_min), repaintAlways);
}

bool SkinScrollBar::stepForward(int amount, bool repaintAlways)
{
    return stepTo(qMin<qint64>(qint64(m_value) + amount, m_max), repaintAlways);
}

bool SkinScrollBar::stepTo(qint64 target, bool repaintAlways)
{
    const int value = clampToInt(target);
    if (value == m_value) {
        if (repaintAlways)
            update();
        return false;
    }
    m_value = value;
    m_thumbPos = thumbPosFromValue(trackStart(), trackEnd() - trackStart(), m_thumbSize, m_range,
                                   m_value, m_min);
    updateThumbRects();
    update();
    Q_EMIT valueChanged();
    return true;
}

// --- timers -------------------------------------------------------------

void SkinScrollBar::startBarTimer(int id, int milliseconds)
{
    m_hook.setTimer(this, id, milliseconds);
}

void SkinScrollBar::stopBarTimer(int id)
{
    m_hook.killTimer(this, id);
    m_hoverPart = kPartNone;
}

QPoint SkinScrollBar::cursorInClient() const
{
    return mapFromGlobal(m_cursorSource ? m_cursorSource() : QCursor::pos());
}

void SkinScrollBar::onTimer(qint32 id)
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
            if (m_layout.firstButton.contains(m_lastX, m_lastY) && !stepBack(m_smallChange, false))
                stopBarTimer(kTimerRepeat);
            break;
        case kPartSecondButton:
            if (m_layout.secondButton.contains(m_lastX, m_lastY) &&
                !stepForward(m_smallChange, false))
                stopBarTimer(kTimerRepeat);
            break;
        case kPartTrackBefore:
            // Pages only while the thumb has not yet reached the pointer;
            // the band is drawn released once it has, though still held.
            m_trackBeforePressed = m_thumbPos > pointer;
            if (m_trackBeforePressed)
                stepBack(m_largeChange, false);
            else
                update();
            break;
        case kPartTrackAfter:
            m_trackAfterPressed = m_thumbPos + m_thumbSize < pointer;
            if (m_trackAfterPressed)
                stepForward(m_largeChange, false);
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

void SkinScrollBar::onButtonDown(qint32 wParam, qint32 lParam)
{
    if (wParam == 0)
        return;
    m_lastX = wm::lParamX(lParam);
    m_lastY = wm::lParamY(lParam);
    m_pressedPart = hitTestPart(m_layout, m_lastX, m_lastY);
    switch (m_pressedPart) {
    case kPartFirstButton:
        m_firstPressed = true;
        m_firstHot = false;
        stepBack(m_smallChange, true);
        break;
    case kPartSecondButton:
        m_secondPressed = true;
        m_secondHot = false;
        stepForward(m_smallChange, true);
        break;
    case kPartTrackBefore:
        m_trackBeforePressed = true;
        stepBack(m_largeChange, false);
        break;
    case kPartTrackAfter:
        m_trackAfterPressed = true;
        stepForward(m_largeChange, false);
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

void SkinScrollBar::onMouseMove(qint32 wParam, qint32 lParam)
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
                    valueFromThumbPos(position, start, end - start, m_thumbSize, m_range, m_min));
            } else {
                // Strayed too far from the bar: back to where the drag began.
                m_value = m_dragStartValue;
                position =
                    thumbPosFromValue(start, end - start, m_thumbSize, m_range, m_value, m_min);
            }
            if (position != oldPos) {
                m_thumbPos = position;
                updateThumbRects();
                update();
                if (m_value != oldValue)
                    Q_EMIT scrolled();
            }
            break;
        }
        default:
            break;
        }
        return;
    }

    m_hoverPart = hitTestPart(m_layout, m_lastX, m_lastY);
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

void SkinScrollBar::onRelease()
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
    m_thumbPos = thumbPosFromValue(trackStart(), trackEnd() - trackStart(), m_thumbSize, m_range,
                                   m_value, m_min);
    updateThumbRects();
    update();
    if (dragged)
        Q_EMIT valueChanged();
}

// --- messages -----------------------------------------------------------

void SkinScrollBar::handleMessage(bool before, bool &handled, qint32 &result, QWidget *&window,
                                  qint32 &message, qint32 &wParam, qint32 &lParam)
{
    if (window != this)
        return;
    if (before) {
        switch (message) {
        case wm::kSize:
            relayout();
            handled = true;
            result = 0;
            break;
        case wm::kPaint: {
            QPainter painter(this);
            painter.setPen(palette().color(QPalette::WindowText));
            painter.setBackground(palette().color(QPalette::Window));
            paintTo(&painter);
            handled = true;
            result = 0;
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
        message == wm::kLButtonDown || message == wm::kMouseMove || message == wm::kLButtonDblClk;
    if (mouseInput && !isEnabled())
        return;
    switch (message) {
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

void SkinScrollBar::paintTo(QPainter *painter)
{
    if (!painter || !painter->isActive())
        return;
    if (!m_draw)
        m_draw = std::make_unique<ScrollBarPainter>();
    const int o = m_orientation;
    if (isEnabled()) {
        auto buttonState = [this](bool hot, bool pressed) {
            return hot        ? kButtonHot
                   : pressed  ? kButtonPressed
                   : m_inside ? kButtonInside
                              : kButtonNormal;
        };
        m_draw->drawFirstButton(painter, o, buttonState(m_firstHot, m_firstPressed),
                                m_layout.firstButton);
        m_draw->drawSecondButton(painter, o, buttonState(m_secondHot, m_secondPressed),
                                 m_layout.secondButton);
        if (m_layout.thumbVisible) {
            m_draw->drawTrack(painter, o, m_trackBeforePressed ? kTrackPressed : kTrackNormal,
                              m_layout.trackBefore);
            m_draw->drawTrack(painter, o, m_trackAfterPressed ? kTrackPressed : kTrackNormal,
                              m_layout.trackAfter);
            m_draw->drawThumb(painter, o,
                              m_thumbHot       ? kThumbHot
                              : m_thumbPressed ? kThumbPressed
                                               : kThumbNormal,
                              m_layout.thumb);
        }
    } else {
        m_draw->drawFirstButton(painter, o, kButtonDisabled, m_layout.firstButton);
        m_draw->drawSecondButton(painter, o, kButtonDisabled, m_layout.secondButton);
        if (m_layout.thumbVisible) {
            m_draw->drawTrack(painter, o, kTrackNormal, m_layout.trackBefore);
            m_draw->drawTrack(painter, o, kTrackNormal, m_layout.trackAfter);
            m_draw->drawThumb(painter, o, kThumbDisabled, m_layout.thumb);
        }
    }
    if (m_layout.gapVisible) {
        // One-pixel checkerboard in the painter's pen and background colours.
        QBrush brush = m_gapBrush;
        brush.setColor(painter->pen().color());
        painter->save();
        painter->setBackgroundMode(Qt::OpaqueMode);
        painter->setBrushOrigin(0, 0);
        painter->fillRect(m_layout.gap.toQRect(), brush);
        painter->restore();
    }
}

// --- Qt events ----------------------------------------------------------

void SkinScrollBar::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        Q_EMIT shown();
}

void SkinScrollBar::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (!event->spontaneous())
        Q_EMIT hidden();
}

void SkinScrollBar::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange)
        update();
}

// Mouse input is handled from the hook's messages; accepting here keeps the
// presses from travelling on to the host, which would otherwise take the
// mouse grab away from the bar.
void SkinScrollBar::mousePressEvent(QMouseEvent *event)
{
    event->accept();
}

void SkinScrollBar::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
}

void SkinScrollBar::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
}

void SkinScrollBar::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept();
}
