#include "app/PlaybackEngine.h"

#include "app/FfmpegEngine.h"
#include "app/MpvEngine.h"

PlaybackEngine *PlaybackEngine::create(Listener &listener, int volume, QObject *parent)
{
    const QByteArray asked = qgetenv("VELMOR_PLAYBACK_ENGINE");
    // libmpv plays what the lighter engine cannot: another output (ALSA,
    // JACK...), or no sound server to reach.
    if (asked == "ffmpeg") {
        if (PlaybackEngine *engine = FfmpegEngine::create(listener, volume, parent))
            return engine;
    }
    return MpvEngine::create(listener, volume, parent);
}
