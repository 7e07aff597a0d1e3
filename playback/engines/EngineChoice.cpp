#include "playback/engines/PlaybackEngine.h"

#include "playback/engines/FfmpegEngine.h"
#include "playback/engines/MpvEngine.h"

PlaybackEngine *PlaybackEngine::create(Listener &listener, int volume, QObject *parent)
{
    // The lighter engine unless libmpv is asked for by name. libmpv also
    // plays what the lighter one cannot: another output (ALSA, JACK...), or
    // no sound server to reach.
    if (qgetenv("VELMOR_PLAYBACK_ENGINE") != "mpv") {
        if (PlaybackEngine *engine = FfmpegEngine::create(listener, volume, parent))
            return engine;
    }
    return MpvEngine::create(listener, volume, parent);
}
