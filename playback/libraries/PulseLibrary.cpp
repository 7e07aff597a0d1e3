#include "playback/libraries/PulseLibrary.h"

#include "playback/libraries/LibrarySymbol.h"

#include <QLibrary>

namespace {
// Soname of the PulseAudio simple API (libpulse-simple.so.0).
constexpr int kPulseSimpleSonameVersion = 0;
} // namespace

const PulseLibrary *PulseLibrary::instance()
{
    return loadedLibrary<PulseLibrary>();
}

bool PulseLibrary::load()
{
    static QLibrary lib;
    lib.setFileNameAndVersion(QStringLiteral("pulse-simple"), kPulseSimpleSonameVersion);
    return lib.load() && resolveSymbol(lib, "pa_simple_new", simple_new) &&
           resolveSymbol(lib, "pa_simple_free", simple_free) &&
           resolveSymbol(lib, "pa_simple_write", simple_write) &&
           resolveSymbol(lib, "pa_simple_drain", simple_drain) &&
           resolveSymbol(lib, "pa_simple_flush", simple_flush) &&
           resolveSymbol(lib, "pa_simple_get_latency", simple_get_latency);
}
