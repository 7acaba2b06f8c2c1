// SPDX-License-Identifier: MIT
#include "processor.hpp"

namespace outline {

#if defined(__x86_64__) || defined(__i386__)

#if defined(__x86_64__)
constexpr int kPc = REG_RIP, kFrame = REG_RBP, kStack = REG_RSP;
#else
constexpr int kPc = REG_EIP, kFrame = REG_EBP, kStack = REG_ESP;
#endif

Interrupted interrupted_at(const ucontext_t& context) noexcept {
  const greg_t* registers = context.uc_mcontext.gregs;
  // The registers hold addresses as integers.
  return {static_cast<std::uintptr_t>(registers[kPc]),
          reinterpret_cast<void*>(registers[kFrame]),   // NOLINT(performance-no-int-to-ptr)
          reinterpret_cast<void*>(registers[kStack])};  // NOLINT(performance-no-int-to-ptr)
}

unsigned x87_exception_flags(const ucontext_t& context) noexcept {
  const auto* fpu = context.uc_mcontext.fpregs;
  if (fpu == nullptr) return 0;
#if defined(__x86_64__)
  return fpu->swd & 0x7Fu;
#else
  return static_cast<unsigned>(fpu->sw) & 0x7Fu;
#endif
}

std::uintptr_t call_site(std::uintptr_t return_address) noexcept {
  // A direct call is the opcode E8 and a 32-bit displacement; for anything
  // else, one byte back still lies inside the call.
  constexpr unsigned char kCallOpcode = 0xE8;
  constexpr std::uintptr_t kCallLength = 5;
  // A code address read back as the bytes of the instruction before it.
  const auto* call = reinterpret_cast<const unsigned char*>(  // NOLINT(performance-no-int-to-ptr)
      return_address - kCallLength);
  return *call == kCallOpcode ? return_address - kCallLength : return_address - 1;
}

#elif defined(__aarch64__)

Interrupted interrupted_at(const ucontext_t& context) noexcept {
  const auto& registers = context.uc_mcontext;
  return {static_cast<std::uintptr_t>(registers.pc), reinterpret_cast<void*>(registers.regs[29]),
          reinterpret_cast<void*>(registers.sp)};
}

unsigned x87_exception_flags(const ucontext_t&) noexcept {
  return 0;
}

std::uintptr_t call_site(std::uintptr_t return_address) noexcept {
  return return_address - 4;  // every instruction is 4 bytes long
}

#else  // any other Linux target: the interrupted registers are not known

Interrupted interrupted_at(const ucontext_t&) noexcept {
  return {};
}

unsigned x87_exception_flags(const ucontext_t&) noexcept {
  return 0;
}

std::uintptr_t call_site(std::uintptr_t return_address) noexcept {
  // Inside the call, whatever its length: every instruction of these targets
  // is at least 2 bytes long. ARM's Thumb state sets bit 0 of a return
  // address; instructions elsewhere start at even addresses anyway.
  return (return_address & ~std::uintptr_t{1}) - 2;
}

#endif

}  // namespace outline
