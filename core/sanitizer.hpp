// SPDX-License-Identifier: MIT
// Whether this build runs under AddressSanitizer, as GCC and clang each tell
// it: the programs' system calls check their bytes then (check_call_bytes),
// and the tests allow for the runtime's memory.
#pragma once

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define OUTLINE_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OUTLINE_ADDRESS_SANITIZER 1
#endif
#endif

#if defined(OUTLINE_ADDRESS_SANITIZER)
#include <sanitizer/asan_interface.h>
#endif

namespace outline {

#if defined(OUTLINE_ADDRESS_SANITIZER)
inline constexpr bool kSanitized = true;

// Checks the bytes a system call reads or writes, as the sanitizer checks the
// C library's calls.
inline void check_call_bytes(const char* data, std::size_t size) noexcept {
  // The sanitizer's interface takes the bytes as mutable; it only reads them.
  void* bad = __asan_region_is_poisoned(const_cast<char*>(data), size);
  if (bad == nullptr) return;
  __asan_describe_address(bad);
  __builtin_trap();
}
#else
inline constexpr bool kSanitized = false;

inline void check_call_bytes(const char* /*data*/, std::size_t /*size*/) noexcept {}
#endif

}  // namespace outline
