// SPDX-License-Identifier: MIT
// The start-up code, before main: the two output streams, where the program
// was loaded, then the fault handlers.
#include <sys/ioctl.h>
#include <termios.h>

#include "call_chain.hpp"
#include "fault_signals.hpp"
#include "output_stream.hpp"

namespace outline {

namespace {

// True when `fd` is a terminal (the ioctl TCGETS succeeds).
bool is_terminal(int fd) noexcept {
  termios settings;
  return ioctl(fd, TCGETS, &settings) == 0;
}

}  // namespace

OutputStream out{1, is_terminal(1)};
OutputStream err{2, is_terminal(2)};

namespace {

const bool started = (measure_load_bias(), install_fault_handlers(), true);

}  // namespace

}  // namespace outline
