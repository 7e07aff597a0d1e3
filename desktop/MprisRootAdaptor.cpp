#include "desktop/MprisRootAdaptor.h"

#include "desktop/MprisService.h"
#include "player/PlayerState.h"

#include <QGuiApplication>

MprisRootAdaptor::MprisRootAdaptor(MprisService *service)
    : QDBusAbstractAdaptor(service), m_service(service)
{
}

QString MprisRootAdaptor::identity() const
{
    return QStringLiteral("Velmor");
}

QString MprisRootAdaptor::desktopEntry() const
{
    // The installed .desktop file's name without ".desktop", which the
    // program sets at start.
    const QString name = QGuiApplication::desktopFileName();
    return name.isEmpty() ? QStringLiteral("velmor") : name;
}

void MprisRootAdaptor::Raise()
{
    m_service->later([state = m_service->state()] { state->raise(); });
}

void MprisRootAdaptor::Quit()
{
    m_service->later([state = m_service->state()] { state->quit(); });
}
