// SPDX-License-Identifier: MIT
// The start-up code, before main: the two output streams, where the program
// was loaded, then the fault handlers.
#include "call_chain.hpp"
#include "fault_signals.hpp"
#include "output_stream.hpp"

namespace outline {

OutputStream out{1, buffering_of(1)};
OutputStream err{2, buffering_of(2)};

namespace {

const bool started = (measure_load_bias(), install_fault_handlers(), true);

}  // namespace

}  // namespace outline
