#include "fault_signals.hpp"

#include <signal.h>
#include <ucontext.h>

#include <cstdint>
#include <initializer_list>

#include "error_stop.hpp"
#include "processor.hpp"

namespace outline {

namespace {

// x87 status word flags.
constexpr unsigned kInvalid = 0x01, kDenormal = 0x02, kZeroDivide = 0x04, kOverflow = 0x08,
                   kUnderflow = 0x10, kPrecision = 0x20, kStackFault = 0x40;

unsigned fpe_error_number(const ucontext_t* context) noexcept {
  unsigned flags = x87_exception_flags(*context);
  if (flags & kZeroDivide) return 200;
  if (flags & (kInvalid | kPrecision | kStackFault)) return 207;
  if (flags & kOverflow) return 205;
  if (flags & kUnderflow) return 206;
  if (flags & kDenormal) return 216;
  return 200;
}

void on_fault(int signal, siginfo_t*, void* raw_context) {
  const auto* context = static_cast<const ucontext_t*>(raw_context);
  sigset_t own;
  sigemptyset(&own);
  sigaddset(&own, signal);
  sigprocmask(SIG_UNBLOCK, &own, nullptr);

  unsigned number = signal == SIGFPE ? fpe_error_number(context) : signal == SIGBUS ? 214 : 216;
  Interrupted at = interrupted_at(*context);
  fault_stop(number, at.pc, at.frame, at.stack);
}

}  // namespace

void install_fault_handlers() noexcept {
  struct sigaction action = {};
  action.sa_sigaction = on_fault;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGFPE, SIGSEGV, SIGBUS, SIGILL}) sigaction(signal, &action, nullptr);
}

}  // namespace outline
