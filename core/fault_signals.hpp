// Fault signals (SIGFPE, SIGSEGV, SIGBUS, SIGILL) turned into run-time error stops.
#pragma once

namespace outline {

// Installs the four handlers, in that order. Every other signal is left alone.
void install_fault_handlers() noexcept;

}  // namespace outline
