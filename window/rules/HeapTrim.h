// Gives the pages the C library's allocator holds free back to the system.
// A search, or the start of a play, allocates and frees a burst of page
// text, parsed rows, lyric lines, decoded pictures and the window's first
// paint of them; the allocator keeps the freed pages mapped for reuse, and
// a player that then plays for an hour would carry them all that time.
#pragma once

namespace heaptrim {

// Once the burst is over: a second from the last call, when the window has
// drawn what the burst brought (one timer, no wake-ups after it).
void returnFreedPagesSoon();

} // namespace heaptrim
