// A window message delivered to the main window through the tray hook: the
// notification-area icon's clicks and balloon ends arrive as this event
// carrying the message number and its two parameters, so the hook handles
// them in one place and tests can send any message the window could get.
#pragma once

#include <QEvent>
#include <QtGlobal>

class TrayEvent : public QEvent
{
public:
    TrayEvent(int message, qintptr wParam, qintptr lParam)
        : QEvent(eventType()), m_message(message), m_wParam(wParam), m_lParam(lParam)
    {
    }

    int message() const { return m_message; }
    qintptr wParam() const { return m_wParam; }
    qintptr lParam() const { return m_lParam; }

    // The event type, registered once with Qt.
    static QEvent::Type eventType()
    {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }

private:
    int m_message;
    qintptr m_wParam;
    qintptr m_lParam;
};
