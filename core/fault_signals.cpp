// SPDX-License-Identifier: MIT
#include "fault_signals.hpp"

#include <signal.h>
#include <ucontext.h>

#include "error_numbers.hpp"
#include "error_stop.hpp"
#include "processor.hpp"

namespace outline {

namespace {

unsigned fpe_error_number(const ucontext_t* context) noexcept {
  if (!kX87Flags) return kZeroDivide;
  unsigned flags = x87_exception_flags(*context);
  if (flags & kX87ZeroDivide) return kZeroDivide;
  if (flags & (kX87Invalid | kX87Precision | kX87StackFault)) return kFloatInvalid;
  if (flags & kX87Overflow) return kFloatOverflow;
  if (flags & kX87Underflow) return kFloatUnderflow;
  if (flags & kX87Denormal) return kAccessFault;
  return kZeroDivide;
}

// The signature sa_sigaction takes.
// cppcheck-suppress [constParameterCallback, constParameterCallback]
void on_fault(int signal, siginfo_t* info, void* raw_context) {
  // A stop begins only once: stop_under_way() says one has. The blocked mask
  // covers only this handler's own run, not a run-time error stop or the
  // normal end, which a signal may interrupt.
  const auto* context = static_cast<const ucontext_t*>(raw_context);
  if (stop_under_way()) {
    if (info->si_code <= 0) return;  // sent from outside: the stop under way goes on
    fault_in_stop(*context);         // a real fault there cannot be resumed
  }
  unsigned number = kAccessFault;  // SIGSEGV and SIGILL
  if (signal == SIGFPE) number = fpe_error_number(context);
  if (signal == SIGBUS) number = kBusError;
  begin_fault_stop(number);
  // From here on a fault signal finds this stop under way.
  unblock_fault_signals();
  fault_stop(number, *context);
}

void fault_signal_set(sigset_t* set) noexcept {
  sigemptyset(set);
  for (int signal : kFaultSignals) sigaddset(set, signal);
}

}  // namespace

void install_fault_handlers() noexcept {
  struct sigaction action = {};
  action.sa_sigaction = on_fault;
  action.sa_flags = SA_SIGINFO;
  fault_signal_set(&action.sa_mask);
  // sigaction and sigprocmask fail only on a bad signal, `how` or address.
  for (int signal : kFaultSignals) sigaction(signal, &action, nullptr);
  // The mask is inherited across exec: a parent may have blocked them.
  unblock_fault_signals();
}

void unblock_fault_signals() noexcept {
  sigset_t set;
  fault_signal_set(&set);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

}  // namespace outline
