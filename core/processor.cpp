#include "processor.hpp"

namespace outline {

#if defined(__x86_64__)

Interrupted interrupted_at(const ucontext_t& context) noexcept {
  const greg_t* registers = context.uc_mcontext.gregs;
  return {static_cast<std::uintptr_t>(registers[REG_RIP]),
          reinterpret_cast<void*>(registers[REG_RBP]), reinterpret_cast<void*>(registers[REG_RSP])};
}

unsigned x87_exception_flags(const ucontext_t& context) noexcept {
  const auto* fpu = context.uc_mcontext.fpregs;
  return fpu != nullptr ? fpu->swd & 0x7Fu : 0;
}

#elif defined(__i386__)

Interrupted interrupted_at(const ucontext_t& context) noexcept {
  const greg_t* registers = context.uc_mcontext.gregs;
  return {static_cast<std::uintptr_t>(registers[REG_EIP]),
          reinterpret_cast<void*>(registers[REG_EBP]), reinterpret_cast<void*>(registers[REG_ESP])};
}

unsigned x87_exception_flags(const ucontext_t& context) noexcept {
  const auto* fpu = context.uc_mcontext.fpregs;
  return fpu != nullptr ? static_cast<unsigned>(fpu->sw) & 0x7Fu : 0;
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

#else  // any other Linux target: nothing known about the interrupted registers

Interrupted interrupted_at(const ucontext_t&) noexcept {
  return {};
}

unsigned x87_exception_flags(const ucontext_t&) noexcept {
  return 0;
}

#endif

std::uintptr_t call_site(std::uintptr_t return_address) noexcept {
#if defined(__x86_64__) || defined(__i386__)
  // A direct call is the opcode E8 and a 32-bit displacement; for anything
  // else, one byte back still lies inside the call.
  constexpr unsigned char kCallOpcode = 0xE8;
  constexpr std::uintptr_t kCallLength = 5;
  const auto* call = reinterpret_cast<const unsigned char*>(return_address - kCallLength);
  return *call == kCallOpcode ? return_address - kCallLength : return_address - 1;
#elif defined(__aarch64__)
  return return_address - 4;  // every instruction is 4 bytes long
#else
  return return_address - 1;
#endif
}

}  // namespace outline
