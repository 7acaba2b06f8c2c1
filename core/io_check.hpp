// SPDX-License-Identifier: MIT
// The pending error number, its recording and the I/O check: what the
// reader, the output streams and the error stop share. It includes none of
// them; io_check_failed, declared here, is defined with the error stop
// (error_stop.cpp), which it enters: the one tie upward, made by the linker.
#pragma once

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

// What ends a read(2) or write(2) on `fd` that failed with `err`: 0 when it
// may be tried again (after EINTR, and after EAGAIN once poll(2) finds `fd`
// ready for `events`), else the error number to report, `err` or the wait's.
[[gnu::noinline, gnu::cold]] int retry_error(int fd, short events, int err) noexcept;

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

}  // namespace outline
