// The fuzz targets' assertion: a property that does not hold ends the run
// the way a crash does, so libFuzzer keeps the input that broke it.
#pragma once

#include <cstdlib>

namespace fuzz {

inline void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace fuzz
