// SPDX-License-Identifier: MIT
// A buffered output stream on a fixed descriptor: 256-byte blocks to a file or
// pipe, and every write statement written out at its end on a terminal.
#pragma once

#include <ucontext.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "block.hpp"
#include "fused_store.hpp"
#include "io_check.hpp"

namespace outline {

// Between calls:
// - buffer_[0, pending_) waits to be written, pending_ <= kBlock. A block is
//   written once a byte lies beyond it, so a full one waits for the next byte
//   or the end, where its loss is checked like any other's.
// - Flushing each statement (on a terminal), a statement's end writes out
//   what is pending: pending_ is 0 after it.
// - After a lost block (broken_, error 101 recorded) no byte is written.
// - No flight is under way (flight_end_ is null).
// Every byte leaves through send().
class OutputStream {
 public:
  OutputStream(int fd, bool flush_each_statement) noexcept
      : fd_(fd),
        flush_each_statement_(flush_each_statement),
        fast_limit_(flush_each_statement ? 0 : kBlock) {}
  OutputStream(const OutputStream&) = delete;
  OutputStream& operator=(const OutputStream&) = delete;

  // The conversions' operations, checked: each ends with the I/O check.
  [[gnu::always_inline]] void write(std::string_view text) {
    append_unchecked(text);
    io_check();
  }
  // Ends the current write statement with the line end.
  [[gnu::always_inline]] void end_line() {
    end_line_unchecked();
    io_check();
  }
  // One whole line as one write statement.
  [[gnu::always_inline]] void write_line(std::string_view text) {
    append_unchecked(text);
    end_line();
  }
  // `count` copies of `unit` (1 to kCopyStep bytes), each a write statement
  // of its own, then `piece`, a line from the reader and the line end as one;
  // stored at once after one test for room when they fit and statements are
  // not flushed. `count` is at most one more than the length of a line read
  // before, so the size computed for it cannot overflow.
  [[gnu::always_inline]] void write_copies_then_line(std::string_view unit, std::uint64_t count,
                                                     std::string_view piece,
                                                     std::string_view line) {
    const std::size_t at = pending_;
    const std::size_t end = at + count * unit.size() + piece.size() + line.size() + 1;
    if (end <= fast_limit_) [[likely]] {
      store_copies_then_line(buffer_ + at, buffer_ + end, unit, count, piece, line);
      return publish(end);
    }
    // Completing a block, they are still stored at once when they fit the
    // room beyond it, and the block is passed on.
    if (!flush_each_statement_ && end <= 2 * kBlock) {
      store_copies_then_line(buffer_ + at, buffer_ + end, unit, count, piece, line);
      publish(end);
      pass_block_on();
    } else {
      append_copies_then_line(unit, count, piece, line);
    }
    io_check();
  }

  // The error stop's operations, unchecked.
  [[gnu::always_inline]] void append_unchecked(std::string_view text) noexcept {
    if (text.size() > kBlock - pending_) [[unlikely]]
      return append_long(text);
    if (text.empty()) return;  // an empty view may have no bytes behind it at all
    std::memcpy(buffer_ + pending_, text.data(), text.size());
    publish(pending_ + text.size());
  }
  void end_line_unchecked() noexcept {
    append_unchecked("\n");
    if (flush_each_statement_) write_out();
  }
  bool flushes_each_statement() const noexcept { return flush_each_statement_; }
  // Writes the pending bytes out. False once a block is lost, now or before.
  bool write_out() noexcept;
  // The write-out of a stop a signal began, in the middle of any other call:
  // what a write(2) under way took is not written again, and the bytes behind
  // it still go out; where that cannot be told, nothing more goes out.
  void write_out_interrupted(const ucontext_t& context) noexcept;

 private:
  // Makes the bytes stored up to `end` pending, only once they are stored, so
  // that a signal handler never writes out a byte not yet there.
  [[gnu::always_inline]] void publish(std::size_t end) noexcept {
    std::atomic_signal_fence(std::memory_order_release);
    pending_ = end;
  }
  // The one way out: write(2)s of [data, data + size), a block at most each,
  // in a flight marking [data, end) as what the caller has yet to get out, of
  // which a signal handler writes what the kernel has not taken; the caller
  // ends it once pending_ is right again. A short write, or a failure but
  // EINTR and EAGAIN (waited out), records error 101 and breaks the stream.
  bool send(const char* data, std::size_t size, const char* end) noexcept;
  void end_flight() noexcept {
    std::atomic_signal_fence(std::memory_order_release);
    flight_end_ = nullptr;
  }
  // Writes out the first block and moves the bytes beyond it to the front.
  void pass_block_on() noexcept;
  void append_long(std::string_view text) noexcept;
  // The slow way of write_copies_then_line, statement by statement; it stops
  // at the first failure for the caller's check.
  void append_copies_then_line(std::string_view unit, std::uint64_t count, std::string_view piece,
                               std::string_view line) noexcept;

  const int fd_;
  const bool flush_each_statement_;
  // The end a store may reach and leave buffered: kBlock, or 0 when flushing
  // each statement, so that one test sends every such store the slow way.
  const std::size_t fast_limit_;
  bool broken_ = false;
  std::size_t pending_ = 0;
  // The flight under way while its end is set: the bytes from its data that
  // the kernel has taken are counted in flight_taken_.
  const char* flight_data_ = nullptr;
  const char* flight_end_ = nullptr;
  long flight_taken_ = 0;
  // A block, room for a store that completes one, and the stores' slack.
  char buffer_[2 * kBlock + kStoreSlack] = {};
  // The slow way's copies of a unit, kept for the next line: a block's and one.
  std::string_view run_unit_;
  char run_[kBlock + 2 * kCopyStep] = {};
};

// Standard output and the error stream, set up before main runs.
extern OutputStream out;
extern OutputStream err;

}  // namespace outline
