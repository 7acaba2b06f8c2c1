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

#include <cstring>

#include "call_chain.hpp"

#if OUTLINE_DIRECT_CALLS
extern "C" const char outline_system_calls_end[];

namespace outline {
namespace {

// What a section that knows the registers reads from a signal context: where
// the program is, its frame and stack, outline_write_call's result and
// `taken` registers, and the link register where a call leaves its return
// (0 where calls leave it on the stack).
struct SignalRegisters {
  std::uintptr_t pc = 0;
  void* frame = nullptr;
  void* stack = nullptr;
  long result = 0;
  std::uintptr_t taken = 0;
  std::uintptr_t link = 0;
};

// True inside the system-call functions.
bool in_system_calls(std::uintptr_t pc) noexcept {
  return pc >= reinterpret_cast<std::uintptr_t>(&outline_read_call) &&
         pc < reinterpret_cast<std::uintptr_t>(outline_system_calls_end);
}

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
  return {registers.pc, registers.frame, registers.stack,
          in_system_calls(registers.pc) ? system_call_return(registers) : 0};
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
