// SPDX-License-Identifier: MIT
// Fault signals (SIGFPE, SIGSEGV, SIGBUS, SIGILL) turned into run-time error stops.
#pragma once

#include <csignal>

namespace outline {

inline constexpr int kFaultSignals[] = {SIGFPE, SIGSEGV, SIGBUS, SIGILL};

// Installs the four handlers, in that order, and unblocks the four signals.
// Every other signal is left alone, mask included.
void install_fault_handlers() noexcept;

// Unblocks the four signals, which each handler blocks while it runs.
void unblock_fault_signals() noexcept;

}  // namespace outline
