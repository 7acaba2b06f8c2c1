// SPDX-License-Identifier: MIT
#include "error_stop.hpp"

#include <unistd.h>

#include <csignal>

#include "call_chain.hpp"
#include "error_numbers.hpp"
#include "io_check.hpp"
#include "output_stream.hpp"
#include "process_end.hpp"
#include "processor.hpp"

#if defined(OUTLINE_COVERAGE)
extern "C" void __gcov_dump();
#endif

namespace outline {

namespace {

constexpr std::size_t kChainLimit = 257;
constexpr std::size_t kTerminalChainLimit = 9;

void append_decimal(unsigned number) noexcept {
  char digits[10];
  std::size_t n = 0;
  do digits[sizeof digits - ++n] = static_cast<char>('0' + number % 10);
  while ((number /= 10) != 0);
  err.append_unchecked({digits + sizeof digits - n, n});
}

void append_location(std::uintptr_t address) noexcept {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::uint32_t location = code_location(address);
  char text[9] = {'$'};
  for (int i = 8; i >= 1; --i, location >>= 4) text[i] = kHex[location & 0xF];
  err.append_unchecked({text, sizeof text});
}

void write_report(unsigned number, std::uintptr_t location, void* frame, void* floor,
                  std::uintptr_t innermost) noexcept {
  std::uintptr_t chain[kChainLimit];
  std::size_t limit = err.buffering() == Buffering::kStatements ? kTerminalChainLimit : kChainLimit;
  std::size_t count = walk_call_chain(frame, floor, innermost, chain, limit);
  err.append_unchecked("Runtime error ");
  append_decimal(number);
  err.append_unchecked(" at ");
  append_location(location);
  err.end_line_unchecked();
  err.append_unchecked("  ");
  append_location(location);
  err.end_line_unchecked();
  for (std::size_t i = 0; i < count; ++i) {
    err.append_unchecked("  ");
    append_location(chain[i]);
    err.end_line_unchecked();
  }
  err.end_line_unchecked();
}

// The stop under way, if any. Once begun, a stop goes on: a fault signal sent
// from outside changes nothing of it, and a real fault ends it at once.
volatile sig_atomic_t stopping = 0;
volatile sig_atomic_t stop_status = 0;
// Set once the whole report is in the error stream, for a fault in the
// write-outs after it to finish.
volatile sig_atomic_t report_assembled = 0;

int exit_status(unsigned number) noexcept {
  return number > 255 ? 255 : static_cast<int>(number);
}

void begin_stop(int status) noexcept {
  stop_status = status;
  stopping = 1;
}

// Writes the report, then what is buffered, which a signal that began the
// stop, at `interrupted`, may have left in the middle of a write(2); returns
// the exit status. `innermost` is the return of an interrupted call that
// keeps no frame record, or 0.
int report_and_write_out(unsigned number, std::uintptr_t location, void* frame, void* floor,
                         const ucontext_t* interrupted = nullptr, std::uintptr_t innermost = 0) {
  int status = exit_status(number);
  begin_stop(status);
  write_report(number, location, frame, floor, innermost);
  report_assembled = 1;
  // A block lost here leaves the report's number as it is. The write-outs
  // do not look at the pending error, which a lost block sets again.
  if (interrupted != nullptr)
    out.write_out_interrupted(*interrupted);
  else
    out.write_out();
  err.write_out();
  return status;
}

// Ends the process without exit()'s handlers, as a fault stop must: the fault
// may have come in the middle of exit() itself. The coverage build writes its
// counters first.
[[noreturn]] void exit_at_once(int status) noexcept {
#if defined(OUTLINE_COVERAGE)
  __gcov_dump();
#endif
  _exit(status);
}

}  // namespace

void runtime_error_stop(unsigned number, std::uintptr_t location, void* frame, void* floor) {
  end_process(report_and_write_out(number, location, frame, floor));
}

void begin_fault_stop(unsigned number) noexcept {
  begin_stop(exit_status(number));
}

void fault_stop(unsigned number, const ucontext_t& context) {
  Interrupted at = interrupted_at(context);
  exit_at_once(report_and_write_out(number, at.pc, at.frame, at.stack, &context, at.call_return));
}

bool stop_under_way() noexcept {
  return stopping != 0;
}

void fault_in_stop(const ucontext_t& context) noexcept {
  // Runs in a handler with the fault signals blocked: a fault here too ends
  // the process at once.
  out.write_out_interrupted(context);
  // A whole report is finished; one still being made stays as far as it went.
  if (report_assembled != 0) err.write_out_interrupted(context);
  exit_at_once(stop_status);
}

void io_check_failed() {
  void** fp = static_cast<void**>(__builtin_frame_address(0));
  unsigned number = take_pending_error();
  runtime_error_stop(number,
                     call_site(reinterpret_cast<std::uintptr_t>(__builtin_return_address(0))),
                     fp[kRecordCaller], static_cast<void*>(fp + kRecordWords));
}

void normal_end() {
  begin_stop(0);
  // The last block is checked like every other: losing it is error 101.
  if (!out.write_out()) {
    void** fp = static_cast<void**>(__builtin_frame_address(0));
    runtime_error_stop(kWriteFailed,
                       call_site(reinterpret_cast<std::uintptr_t>(__builtin_return_address(0))),
                       fp[kRecordCaller], static_cast<void*>(fp + kRecordWords));
  }
  err.write_out();
  end_process(0);
}

}  // namespace outline
