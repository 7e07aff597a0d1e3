#include "window/EventHook.h"

EventHook::EventHook(QObject *watched, Handler handler)
    : QObject(watched), m_handler(std::move(handler))
{
}

EventHook *EventHook::install(QObject *watched, Handler handler)
{
    auto *hook = new EventHook(watched, std::move(handler));
    watched->installEventFilter(hook);
    return hook;
}

bool EventHook::eventFilter(QObject *, QEvent *event)
{
    return m_handler(event);
}
