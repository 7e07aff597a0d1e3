// libsndfile, opened on first use instead of linked; PulseAudio's own
// libraries already map it (with libFLAC, libvorbis and libopus) in a
// playing player.
#pragma once

#include <sndfile.h>

class SndfileLibrary
{
public:
    // Null when the library or one of its functions is missing.
    static const SndfileLibrary *instance();

    decltype(&::sf_open_virtual) open_virtual = nullptr;
    decltype(&::sf_close) close = nullptr;
    decltype(&::sf_readf_short) readf_short = nullptr;
    decltype(&::sf_seek) seek = nullptr;
    decltype(&::sf_command) command = nullptr;

private:
    template <typename T> friend const T *loadedLibrary();
    SndfileLibrary() = default;
    bool load();
};
