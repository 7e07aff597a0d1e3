#include "shell/TrayIcon.h"

#include "shell/TrayEvent.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

namespace tray {

namespace {

// The flags of an update (message, icon, tip, state, info) and of a
// removal (message, icon, tip).
constexpr int kUpdateFlags = 31;
constexpr int kRemoveFlags = 7;
// The flags and time-out every tip refresh after a balloon uses.
constexpr int kRefreshFlags = 1;
constexpr int kRefreshTimeoutMs = 5000;

// Forwards the main window's messages to handleWindowMessage and lets every one
// of them through.
class TrayHook : public QObject
{
public:
    explicit TrayHook(QWidget *form) : QObject(form), m_form(form) {}

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_form && event->type() == TrayEvent::eventType()) {
            const auto *message = static_cast<TrayEvent *>(event);
            handleWindowMessage(m_form, message->message(), message->wParam(), message->lParam());
        }
        return false;
    }

private:
    QWidget *m_form;
};

struct TrayModule
{
    QPointer<QWidget> form;
    QPointer<TrayHook> hook;
    QSystemTrayIcon *icon = nullptr;
    QTimer *balloonTimer = nullptr;
    MenuSource menuSource;
    QMetaObject::Connection formGone;
    NotifyIconData last;
    int lastCommand = -1;
    QString lastBalloon;
    int usableOverride = -1;
    BalloonFallback balloonFallback;
    TipSource tipSource;
};

TrayModule &module()
{
    static TrayModule m;
    return m;
}

// Delivers a notification of the icon to the window the way the shell does:
// as the callback message, through the hook.
void notify(int notification)
{
    TrayModule &m = module();
    if (!m.form)
        return;
    TrayEvent event(kTrayCallbackMessage, 0, notification);
    QCoreApplication::sendEvent(m.form, &event);
}

QSystemTrayIcon::MessageIcon balloonIcon(int flags)
{
    switch (flags & 0xF) {
    case kBalloonIconInfo:
        return QSystemTrayIcon::Information;
    case kBalloonIconWarning:
        return QSystemTrayIcon::Warning;
    case kBalloonIconError:
        return QSystemTrayIcon::Critical;
    default:
        return QSystemTrayIcon::NoIcon;
    }
}

QIcon iconOf(const QWidget *form)
{
    const QIcon own = form->windowIcon();
    return own.isNull() ? QApplication::windowIcon() : own;
}

void apply(const NotifyIconData &record, const QWidget *form)
{
    TrayModule &m = module();
    m.icon->setIcon(iconOf(form));
    m.icon->setToolTip(record.tip);
    if (record.balloonText.isEmpty()) {
        // A record without balloon text takes any balloon away.
        m.balloonTimer->stop();
        m.lastBalloon.clear();
        return;
    }
    if ((record.balloonFlags & 0xF) == kBalloonIconUser)
        m.icon->showMessage(record.balloonTitle, record.balloonText, iconOf(form),
                            record.balloonTimeout);
    else
        m.icon->showMessage(record.balloonTitle, record.balloonText,
                            balloonIcon(record.balloonFlags), record.balloonTimeout);
    m.lastBalloon = record.balloonText;
    // Qt reports no time-out of its own, so the balloon's end is timed here.
    m.balloonTimer->start(qMax(0, record.balloonTimeout));
}

// Drops the icon and the hook; the window itself may already be gone.
void teardown()
{
    TrayModule &m = module();
    QObject::disconnect(m.formGone);
    if (m.form && m.hook)
        m.form->removeEventFilter(m.hook);
    delete m.hook;
    if (m.icon) {
        m.icon->hide();
        delete m.icon; // owns the balloon timer
    }
    m.icon = nullptr;
    m.balloonTimer = nullptr;
    m.form = nullptr;
    m.lastBalloon.clear();
}

} // namespace

NotifyIconData makeNotifyIconData(const QString &tip, const QString &balloonText, int balloonFlags,
                                  int balloonTimeout)
{
    NotifyIconData record;
    record.flags = kUpdateFlags;
    record.callbackMessage = kTrayCallbackMessage;
    record.tip = tip.left(kTipChars);
    record.balloonText = balloonText.left(kInfoChars);
    record.balloonTitle = tip.left(kInfoTitleChars);
    record.balloonTimeout = balloonTimeout;
    record.balloonFlags = balloonFlags;
    return record;
}

