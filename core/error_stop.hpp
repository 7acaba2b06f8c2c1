// SPDX-License-Identifier: MIT
// The pending error number, the I/O check and the run-time error stop.
#pragma once

#include <ucontext.h>

#include <cstdint>

namespace outline {

// Error number recorded by a failed input or output operation; 0 for none.
// While it is non-zero the reader reads and closes nothing, and the output's
// statement-by-statement ways stop; bytes appended to the output are
// buffered for the stop to write out, unless a write-out failed, after which
// no byte is written.
extern std::uint16_t pending_error;

// Records `number` unless an error is already pending.
void record_error(std::uint16_t number) noexcept;

// Records the error number that a failed open, read or close maps `err` to.
void record_errno(int err) noexcept;

// Returns the pending error number and sets it back to 0.
std::uint16_t take_pending_error() noexcept;

// Stops the run with the pending error, located at the call in the caller.
// Never returns, but is not declared [[noreturn]], nor is normal_end: each
// call then has a return address behind it, inside the caller, for the
// report's location and call chain.
[[gnu::noinline, gnu::cold]] void io_check_failed();

// The I/O check, inlined so that a report names the line of the operation checked.
[[gnu::always_inline]] inline void io_check() {
  if (pending_error != 0) [[unlikely]]
    io_check_failed();
}

// Ends the run: the exit sequence with status 0, or 101 if the last block of
// standard output cannot be written. Never returns (see io_check_failed).
[[gnu::noinline]] void normal_end();

// Ends the run with a run-time error report of `number` at `location`; the call
// chain starts at the frame `frame`, no lower than `stack_floor`.
[[noreturn]] void runtime_error_stop(unsigned number, std::uintptr_t location, void* frame,
                                     void* stack_floor);

// The same for a fault signal, from its handler, at the instruction `context`
// interrupted: ends the process at once, without running exit handlers.
[[noreturn]] void fault_stop(unsigned number, const ucontext_t& context);

// True once a stop has begun: a run-time error stop, a fault stop or the normal end.
bool stop_under_way() noexcept;

// Ends the process after a fault inside the stop under way, which cannot go
// on: writes out what standard output still holds, and the report once it is
// whole, and ends with that stop's status, without a second report.
[[noreturn]] void fault_in_stop(const ucontext_t& context) noexcept;

}  // namespace outline
