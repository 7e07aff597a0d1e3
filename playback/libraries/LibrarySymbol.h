// Helpers for the libraries the player opens at run time instead of linking:
// each is a table of function pointers, T, filled by its private load().
#pragma once

#include <QLibrary>

template <typename F> bool resolveSymbol(QLibrary &library, const char *name, F &target)
{
    target = reinterpret_cast<F>(library.resolve(name));
    return target != nullptr;
}

// The one loaded copy of T, made on first use (thread-safe); nullptr when
// T::load() failed: the library, or a function of it, is missing. T makes
// this a friend.
template <typename T> const T *loadedLibrary()
{
    static const T *const loaded = [] {
        auto *table = new T;
        if (table->load())
            return const_cast<const T *>(table);
        delete table;
        return static_cast<const T *>(nullptr);
    }();
    return loaded;
}
