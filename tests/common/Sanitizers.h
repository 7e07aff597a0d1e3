// Whether the address sanitizer is built in. Its allocator keeps freed
// memory in quarantine and pages of its own, so tests that read the
// resident size, or trim the C library's heap, have nothing to measure.
#pragma once

namespace sanitizers {

#if defined(__SANITIZE_ADDRESS__) // GCC
inline constexpr bool kAddress = true;
#elif defined(__has_feature) // Clang
#if __has_feature(address_sanitizer)
inline constexpr bool kAddress = true;
#else
inline constexpr bool kAddress = false;
#endif
#else
inline constexpr bool kAddress = false;
#endif

} // namespace sanitizers
