// SPDX-License-Identifier: MIT
// The processor sections: each opens with its calling convention and defines
// what processor.hpp declares, but for what this file writes once for the
// sections that know the registers. The section is the one processor.hpp's
// test names:
// - x86-64, i686 and aarch64 make read(2) and write(2) in their own assembly
//   and read the registers of a signal context (registers_of);
// - any other processor calls the C library and knows no registers
//   (processor/portable.inc).
// One more setting depends on the processor: CMakeLists.txt links mips64
// programs at 0x10000000, below 4 GiB, so that a code location fits 8 hex digits.
#include "processor.hpp"

#include <sys/syscall.h>

// A macro's value as a string, for the assembly: the system call numbers
// (__NR_read, __NR_write) and the register a section keeps `taken` in.
#define OUTLINE_TEXT(x) OUTLINE_TEXT_AS_IS(x)
#define OUTLINE_TEXT_AS_IS(x) #x
#define OUTLINE_JOIN(a, b) OUTLINE_JOIN_AS_IS(a, b)
#define OUTLINE_JOIN_AS_IS(a, b) a##b

#if OUTLINE_DIRECT_CALLS
namespace outline {
namespace {

// What a section that knows the registers reads from a signal context: where
// the program is, its frame and stack, and outline_write_call's result and
// `taken` registers.
struct SignalRegisters {
  std::uintptr_t pc = 0;
  void* frame = nullptr;
  void* stack = nullptr;
  long result = 0;
  std::uintptr_t taken = 0;
};

}  // namespace
}  // namespace outline
#endif

#include OUTLINE_PROCESSOR_SECTION

namespace outline {

#if OUTLINE_DIRECT_CALLS
extern "C" const char outline_write_returned[];
extern "C" const char outline_write_counted[];

Interrupted interrupted_at(const ucontext_t& context) noexcept {
  const SignalRegisters registers = registers_of(context);
  return {registers.pc, registers.frame, registers.stack};
}

long write_taken(const ucontext_t& context, const long* taken) noexcept {
  const SignalRegisters registers = registers_of(context);
  const auto returned = reinterpret_cast<std::uintptr_t>(outline_write_returned);
  const auto counted = reinterpret_cast<std::uintptr_t>(outline_write_counted);
  const bool uncounted = registers.pc >= returned && registers.pc < counted &&
                         registers.result > 0 &&
                         registers.taken == reinterpret_cast<std::uintptr_t>(taken);
  return *taken + (uncounted ? registers.result : 0);
}
#endif

#if !defined(OUTLINE_X87)
unsigned x87_exception_flags(const ucontext_t& /*context*/) noexcept {
  return 0;
}
#endif

}  // namespace outline
