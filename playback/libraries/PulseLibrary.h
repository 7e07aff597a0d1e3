// PulseAudio's simple API, opened on first play instead of linked, and
// apart from FFmpeg's libraries: a player that plays through the light
// path maps no FFmpeg at all.
#pragma once

#include <pulse/simple.h>

class PulseLibrary
{
public:
    // Null when libpulse-simple or one of its functions is missing.
    static const PulseLibrary *instance();

    decltype(&::pa_simple_new) simple_new = nullptr;
    decltype(&::pa_simple_free) simple_free = nullptr;
    decltype(&::pa_simple_write) simple_write = nullptr;
    decltype(&::pa_simple_drain) simple_drain = nullptr;
    decltype(&::pa_simple_flush) simple_flush = nullptr;
    decltype(&::pa_simple_get_latency) simple_get_latency = nullptr;

private:
    template <typename T> friend const T *loadedLibrary();
    PulseLibrary() = default;
    bool load();
};
