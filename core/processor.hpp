// SPDX-License-Identifier: MIT
// What depends on the processor, declared: the one read(2) and write(2) of
// the reader and the streams, the registers a signal interrupted, what an
// interrupted write(2) took, the x87 exception flags, how far back a call
// instruction starts, and whether frame pointers lead to frame records, and
// how. The section of this processor says what it has and defines them
// (processor.cpp); the line scans' code is in line_scan.hpp. Read by the
// assembler too (system_calls.S), for the section's system-call functions.
#pragma once

// The one test of which processor this build is for: its section. Every other
// processor takes the portable section.
#if defined(__x86_64__)
#define OUTLINE_PROCESSOR_SECTION "processor/x86_64.inc"
#elif defined(__i386__)
#define OUTLINE_PROCESSOR_SECTION "processor/i686.inc"
#elif defined(__aarch64__)
#define OUTLINE_PROCESSOR_SECTION "processor/aarch64.inc"
#else
#define OUTLINE_PROCESSOR_SECTION "processor/portable.inc"
#endif

// A macro's value as a token pasted on, for the sections' register names.
#define OUTLINE_JOIN(a, b) OUTLINE_JOIN_AS_IS(a, b)
#define OUTLINE_JOIN_AS_IS(a, b) a##b

#if !defined(__ASSEMBLER__)
#include <ucontext.h>

#include <cstddef>
#include <cstdint>

#include "sanitizer.hpp"
#endif

// What the section has (for the assembler: its system-call functions).
#include OUTLINE_PROCESSOR_SECTION

#if !defined(__ASSEMBLER__)
namespace outline {

// Whether the section makes read(2) and write(2) itself and knows the
// registers of a signal context; whether a frame pointer points at a frame
// record, else a call chain holds only the return from the main routine; and
// whether there are x87 flags.
inline constexpr bool kOwnSystemCalls = section::kOwnSystemCalls;
inline constexpr bool kFrameRecords = section::kFrameRecords;
inline constexpr bool kX87Flags = section::kX87Flags;
// A frame record, in words from the frame pointer: the caller's frame
// pointer, then the return address; the caller's stack lies behind it.
inline constexpr std::size_t kRecordCaller = 0, kRecordReturn = 1, kRecordWords = 2;

// Where a signal interrupted the program; 0 or null where the processor's
// section does not know.
struct Interrupted {
  std::uintptr_t pc = 0;  // the interrupted instruction
  void* frame = nullptr;  // its frame pointer
  void* stack = nullptr;  // its stack pointer
  // Inside read_call's or write_call's system-call function, which keeps no
  // frame record: the address it returns to in its caller.
  std::uintptr_t call_return = 0;
};

// read(2) and write(2), made straight to the kernel where this processor's
// section knows how, else through the C library. The result is the count, or
// -errno. write_call adds the count to `*taken` before it returns, so that a
// signal handler can tell what it took.
//
// A section that makes the call itself writes both in assembly
// (system_calls.S), in this order, and puts outline_system_calls_end behind
// them. The window: it puts the label
// outline_write_returned right behind the system call and
// outline_write_counted right behind the instruction that adds the count.
// While the interrupted instruction lies in [returned, counted), the count is
// in the result register and not yet in *taken; at counted and after it is.
extern "C" long outline_read_call(int fd, char* data, std::size_t size) noexcept;
extern "C" long outline_write_call(int fd, const char* data, std::size_t size,
                                   long* taken) noexcept;

inline long read_call(int fd, char* data, std::size_t size) noexcept {
  check_call_bytes(data, size);
  return outline_read_call(fd, data, size);
}
inline long write_call(int fd, const char* data, std::size_t size, long* taken) noexcept {
  check_call_bytes(data, size);
  return outline_write_call(fd, data, size, taken);
}

// What the write_calls counting into `taken` had taken when a signal
// interrupted the program: `*taken`, and the count of a call the signal came
// in the window of; -1 where that cannot be told (the C library's call).
long write_taken(const ucontext_t& context, const long* taken) noexcept;

// Reads the interrupted registers from the context a SA_SIGINFO handler gets.
Interrupted interrupted_at(const ucontext_t& context) noexcept;

// The x87 exception flags (status word bits 0 to 6) at the signal; 0 on a
// processor without x87.
unsigned x87_exception_flags(const ucontext_t& context) noexcept;
inline constexpr unsigned kX87Invalid = 0x01, kX87Denormal = 0x02, kX87ZeroDivide = 0x04,
                          kX87Overflow = 0x08, kX87Underflow = 0x10, kX87Precision = 0x20,
                          kX87StackFault = 0x40;

// The address of the call instruction that returns to `return_address`, or
// an address inside it.
std::uintptr_t call_site(std::uintptr_t return_address) noexcept;

}  // namespace outline
#endif
