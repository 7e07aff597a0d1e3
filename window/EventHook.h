// An event filter that hands chosen events of one widget to a function, so
// a handler can listen to a child control (its mouse moves, releases or
// tool-tip requests) without the window's own eventFilter knowing about it.
#pragma once

#include <QEvent>
#include <QObject>
#include <functional>

class EventHook : public QObject
{
    Q_OBJECT
public:
    // Returns true when it consumed the event.
    using Handler = std::function<bool(QEvent *event)>;

    // Installs itself on `watched` and is deleted with it.
    static EventHook *install(QObject *watched, Handler handler);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    EventHook(QObject *watched, Handler handler);
    Handler m_handler;
};
