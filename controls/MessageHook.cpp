#include "controls/MessageHook.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QTimerEvent>
#include <QWheelEvent>
#include <QWidget>

namespace {

qint32 keyState(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers)
{
    qint32 state = 0;
    if (buttons & Qt::LeftButton)
        state |= wm::kMkLButton;
    if (buttons & Qt::RightButton)
        state |= wm::kMkRButton;
    if (buttons & Qt::MiddleButton)
        state |= wm::kMkMButton;
    if (modifiers & Qt::ShiftModifier)
        state |= wm::kMkShift;
    if (modifiers & Qt::ControlModifier)
        state |= wm::kMkControl;
    return state;
}

// Message of a button press, release or double click; 0 for other buttons.
qint32 buttonMessage(QEvent::Type type, Qt::MouseButton button)
{
    const int column = type == QEvent::MouseButtonPress     ? 0
                       : type == QEvent::MouseButtonRelease ? 1
                                                            : 2;
    switch (button) {
    case Qt::LeftButton:
        return wm::kLButtonDown + column;
    case Qt::RightButton:
        return wm::kRButtonDown + column;
    case Qt::MiddleButton:
        return wm::kMButtonDown + column;
    default:
        return 0;
    }
}

} // namespace

MessageHook::MessageHook(MessageHookClient *owner, QObject *parent)
    : QObject(parent), m_owner(owner)
{
}

MessageHook::~MessageHook()
{
    detachAll();
}

int MessageHook::findEntry(const QWidget *window) const
{
    if (!window)
        return -1;
    for (int i = int(m_entries.size()) - 1; i >= 0; --i) {
        if (m_entries[i].window == window)
            return i;
    }
    return -1;
}

int MessageHook::attach(QWidget *window)
{
    if (!window)
        return -1;
    const int existing = findEntry(window);
    if (existing >= 0)
        return existing;

    int index = -1;
    for (int i = int(m_entries.size()) - 1; i >= 0; --i) {
        if (!m_entries[i].window) {
            index = i;
            break;
        }
    }
    if (index < 0) {
        m_entries.append(MessageHookEntry());
        index = int(m_entries.size()) - 1;
    }
    MessageHookEntry &entry = m_entries[index];
    entry = MessageHookEntry();
    entry.window = window;
    window->installEventFilter(this);
    entry.filterInstalled = true;
    // A window destroyed while hooked must not leave a dangling entry.
    connect(window, &QObject::destroyed, this, &MessageHook::onWindowDestroyed,
            Qt::UniqueConnection);
    return index;
}

void MessageHook::addToList(qint32 &count, QList<qint32> &list, qint32 message)
{
    if (message == kAllMessages) {
        count = -1;
        return;
    }
    // Once a list takes every message its slots no longer matter.
    if (count < 0)
        return;
    for (qint32 slot = 0; slot < count; ++slot) {
        if (list[slot] == 0) {
            list[slot] = message;
            return;
        }
        if (list[slot] == message)
            return;
    }
    list.append(message);
    count = qint32(list.size());
}

void MessageHook::addMessage(QWidget *window, qint32 message, int phases)
{
    const int index = findEntry(window);
    if (index < 0)
        return;
    MessageHookEntry &entry = m_entries[index];
    if (phases & kPhaseBefore)
        addToList(entry.beforeCount, entry.beforeList, message);
    if (phases & kPhaseAfter)
        addToList(entry.afterCount, entry.afterList, message);
}

void MessageHook::detach(QWidget *window)
{
    const int index = findEntry(window);
    if (index < 0)
        return;
    MessageHookEntry &entry = m_entries[index];
    if (entry.filterInstalled)
        window->removeEventFilter(this);
    disconnect(window, &QObject::destroyed, this, &MessageHook::onWindowDestroyed);
    const auto timers = m_timers.take(window);
    for (auto it = timers.cbegin(); it != timers.cend(); ++it)
        window->killTimer(it.key());
    entry = MessageHookEntry();
}

void MessageHook::detachAll()
{
    for (int i = int(m_entries.size()) - 1; i >= 0; --i) {
        if (m_entries[i].window)
            detach(m_entries[i].window);
    }
}

void MessageHook::onWindowDestroyed(QObject *window)
{
    m_timers.remove(window);
    for (MessageHookEntry &entry : m_entries) {
        if (entry.window == window)
            entry = MessageHookEntry();
    }
}

bool MessageHook::wantsPhase(int index, qint32 message, bool before) const
{
    if (index < 0 || index >= m_entries.size())
        return false;
    const MessageHookEntry &entry = m_entries[index];
    const qint32 count = before ? entry.beforeCount : entry.afterCount;
    if (count == 0)
        return false;
    if (count < 0)
        return true;
    const QList<qint32> &list = before ? entry.beforeList : entry.afterList;
    for (qint32 slot = 0; slot < count; ++slot) {
        if (list[slot] == message)
            return true;
    }
    return false;
}

qint32 MessageHook::dispatch(QWidget *window, qint32 message, qint32 wParam, qint32 lParam,
                             const PreviousHandler &previous)
{
    qint32 result = 0;
    bool handled = false;
    QWidget *target = window;
    if (wantsPhase(findEntry(window), message, true)) {
        m_owner->handleMessage(true, handled, result, target, message, wParam, lParam);
        if (handled)
            return result;
    }
    if (previous)
        result = previous(message, wParam, lParam);
    // The owner may have detached the window meanwhile; look it up again.
    if (wantsPhase(findEntry(window), message, false)) {
        target = window;
        m_owner->handleMessage(false, handled, result, target, message, wParam, lParam);
    }
    return result;
}

