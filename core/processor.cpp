// SPDX-License-Identifier: MIT
#include "processor.hpp"

#if !defined(__x86_64__) && !defined(__i386__) && !defined(__aarch64__)
#include <unistd.h>

#include <atomic>
#include <cerrno>
#endif

// The system calls, as functions of their own in assembly: each label marks
// one instruction for write_taken. Between `returned` and `counted` the
// count is in the result register and not yet in *taken; a negative result
// (-errno) is not added.
#if defined(__x86_64__)
// The arguments of the call are those of the system call; the kernel keeps
// every register but rax, rcx and r11, so r8 holds `taken` across it.
asm(R"(
  .pushsection .text
  .globl outline_read_call
  .type outline_read_call, @function
outline_read_call:
  .cfi_startproc
  xorl %eax, %eax
  syscall
  ret
  .cfi_endproc
  .size outline_read_call, . - outline_read_call

  .globl outline_write_call
  .type outline_write_call, @function
outline_write_call:
  .cfi_startproc
  movq %rcx, %r8
  movl $1, %eax
  syscall
outline_write_returned:
  testq %rax, %rax
  js 1f
  addq %rax, (%r8)
1:
outline_write_counted:
  ret
  .cfi_endproc
  .size outline_write_call, . - outline_write_call
  .popsection
)");
#elif defined(__i386__)
// int $0x80, which returns to the next instruction, unlike the vDSO's entry;
// esi holds `taken` across it.
asm(R"(
  .pushsection .text
  .globl outline_read_call
  .type outline_read_call, @function
outline_read_call:
  .cfi_startproc
  pushl %ebx
  .cfi_adjust_cfa_offset 4
  .cfi_rel_offset %ebx, 0
  movl 8(%esp), %ebx
  movl 12(%esp), %ecx
  movl 16(%esp), %edx
  movl $3, %eax
  int $0x80
  popl %ebx
  .cfi_adjust_cfa_offset -4
  .cfi_restore %ebx
  ret
  .cfi_endproc
  .size outline_read_call, . - outline_read_call

  .globl outline_write_call
  .type outline_write_call, @function
outline_write_call:
  .cfi_startproc
  pushl %ebx
  .cfi_adjust_cfa_offset 4
  .cfi_rel_offset %ebx, 0
  pushl %esi
  .cfi_adjust_cfa_offset 4
  .cfi_rel_offset %esi, 0
  movl 12(%esp), %ebx
  movl 16(%esp), %ecx
  movl 20(%esp), %edx
  movl 24(%esp), %esi
  movl $4, %eax
  int $0x80
outline_write_returned:
  testl %eax, %eax
  js 1f
  addl %eax, (%esi)
1:
outline_write_counted:
  popl %esi
  .cfi_adjust_cfa_offset -4
  .cfi_restore %esi
  popl %ebx
  .cfi_adjust_cfa_offset -4
  .cfi_restore %ebx
  ret
  .cfi_endproc
  .size outline_write_call, . - outline_write_call
  .popsection
)");
#elif defined(__aarch64__)
// x3 holds `taken` across the call, x9 the sum on its way to memory.
asm(R"(
  .pushsection .text
  .globl outline_read_call
  .type outline_read_call, %function
outline_read_call:
  .cfi_startproc
  mov x8, #63
  svc #0
  ret
  .cfi_endproc
  .size outline_read_call, . - outline_read_call

  .globl outline_write_call
  .type outline_write_call, %function
outline_write_call:
  .cfi_startproc
  mov x8, #64
  svc #0
outline_write_returned:
  tbnz x0, #63, 1f
  ldr x9, [x3]
  add x9, x9, x0
  str x9, [x3]
1:
outline_write_counted:
  ret
  .cfi_endproc
  .size outline_write_call, . - outline_write_call
  .popsection
)");
#endif

namespace outline {

// What outline_write_call holds in registers: where it is, its result, `taken`.
struct WriteRegisters {
  std::uintptr_t pc = 0;
  long result = 0;
  std::uintptr_t taken = 0;
};

#if defined(__x86_64__) || defined(__i386__)

#if defined(__x86_64__)
constexpr int kPc = REG_RIP, kFrame = REG_RBP, kStack = REG_RSP, kResult = REG_RAX, kTaken = REG_R8;
#else
constexpr int kPc = REG_EIP, kFrame = REG_EBP, kStack = REG_ESP, kResult = REG_EAX,
              kTaken = REG_ESI;
#endif

namespace {

WriteRegisters write_registers(const ucontext_t& context) noexcept {
  const greg_t* registers = context.uc_mcontext.gregs;
  return {static_cast<std::uintptr_t>(registers[kPc]), static_cast<long>(registers[kResult]),
          static_cast<std::uintptr_t>(registers[kTaken])};
}

}  // namespace

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

namespace {

WriteRegisters write_registers(const ucontext_t& context) noexcept {
  const auto& registers = context.uc_mcontext;
  return {static_cast<std::uintptr_t>(registers.pc), static_cast<long>(registers.regs[0]),
          static_cast<std::uintptr_t>(registers.regs[3])};
}

}  // namespace

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

#if defined(__x86_64__) || defined(__i386__) || defined(__aarch64__)

extern "C" const char outline_write_returned[];
extern "C" const char outline_write_counted[];

long write_taken(const ucontext_t& context, const long* taken) noexcept {
  const WriteRegisters registers = write_registers(context);
  const auto returned = reinterpret_cast<std::uintptr_t>(outline_write_returned);
  const auto counted = reinterpret_cast<std::uintptr_t>(outline_write_counted);
  const bool uncounted = registers.pc >= returned && registers.pc < counted &&
                         registers.result > 0 &&
                         registers.taken == reinterpret_cast<std::uintptr_t>(taken);
  return *taken + (uncounted ? registers.result : 0);
}

#else  // the C library's calls: between a call's return and its count, nothing tells

namespace {

// The counter of the write(2) under way in the C library.
const long* volatile writing_for = nullptr;

}  // namespace

extern "C" long outline_read_call(int fd, char* data, std::size_t size) noexcept {
  ssize_t n = ::read(fd, data, size);
  return n >= 0 ? n : -errno;
}

extern "C" long outline_write_call(int fd, const char* data, std::size_t size,
                                   long* taken) noexcept {
  writing_for = taken;
  ssize_t n = ::write(fd, data, size);
  if (n < 0) n = -errno;
  if (n > 0) *taken += n;
  std::atomic_signal_fence(std::memory_order_seq_cst);  // counted before it is said so
  writing_for = nullptr;
  return n;
}

long write_taken(const ucontext_t& /*context*/, const long* taken) noexcept {
  return writing_for == taken ? -1 : *taken;
}

#endif

}  // namespace outline
