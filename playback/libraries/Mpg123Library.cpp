#include "playback/libraries/Mpg123Library.h"

#include "playback/libraries/LibrarySymbol.h"

#include <QLibrary>

namespace {
// Soname of the library the headers describe (libmpg123.so.0).
constexpr int kMpg123SonameVersion = 0;
} // namespace

const Mpg123Library *Mpg123Library::instance()
{
    return loadedLibrary<Mpg123Library>();
}

bool Mpg123Library::load()
{
    static QLibrary lib;
    lib.setFileNameAndVersion(QStringLiteral("mpg123"), kMpg123SonameVersion);
    if (!lib.load())
        return false;
    const bool found =
        resolveSymbol(lib, "mpg123_init", init) && resolveSymbol(lib, "mpg123_new", create) &&
        resolveSymbol(lib, "mpg123_delete", destroy) && resolveSymbol(lib, "mpg123_param", param) &&
        resolveSymbol(lib, "mpg123_format_none", format_none) &&
        resolveSymbol(lib, "mpg123_format", format) && resolveSymbol(lib, "mpg123_rates", rates) &&
        resolveSymbol(lib, "mpg123_replace_reader_handle", replace_reader_handle) &&
        resolveSymbol(lib, "mpg123_open_handle", open_handle) &&
        resolveSymbol(lib, "mpg123_close", close) &&
        resolveSymbol(lib, "mpg123_getformat", getformat) &&
        resolveSymbol(lib, "mpg123_read", read) && resolveSymbol(lib, "mpg123_seek", seek) &&
        resolveSymbol(lib, "mpg123_length", length) &&
        resolveSymbol(lib, "mpg123_set_filesize", set_filesize);
    return found && init() == MPG123_OK;
}