void updateTrayIcon(QWidget *form, const QString &tip, const QString &balloonText, int balloonFlags,
                    int balloonTimeout)
{
    if (!form)
        return;
    TrayModule &m = module();
    if (isHooked() && m.form != form)
        teardown(); // one icon, for one main window
    const NotifyIconData record =
        makeNotifyIconData(tip, balloonText, balloonFlags, balloonTimeout);
    m.last = record;
    // A balloon nobody would see is shown by the window instead.
    if (!record.balloonText.isEmpty() && !isTrayUsable() && m.balloonFallback)
        m.balloonFallback(form, record.balloonText, record.balloonTimeout);
    if (isHooked()) {
        m.lastCommand = kNimModify;
        apply(record, form);
        return;
    }
    m.icon = new QSystemTrayIcon();
    m.balloonTimer = new QTimer(m.icon);
    m.balloonTimer->setSingleShot(true);
    QObject::connect(m.balloonTimer, &QTimer::timeout, [] { notify(kBalloonTimeout); });
    QObject::connect(m.icon, &QSystemTrayIcon::messageClicked, [] { notify(kBalloonHide); });
    QObject::connect(m.icon, &QSystemTrayIcon::activated,
                     [](QSystemTrayIcon::ActivationReason why) {
                         switch (why) {
                         case QSystemTrayIcon::Trigger:
                             notify(kLeftButtonUp);
                             break;
                         case QSystemTrayIcon::Context:
                             notify(kRightButtonUp);
                             break;
                         case QSystemTrayIcon::DoubleClick:
                             notify(kLeftButtonDoubleClick);
                             break;
                         default:
                             break;
                         }
                     });
    m.lastCommand = kNimAdd;
    apply(record, form);
    m.icon->show();
    // The hook goes in even if the desktop shows no icon: later updates then
    // only modify, as they would after a failed add.
    m.form = form;
    m.hook = new TrayHook(form);
    form->installEventFilter(m.hook);
    m.formGone = QObject::connect(form, &QObject::destroyed, [] { teardown(); });
}

void removeTrayIcon(QWidget *form)
{
    Q_UNUSED(form);
    if (!isHooked())
        return;
    TrayModule &m = module();
    NotifyIconData record;
    record.flags = kRemoveFlags;
    record.callbackMessage = kTrayCallbackMessage;
    m.last = record;
    m.lastCommand = kNimDelete;
    teardown();
}

bool handleWindowMessage(QWidget *window, int message, qintptr wParam, qintptr lParam)
{
    Q_UNUSED(wParam);
    if (!window || message != kTrayCallbackMessage)
        return false;
    // A failure here must never keep the message from the window.
    try {
        switch (lParam) {
        case kLeftButtonUp:
            if (window->isMinimized()) {
                window->showNormal();
                window->raise();
                window->activateWindow();
            } else {
                window->setWindowState(window->windowState() | Qt::WindowMinimized);
                if (isTrayUsable())
                    window->hide();
            }
            break;
        case kRightButtonUp:
            // Bring the window forward first so the menu closes when the
            // user clicks elsewhere.
            if (window->isVisible()) {
                window->raise();
                window->activateWindow();
            }
            if (QMenu *menu = module().menuSource ? module().menuSource() : nullptr)
                menu->popup(QCursor::pos());
            break;
        case kBalloonHide:
        case kBalloonTimeout: {
            const TipSource &source = module().tipSource;
            const QString tip = source ? source(window) : window->windowTitle();
            updateTrayIcon(window, tip, QString(), kRefreshFlags, kRefreshTimeoutMs);
            break;
        }
        default:
            break;
        }
    } catch (...) {
    }
    return false;
}

void setTrayMenu(QMenu *menu)
{
    if (!menu) {
        setTrayMenuSource(nullptr);
        return;
    }
    setTrayMenuSource([guarded = QPointer<QMenu>(menu)] { return guarded.data(); });
}

void setTrayMenuSource(MenuSource source)
{
    module().menuSource = std::move(source);
}

void setTipSource(TipSource source)
{
    module().tipSource = std::move(source);
}

void setBalloonFallback(BalloonFallback fallback)
{
    module().balloonFallback = std::move(fallback);
}

bool isHooked()
{
    const TrayModule &m = module();
    return m.form && m.hook;
}

const NotifyIconData &lastRecord()
{
    return module().last;
}

int lastCommand()
{
    return module().lastCommand;
}

QString lastBalloon()
{
    return module().lastBalloon;
}

QSystemTrayIcon *systemTrayIcon()
{
    return module().icon;
}

bool isTrayUsable()
{
    const int forced = module().usableOverride;
    if (forced >= 0)
        return forced != 0;
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void setTrayUsableOverride(int usable)
{
    module().usableOverride = usable;
}

} // namespace tray