void MessageHook::setTimer(QWidget *window, qint32 id, int milliseconds)
{
    if (!window)
        return;
    killTimer(window, id);
    // Window timers never fire early; Qt's default coarse timers may, by up
    // to a twentieth of their period, which would bring the first
    // auto-repeat of a held scroll-bar button forward.
    const int qtId = window->startTimer(qMax(0, milliseconds), Qt::PreciseTimer);
    if (qtId != 0)
        m_timers[window].insert(qtId, id);
}

void MessageHook::killTimer(QWidget *window, qint32 id)
{
    auto found = m_timers.find(window);
    if (found == m_timers.end())
        return;
    for (auto it = found->begin(); it != found->end();) {
        if (it.value() == id) {
            window->killTimer(it.key());
            it = found->erase(it);
        } else {
            ++it;
        }
    }
}

bool MessageHook::isTimerActive(QWidget *window, qint32 id) const
{
    const auto found = m_timers.constFind(window);
    if (found == m_timers.cend())
        return false;
    for (auto it = found->cbegin(); it != found->cend(); ++it) {
        if (it.value() == id)
            return true;
    }
    return false;
}

bool MessageHook::translateEvent(QWidget *window, const QEvent *event, qint32 &message,
                                 qint32 &wParam, qint32 &lParam) const
{
    wParam = 0;
    lParam = 0;
    switch (event->type()) {
    case QEvent::Resize: {
        const QSize size = static_cast<const QResizeEvent *>(event)->size();
        message = wm::kSize;
        lParam = wm::makeLParam(size.width(), size.height());
        return true;
    }
    case QEvent::Paint:
        message = wm::kPaint;
        return true;
    case QEvent::PaletteChange:
    case QEvent::ApplicationPaletteChange:
        message = wm::kSysColorChange;
        return true;
    case QEvent::UngrabMouse:
    case QEvent::WindowDeactivate:
        message = wm::kCancelMode;
        return true;
    case QEvent::Timer: {
        const int qtId = static_cast<const QTimerEvent *>(event)->timerId();
        message = wm::kTimer;
        wParam = m_timers.value(window).value(qtId, qtId);
        return true;
    }
    case QEvent::MouseMove:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick: {
        const auto *mouse = static_cast<const QMouseEvent *>(event);
        message = event->type() == QEvent::MouseMove
                      ? wm::kMouseMove
                      : buttonMessage(event->type(), mouse->button());
        if (message == 0)
            return false;
        const QPoint pos = mouse->position().toPoint();
        wParam = keyState(mouse->buttons(), mouse->modifiers());
        lParam = wm::makeLParam(pos.x(), pos.y());
        return true;
    }
    case QEvent::Wheel: {
        const auto *wheel = static_cast<const QWheelEvent *>(event);
        const int delta = wheel->angleDelta().y();
        if (delta == 0)
            return false;
        const QPoint global = wheel->globalPosition().toPoint();
        message = wm::kMouseWheel;
        wParam = qint32((quint32(qBound(-32768, delta, 32767) & 0xFFFF) << 16) |
                        quint32(keyState(wheel->buttons(), wheel->modifiers()) & 0xFFFF));
        lParam = wm::makeLParam(global.x(), global.y());
        return true;
    }
    default:
        return false;
    }
}

bool MessageHook::eventFilter(QObject *watched, QEvent *event)
{
    if (!watched->isWidgetType())
        return false;
    auto *window = static_cast<QWidget *>(watched);
    const int index = findEntry(window);
    if (index < 0)
        return false;
    qint32 message = 0;
    qint32 wParam = 0;
    qint32 lParam = 0;
    if (!translateEvent(window, event, message, wParam, lParam))
        return false;
    // Unsubscribed traffic goes on to the widget untouched.
    if (!wantsPhase(index, message, true) && !wantsPhase(index, message, false))
        return false;

    bool ranPrevious = false;
    QPointer<QWidget> guard(window);
    const PreviousHandler previous = [&](qint32 newMsg, qint32, qint32 newLParam) -> qint32 {
        ranPrevious = true;
        // QObject::event is public; calling it through the base runs the
        // widget's own handling exactly as delivery would, without passing
        // the event filters a second time.
        auto *target = static_cast<QObject *>(window);
        const bool mouse = event->type() == QEvent::MouseMove ||
                           event->type() == QEvent::MouseButtonPress ||
                           event->type() == QEvent::MouseButtonRelease ||
                           event->type() == QEvent::MouseButtonDblClick;
        if (mouse && newMsg == message && newLParam != lParam) {
            // A before-phase callback moved the pointer: the widget sees the
            // moved position. Other rewrites have no Qt event to carry them.
            const auto *original = static_cast<QMouseEvent *>(event);
            const QPointF local(wm::lParamX(newLParam), wm::lParamY(newLParam));
            QMouseEvent moved(original->type(), local, window->mapToGlobal(local),
                              original->button(), original->buttons(), original->modifiers(),
                              original->pointingDevice());
            moved.setTimestamp(original->timestamp());
            const bool result = target->event(&moved);
            event->setAccepted(moved.isAccepted());
            return result ? 1 : 0;
        }
        return target->event(event) ? 1 : 0;
    };
    dispatch(window, message, wParam, lParam, previous);
    if (!ranPrevious && guard)
        event->accept(); // stopped in the before phase: nobody else gets it
    return true;
}
