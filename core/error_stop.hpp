// SPDX-License-Identifier: MIT
// The run-time error stop and the normal end: the exit sequence.
#pragma once

#include <ucontext.h>

#include <cstdint>

namespace outline {

// Ends the run: the exit sequence with status 0, or 101 if the last block of
// standard output cannot be written. Never returns (see io_check_failed, in
// io_check.hpp).
[[gnu::noinline]] void normal_end();

// Ends the run with a run-time error report of `number` at `location`; the call
// chain starts at the frame `frame`, no lower than `stack_floor`.
[[noreturn]] void runtime_error_stop(unsigned number, std::uintptr_t location, void* frame,
                                     void* stack_floor);

// Begins the stop of a fault signal of error `number`, from its handler: from
// here on stop_under_way() is true, and the handler may unblock the signals.
void begin_fault_stop(unsigned number) noexcept;

// Goes on with that stop at the instruction `context` interrupted: writes
// the report and ends the process at once, without running exit handlers.
[[noreturn]] void fault_stop(unsigned number, const ucontext_t& context);

// True once a stop has begun: a run-time error stop, a fault stop or the normal end.
bool stop_under_way() noexcept;

// Ends the process after a fault inside the stop under way, which cannot go
// on: writes out what standard output still holds, and the report once it is
// whole, and ends with that stop's status, without a second report.
[[noreturn]] void fault_in_stop(const ucontext_t& context) noexcept;

}  // namespace outline
