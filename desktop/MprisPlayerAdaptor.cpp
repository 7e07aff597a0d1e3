#include "desktop/MprisPlayerAdaptor.h"

#include "desktop/MprisService.h"
#include "player/PlayerState.h"

MprisPlayerAdaptor::MprisPlayerAdaptor(MprisService *service)
    : QDBusAbstractAdaptor(service), m_service(service)
{
}

QString MprisPlayerAdaptor::playbackStatus() const
{
    return m_service->playbackStatus();
}

QString MprisPlayerAdaptor::loopStatus() const
{
    return m_service->loopStatus();
}

void MprisPlayerAdaptor::setLoopStatus(const QString &value)
{
    m_service->setLoopStatus(value);
}

bool MprisPlayerAdaptor::shuffle() const
{
    return m_service->shuffle();
}

void MprisPlayerAdaptor::setShuffle(bool value)
{
    m_service->setShuffle(value);
}

QVariantMap MprisPlayerAdaptor::metadata() const
{
    return m_service->metadata();
}

double MprisPlayerAdaptor::volume() const
{
    return m_service->volume();
}

void MprisPlayerAdaptor::setVolume(double value)
{
    m_service->setVolume(value);
}

qlonglong MprisPlayerAdaptor::position() const
{
    return m_service->position();
}

bool MprisPlayerAdaptor::canGoNext() const
{
    return m_service->canGoNext();
}

bool MprisPlayerAdaptor::canGoPrevious() const
{
    return m_service->canGoPrevious();
}

bool MprisPlayerAdaptor::canPlay() const
{
    return m_service->canPlay();
}

bool MprisPlayerAdaptor::canPause() const
{
    return m_service->canPause();
}

bool MprisPlayerAdaptor::canSeek() const
{
    return m_service->canSeek();
}

void MprisPlayerAdaptor::Next()
{
    m_service->later([state = m_service->state()] { state->next(); });
}

void MprisPlayerAdaptor::Previous()
{
    m_service->later([state = m_service->state()] { state->previous(); });
}

void MprisPlayerAdaptor::Pause()
{
    m_service->later([state = m_service->state()] { state->pause(); });
}

void MprisPlayerAdaptor::PlayPause()
{
    m_service->later([state = m_service->state()] { state->togglePlayback(); });
}

void MprisPlayerAdaptor::Stop()
{
    m_service->later([state = m_service->state()] { state->stop(); });
}

void MprisPlayerAdaptor::Play()
{
    m_service->later([state = m_service->state()] { state->playOrResume(); });
}

void MprisPlayerAdaptor::Seek(qlonglong Offset)
{
    m_service->later(
        [state = m_service->state(), Offset] { state->seekBy(mpris::toSeconds(Offset)); });
}

void MprisPlayerAdaptor::SetPosition(const QDBusObjectPath &TrackId, qlonglong Position)
{
    m_service->setPosition(TrackId.path(), Position);
}

void MprisPlayerAdaptor::OpenUri(const QString &)
{
    // No URI scheme is supported (SupportedUriSchemes is empty).
}
