// Looks up one function of a library opened at run time and stores it in a
// pointer of the function's own type; false when the library lacks it.
#pragma once

#include <QLibrary>

template <typename F> bool resolveSymbol(QLibrary &library, const char *name, F &target)
{
    target = reinterpret_cast<F>(library.resolve(name));
    return target != nullptr;
}
