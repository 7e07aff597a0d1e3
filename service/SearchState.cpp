#include "service/SearchState.h"

namespace GetMusicList {

SearchState &State()
{
    static SearchState state;
    return state;
}

} // namespace GetMusicList
