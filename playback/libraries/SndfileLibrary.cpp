#include "playback/libraries/SndfileLibrary.h"

#include "playback/libraries/LibrarySymbol.h"

#include <QLibrary>

namespace {
// Soname of the library the headers describe (libsndfile.so.1).
constexpr int kSndfileSonameVersion = 1;
} // namespace

const SndfileLibrary *SndfileLibrary::instance()
{
    return loadedLibrary<SndfileLibrary>();
}

bool SndfileLibrary::load()
{
    static QLibrary lib;
    lib.setFileNameAndVersion(QStringLiteral("sndfile"), kSndfileSonameVersion);
    return lib.load() && resolveSymbol(lib, "sf_open_virtual", open_virtual) &&
           resolveSymbol(lib, "sf_close", close) &&
           resolveSymbol(lib, "sf_readf_short", readf_short) &&
           resolveSymbol(lib, "sf_seek", seek) && resolveSymbol(lib, "sf_command", command);
}
