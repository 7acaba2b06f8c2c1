// SPDX-License-Identifier: MIT
// Whether this build runs under AddressSanitizer, as GCC and clang each tell
// it: the programs' system calls check their bytes then, and the tests allow
// for the runtime's memory.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define OUTLINE_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OUTLINE_ADDRESS_SANITIZER 1
#endif
#endif

namespace outline {

#if defined(OUTLINE_ADDRESS_SANITIZER)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

}  // namespace outline
