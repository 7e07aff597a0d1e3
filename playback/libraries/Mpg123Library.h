// libmpg123, opened on first use instead of linked (PulseAudio's own
// libraries already map it in a playing player, so it costs next to
// nothing there and nothing at all in one that never plays).
#pragma once

#define MPG123_NO_LARGENAME // off_t is 64 bits here: the plain names are the ones
#include <mpg123.h>

class Mpg123Library
{
public:
    // Null when the library or one of its functions is missing.
    static const Mpg123Library *instance();

    decltype(&::mpg123_init) init = nullptr;
    decltype(&::mpg123_new) create = nullptr;
    decltype(&::mpg123_delete) destroy = nullptr;
    decltype(&::mpg123_param) param = nullptr;
    decltype(&::mpg123_format_none) format_none = nullptr;
    decltype(&::mpg123_format) format = nullptr;
    decltype(&::mpg123_rates) rates = nullptr;
    decltype(&::mpg123_replace_reader_handle) replace_reader_handle = nullptr;
    decltype(&::mpg123_open_handle) open_handle = nullptr;
    decltype(&::mpg123_close) close = nullptr;
    decltype(&::mpg123_getformat) getformat = nullptr;
    decltype(&::mpg123_read) read = nullptr;
    decltype(&::mpg123_seek) seek = nullptr;
    decltype(&::mpg123_length) length = nullptr;
    decltype(&::mpg123_set_filesize) set_filesize = nullptr;

private:
    template <typename T> friend const T *loadedLibrary();
    Mpg123Library() = default;
    bool load();
};
