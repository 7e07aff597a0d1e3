#include "service/SearchState.h"

namespace musicservice {

SearchState &searchState()
{
    static SearchState state;
    return state;
}

} // namespace musicservice
