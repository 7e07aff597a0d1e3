#include "desktop/MprisPlayerAdaptor.h"

#include "desktop/MprisService.h"
#include "window/MainWindow.h"

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
    m_service->later([window = m_service->window()] { window->onNextClicked(); });
}

void MprisPlayerAdaptor::Previous()
{
    m_service->later([window = m_service->window()] { window->onPreviousClicked(); });
}

void MprisPlayerAdaptor::Pause()
{
    m_service->later([window = m_service->window()] { window->pausePlayback(); });
}

void MprisPlayerAdaptor::PlayPause()
{
    m_service->later([window = m_service->window()] { window->togglePlayback(); });
}

void MprisPlayerAdaptor::Stop()
{
    m_service->later([window = m_service->window()] { window->stopPlayback(); });
}

void MprisPlayerAdaptor::Play()
{
    m_service->later([window = m_service->window()] { window->playOrResume(); });
}

void MprisPlayerAdaptor::Seek(qlonglong Offset)
{
    m_service->later(
        [window = m_service->window(), Offset] { window->seekBy(mpris::toSeconds(Offset)); });
}

void MprisPlayerAdaptor::SetPosition(const QDBusObjectPath &TrackId, qlonglong Position)
{
    m_service->setPosition(TrackId.path(), Position);
}

void MprisPlayerAdaptor::OpenUri(const QString &)
{
    // No URI scheme is supported (SupportedUriSchemes is empty).
}
