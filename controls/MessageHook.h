// Per-window message hook shared by the custom controls.
//
// A control that needs raw window traffic (painting, sizing, mouse buttons,
// timers, the wheel) attaches its own widget with attach() and subscribes
// message numbers with addMessage(). The hook sits in front of the widget as
// a Qt event filter, translates each Qt event into the classic window message
// number and parameters, and calls the owner's handleMessage before and/or
// after the widget's own event handling:
//
//   before phase -> (unless handled) widget's own event() -> after phase
//
// A before-phase callback that moves a mouse message's position (lParam)
// hands the widget the moved position; other rewrites reach only the after
// phase, since a Qt event cannot turn into a different kind of event.
//
// A message nobody subscribed passes through untouched and never reaches the
// owner. Timers started through setTimer() arrive as message 275 with the
// control's own timer id in wParam.
#pragma once

#include <QHash>
#include <QList>
#include <QObject>

#include <functional>

class QEvent;
class QWidget;

// Window message numbers the Qt events are translated to.
namespace wm {
constexpr qint32 kSize = 5;            // WM_SIZE: lParam = (height << 16) | width
constexpr qint32 kPaint = 15;          // WM_PAINT
constexpr qint32 kSysColorChange = 21; // WM_SYSCOLORCHANGE: palette changed
constexpr qint32 kCancelMode = 31;     // WM_CANCELMODE: grab lost or window deactivated
constexpr qint32 kTimer = 275;         // WM_TIMER: wParam = timer id
constexpr qint32 kMouseMove = 512;     // WM_MOUSEMOVE
constexpr qint32 kLButtonDown = 513;   // WM_LBUTTONDOWN
constexpr qint32 kLButtonUp = 514;     // WM_LBUTTONUP
constexpr qint32 kLButtonDblClk = 515; // WM_LBUTTONDBLCLK
constexpr qint32 kRButtonDown = 516;   // WM_RBUTTONDOWN
constexpr qint32 kRButtonUp = 517;     // WM_RBUTTONUP
constexpr qint32 kRButtonDblClk = 518; // WM_RBUTTONDBLCLK
constexpr qint32 kMButtonDown = 519;   // WM_MBUTTONDOWN
constexpr qint32 kMButtonUp = 520;     // WM_MBUTTONUP
constexpr qint32 kMButtonDblClk = 521; // WM_MBUTTONDBLCLK
constexpr qint32 kMouseWheel = 522;    // WM_MOUSEWHEEL: wParam high word = signed delta

// Key-state flags in wParam of mouse messages.
constexpr qint32 kMkLButton = 0x01; // MK_LBUTTON
constexpr qint32 kMkRButton = 0x02; // MK_RBUTTON
constexpr qint32 kMkShift = 0x04;   // MK_SHIFT
constexpr qint32 kMkControl = 0x08; // MK_CONTROL
constexpr qint32 kMkMButton = 0x10; // MK_MBUTTON

// Mouse position packing of lParam: signed 16-bit x low, y high.
constexpr qint32 makeLParam(int x, int y)
{
    return qint32((quint32(y & 0xFFFF) << 16) | quint32(x & 0xFFFF));
}
constexpr int lParamX(qint32 lParam)
{
    return qint16(quint32(lParam) & 0xFFFF);
}
constexpr int lParamY(qint32 lParam)
{
    return qint16(quint32(lParam) >> 16);
}
} // namespace wm

// Implemented by every control that hooks windows. The same callback serves
// every window the owner hooks; window tells them apart.
class MessageHookClient
{
public:
    virtual ~MessageHookClient() = default;
    virtual void handleMessage(bool before, bool &handled, qint32 &result, QWidget *&window,
                               qint32 &message, qint32 &wParam, qint32 &lParam) = 0;
};

// One hooked window. Counts of -1 mean "every message"; a 0 in a list is an
// empty slot that the next subscription of that phase reuses.
struct MessageHookEntry
{
    QWidget *window = nullptr;    // nullptr marks a free entry
    bool filterInstalled = false; // stands in for the saved previous procedure
    qint32 afterCount = 0;
    qint32 beforeCount = 0;
    QList<qint32> afterList;  // slots 1..afterCount, stored from index 0
    QList<qint32> beforeList; // slots 1..beforeCount
};

class MessageHook : public QObject
{
    Q_OBJECT

public:
    // Phase flags of addMessage.
    static constexpr int kPhaseAfter = 1;
    static constexpr int kPhaseBefore = 2;
    static constexpr int kPhaseBoth = 3;
    // Message number that subscribes every message.
    static constexpr qint32 kAllMessages = -1;

    using PreviousHandler = std::function<qint32(qint32 message, qint32 wParam, qint32 lParam)>;

    explicit MessageHook(MessageHookClient *owner, QObject *parent = nullptr);
    ~MessageHook() override;

    // Attaches the hook to window and returns the index of its entry. A window
    // that is already hooked keeps its entry.
    int attach(QWidget *window);
    // Subscribes message (or kAllMessages) for the given phases (1, 2 or 3).
    // A window that was never attached is ignored.
    void addMessage(QWidget *window, qint32 message, int phases);
    // Detaches window; its entry becomes free for reuse.
    void detach(QWidget *window);
    void detachAll();

    // Runs one message through the hook of window: before phase, previous
    // (unless handled) and after phase. Returns result. Messages for windows
    // that are not hooked go straight to previous.
    qint32 dispatch(QWidget *window, qint32 message, qint32 wParam, qint32 lParam,
                    const PreviousHandler &previous);

    // Window timers that arrive as message 275 with wParam = id. Starting an
    // id that runs already restarts it with the new period.
    void setTimer(QWidget *window, qint32 id, int milliseconds);
    void killTimer(QWidget *window, qint32 id);
    bool isTimerActive(QWidget *window, qint32 id) const;

    const QList<MessageHookEntry> &entries() const { return m_entries; }

    // Translates a Qt event received by window into a window message.
    // Returns false for events that have no message counterpart.
    bool translateEvent(QWidget *window, const QEvent *event, qint32 &message, qint32 &wParam,
                        qint32 &lParam) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int findEntry(const QWidget *window) const;
    bool wantsPhase(int index, qint32 message, bool before) const;
    static void addToList(qint32 &count, QList<qint32> &list, qint32 message);
    void onWindowDestroyed(QObject *window);

    MessageHookClient *m_owner;
    QList<MessageHookEntry> m_entries;
    // Per window: Qt timer id -> the control's own timer id.
    QHash<const QObject *, QHash<int, qint32>> m_timers;
};
