// SPDX-License-Identifier: MIT
// A buffered output stream on a fixed descriptor: 256-byte blocks to a file or
// pipe, and every write statement written out at its end on a terminal.
#pragma once

#include <ucontext.h>

#include <atomic>

#include "block.hpp"
#include "flight.hpp"
#include "fused_store.hpp"  // and <cstdint>, <cstring>, <string_view>
#include "io_check.hpp"

namespace outline {

// How a stream buffers. Its value is the end a store may reach and stay
// buffered, so that one compare sends a statement the slow way when it
// completes a block, and always when statements are written at their end.
enum class Buffering : std::uint16_t {
  kStatements = 0,  // a terminal: every write statement is written out at its end
  kBlocks = kBlock  // a file or pipe: whole blocks, and the rest at the end
};

// Between calls:
// - The descriptor (the flight's) and buffering_ are fixed for the run.
// - buffer_[0, pending_) waits to be written, pending_ <= kBlock. A block is
//   written once a byte lies beyond it, so a full one waits for the next byte
//   or the end, where its loss is checked like any other's.
// - Buffering kStatements, a statement's end writes out what is pending:
//   pending_ is 0 after it.
// - broken_ once a block is lost, with error 101 recorded: no byte is
//   written after it.
// - No flight is under way (flight.hpp): send() opens and ends each.
// - run_ holds copies of run_unit_, a block's worth and one more, or nothing
//   while run_unit_ is empty.
class OutputStream {
 public:
  OutputStream(int fd, Buffering buffering) noexcept : buffering_(buffering), flight_(fd) {}

  // The conversions' operations, checked: each that may have written ends
  // with the I/O check, inlined with it so that a report names main's line.
  [[gnu::always_inline]] void write(std::string_view text) {
    append_unchecked(text);
    io_check();
  }
  // Ends the current write statement with `text` and the line end.
  [[gnu::always_inline]] void write_line(std::string_view text) {
    append_unchecked(text);
    end_line_unchecked();
    io_check();
  }
  // `count` copies of `unit` (1 to kCopyStep bytes), each a write statement
  // of its own, then `piece`, a line from the reader and the line end as one,
  // stored at once after one test for room unless statements are flushed.
  // `end` is 64 bits wide, which no count of open nodes or items overflows.
  // Inline in the main loops, where the unit and piece are known (as a call:
  // 3.5 times the instructions in tab2vrex on short lines).
  [[gnu::always_inline]] void write_copies_then_line(std::string_view unit, std::uint64_t count,
                                                     std::string_view piece,
                                                     std::string_view line) {
    const std::size_t at = pending_;
    const std::uint64_t end = at + count * unit.size() + piece.size() + line.size() + 1;
    if (end <= static_cast<std::size_t>(buffering_)) [[likely]] {
      store_copies_then_line(buffer_, at, static_cast<std::size_t>(end), unit, count, piece, line);
      return publish(static_cast<std::size_t>(end));
    }
    // Completing a block: stored at once when they fit beyond it, then passed on.
    if (buffering_ == Buffering::kBlocks && end <= 2 * kBlock) {
      store_copies_then_line(buffer_, at, static_cast<std::size_t>(end), unit, count, piece, line);
      publish(static_cast<std::size_t>(end));
      pass_block_on();
    } else {
      append_copies_then_line(unit, count, piece, line);
    }
    io_check();
  }

  // The error stop's operations, unchecked.
  void append_unchecked(std::string_view text) noexcept {
    if (text.size() > kBlock - pending_) [[unlikely]]
      return append_long(text);
    if (text.empty()) return;  // an empty view may have no bytes behind it at all
    std::memcpy(buffer_ + pending_, text.data(), text.size());
    publish(pending_ + text.size());
  }
  void end_line_unchecked() noexcept {
    append_unchecked("\n");
    if (buffering_ == Buffering::kStatements) write_out();
  }
  Buffering buffering() const noexcept { return buffering_; }
  // Writes the pending bytes out. False once a block is lost, now or before.
  bool write_out() noexcept;
  // The write-out of a stop a signal began amid any call: what a write(2) under way
  // took is not written again, the rest goes out; if that cannot be told, nothing.
  void write_out_interrupted(const ucontext_t& context) noexcept;

 private:
  // Makes the bytes up to `end` pending once stored, for a signal handler.
  void publish(std::size_t end) noexcept {
    std::atomic_signal_fence(std::memory_order_release);
    pending_ = end;
  }
  // The one way out: sends the first `size` bytes of [data, end), the
  // caller's yet to get out, in a flight, then `settle(sent)` moves the bytes
  // beyond them; false once a block is lost, now or before.
  template <class Settle>
  bool send(const char* data, std::size_t size, const char* end, Settle settle) noexcept;
  [[gnu::cold]] void lose_block() noexcept;
  // Writes out the first block and moves the bytes beyond it to the front.
  void pass_block_on() noexcept;
  void append_long(std::string_view text) noexcept;
  // The slow way of write_copies_then_line; it stops at the first failure,
  // for the caller's check.
  void append_copies_then_line(std::string_view unit, std::uint64_t count, std::string_view piece,
                               std::string_view line) noexcept;

  const Buffering buffering_;
  Flight flight_;
  bool broken_ = false;
  std::size_t pending_ = 0;
  // A block, room for a store that completes one, and the stores' slack.
  char buffer_[2 * kBlock + kStoreSlack] = {};
  // The slow way's copies of a unit, kept for the next line: a block's and one
  // (a copy at a time instead: 57 times the instructions in vrex2tab, deep lines).
  std::string_view run_unit_;
  char run_[kBlock + 2 * kCopyStep] = {};
};

// How `fd` is to be buffered: statements on a terminal (the ioctl TCGETS
// succeeds), else blocks.
Buffering buffering_of(int fd) noexcept;

// Standard output and the error stream, set up before main runs.
extern OutputStream out;
extern OutputStream err;

}  // namespace outline
