// The player's icon in the notification area: its tooltip, an optional
// balloon, and the main-window hook that turns clicks on the icon into
// actions (left click hides or brings back the window, right click opens
// the tray menu, a balloon that ends leaves a tooltip naming the track).
//
// The first updateTrayIcon adds the icon and installs the hook (an event
// filter on the main window) once; later calls modify the icon.
// removeTrayIcon deletes both. The icon's notifications reach the window as
// TrayEvent(kTrayCallbackMessage, 0, notification) and go through
// handleWindowMessage, which the tests can also call directly.
#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>

class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace tray {

// Message the icon's notifications arrive with (WM_USER + 1).
constexpr int kTrayCallbackMessage = 1025;
// Notification: left button released on the icon (WM_LBUTTONUP).
constexpr int kLeftButtonUp = 514;
// Notification: left double click on the icon (WM_LBUTTONDBLCLK); ignored.
constexpr int kLeftButtonDoubleClick = 515;
// Notification: right button released on the icon (WM_RBUTTONUP).
constexpr int kRightButtonUp = 517;
// Notification: the balloon was closed by the user.
constexpr int kBalloonHide = 1028;
// Notification: the balloon timed out.
constexpr int kBalloonTimeout = 1029;
// An ordinary mouse move message to the window (WM_MOUSEMOVE).
constexpr int kMouseMoveMessage = 512;

// Commands the record is sent with.
constexpr int kNimAdd = 0;
constexpr int kNimModify = 1;
constexpr int kNimDelete = 2;

// Field sizes of the record, in characters: longer texts are cut.
constexpr int kTipChars = 128;
constexpr int kInfoChars = 256;
constexpr int kInfoTitleChars = 64;

// Balloon icon flags (low four bits of the balloon flags).
constexpr int kBalloonIconNone = 0;
constexpr int kBalloonIconInfo = 1;
constexpr int kBalloonIconWarning = 2;
constexpr int kBalloonIconError = 3;
constexpr int kBalloonIconUser = 4;

// What the icon is told on each call.
struct NotifyIconData
{
    int flags = 0;
    int callbackMessage = 0;
    QString tip;
    QString balloonText;
    QString balloonTitle;
    int balloonTimeout = 0;
    int balloonFlags = 0;
};

// The record updateTrayIcon sends: texts cut to their field sizes, a null
// string taken as empty, the tip repeated as the balloon title.
NotifyIconData makeNotifyIconData(const QString &tip, const QString &balloonText, int balloonFlags,
                                  int balloonTimeout);

void updateTrayIcon(QWidget *form, const QString &tip, const QString &balloonText, int balloonFlags,
                    int balloonTimeout);
void removeTrayIcon(QWidget *form);

// The hook's handler for one message of the main window. Always returns
// false: every message, tray notifications included, is passed on to the
// window unchanged.
bool handleWindowMessage(QWidget *window, int message, qintptr wParam, qintptr lParam);

// The menu a right click on the icon pops up (the tray menu of the menu form).
void setTrayMenu(QMenu *menu);
// The same, asked for only when the icon is right-clicked, so the menu need
// not exist until then (nullptr: no menu).
using MenuSource = std::function<QMenu *()>;
void setTrayMenuSource(MenuSource source);

// The tip the icon goes back to once a balloon is gone, asked for then (the
// window's title when none is set): the tray is told what to show, it
// reads nothing of the player itself.
using TipSource = std::function<QString(QWidget *form)>;
void setTipSource(TipSource source);

// Where a balloon's text goes when the desktop has no notification area to
// show it (the main window's status line, for the balloon's time-out).
using BalloonFallback = std::function<void(QWidget *form, const QString &text, int timeoutMs)>;
void setBalloonFallback(BalloonFallback fallback);

// Whether the icon is shown and the hook installed.
bool isHooked();
// The record and command of the last call that reached the icon.
const NotifyIconData &lastRecord();
int lastCommand();
// The balloon text last shown ("" when the last update showed none).
QString lastBalloon();
// The icon itself while it exists (for its tooltip), else nullptr.
QSystemTrayIcon *systemTrayIcon();

// Whether hiding the window to the tray leaves it reachable: false when the
// desktop has no notification area, so closing only minimises. Tests pin
// the answer with setTrayUsableOverride(0 or 1); -1 asks the desktop again.
bool isTrayUsable();
void setTrayUsableOverride(int usable);

} // namespace tray
