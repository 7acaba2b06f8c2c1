// SPDX-License-Identifier: MIT
// The error stop's processor-dependent code: the registers a signal
// interrupted, the x87 exception flags, how far back a call instruction
// starts, and whether frame pointers lead to frame records. The line scans'
// is in line_ends.hpp.
#pragma once

#include <ucontext.h>

#include <cstdint>

namespace outline {

// Where a signal interrupted the program; 0 or null where the processor's
// section does not know.
struct Interrupted {
  std::uintptr_t pc = 0;  // the interrupted instruction
  void* frame = nullptr;  // its frame pointer
  void* stack = nullptr;  // its stack pointer
};

// Reads the interrupted registers from the context a SA_SIGINFO handler gets.
Interrupted interrupted_at(const ucontext_t& context) noexcept;

// The x87 exception flags (status word bits 0 to 6) at the signal; 0 on a
// processor without x87.
unsigned x87_exception_flags(const ucontext_t& context) noexcept;

// The address of the call instruction that returns to `return_address`, or
// an address inside it.
std::uintptr_t call_site(std::uintptr_t return_address) noexcept;

// True where a frame pointer points at a frame record: the caller's frame
// pointer, then the return address. Elsewhere a call chain holds only the
// return from the main routine.
#if defined(__x86_64__) || defined(__i386__) || defined(__aarch64__)
inline constexpr bool kFrameRecords = true;
#else
inline constexpr bool kFrameRecords = false;
#endif

}  // namespace outline
