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
#include "error_numbers.hpp"
#include "io_check.hpp"
#include "line.hpp"

namespace outline {

class OutputStream {
 public:
  // Makes the terminal test on `fd`.
  explicit OutputStream(int fd) noexcept;
  OutputStream(const OutputStream&) = delete;
  OutputStream& operator=(const OutputStream&) = delete;

  // Checked operations, for the conversions: each ends with the I/O check on
  // the paths that may write out. write and write_line append, writing a full
  // block out when more bytes follow it. The two line writers below store a
  // line that fits in the buffer off a terminal at once, with one test for
  // room, then write out a block it completes.
  [[gnu::always_inline]] void write(std::string_view text) {
    append(text.data(), text.size());
    io_check();
  }
  // Ends the current write statement with the line end.
  [[gnu::always_inline]] void end_line() {
    append_byte('\n');
    end_statement();
    io_check();
  }
  // One whole line as one write statement.
  [[gnu::always_inline]] void write_line(std::string_view text) {
    append(text.data(), text.size());
    end_line();
  }
  // `count` copies of a short fixed line, each a write statement of its own,
  // then a fixed piece and a line from the reader as one; all of them stored
  // at once after one test for room. `count` is at most one more than the
  // length of a line read before, so the size computed for it cannot overflow.
  [[gnu::always_inline]] void write_lines_then_line(std::string_view text, std::uint64_t count,
                                                    std::string_view piece, std::string_view line) {
    std::size_t at = pending_;
    std::size_t end = at + count * (text.size() + 1) + piece.size() + line.size() + 1;
    auto store = [&]() __attribute__((always_inline)) {
      char* to = store_copies(buffer_ + at, text, count);
      std::memcpy(to, piece.data(), piece.size());
      copy_line(to + piece.size(), line);
      buffer_[end - 1] = '\n';
    };
    if (text.size() < kCopyStep && store_fast(end, store)) return;
    append_lines_then_line(text, count, piece, line);
    io_check();
  }
  // `tabs` TABs, each a write statement of its own, then a line from the
  // reader and the line end as one.
  [[gnu::always_inline]] void write_indented_line(unsigned long long tabs, std::string_view line) {
    std::size_t at = pending_;
    std::size_t size = tabs + line.size() + 1;
    auto store = [&]() __attribute__((always_inline)) {
      char* to = buffer_ + at;
      std::memset(to, '\t', kTabStore);
      copy_line(to + tabs, line);
      to[size - 1] = '\n';
    };
    if (tabs <= kTabStore && store_fast(at + size, store)) return;
    append_indented_line(tabs, line);
    io_check();
  }

  // Unchecked operations; a failed write-out records error 101. Bytes
  // appended after that are dropped, never written.
  [[gnu::always_inline]] void append(const char* data, std::size_t size) noexcept {
    if (size <= kBlock - pending_) [[likely]] {
      if (size == 0) return;  // an empty view may have no bytes behind it at all
      std::memcpy(buffer_ + pending_, data, size);
      publish(pending_ + size);
      return;
    }
    append_long(data, size);
  }
  [[gnu::always_inline]] void append_byte(char byte) noexcept {
    if (pending_ == kBlock && !write_out()) return record_error(kWriteFailed);
    buffer_[pending_] = byte;
    publish(pending_ + 1);
  }
  void end_statement() noexcept {
    if (on_terminal() && !write_out()) record_error(kWriteFailed);
  }

  // Hands the pending bytes to write(2). Returns false, recording nothing, when
  // they are lost; after that no block is ever written again.
  bool write_out() noexcept;
  // The write-out of a stop that a signal began, which may have come in the
  // middle of any other call: what a write(2) under way had taken is not
  // written again, and the bytes behind it still go out. Where that cannot be
  // told, nothing more goes out: what was written stays a prefix.
  void write_out_interrupted(const ucontext_t& context) noexcept;

 private:
  static constexpr std::size_t kTabStore = 16;

  // A line from the reader is copied in two 16-byte steps when no longer,
  // then 16 bytes a step. The two steps of an empty line read kShortCopy
  // bytes from its end; a later step starts before the end.
  static constexpr std::size_t kCopyStep = 16;
  static constexpr std::size_t kShortCopy = 2 * kCopyStep;
  static_assert(kShortCopy <= kLineSlack && kCopyStep <= kLineSlack);
  // Bytes a fast store may write beyond the line it stores.
  static constexpr std::size_t kStoreSlack = kShortCopy;

  // Stores `count` copies of `text` and a line end, which must fit in one copy
  // step, and returns the end of the last. The copies go in as 16-byte
  // pieces of the repeated line, each at the next whole line; the first is
  // stored even when `count` is 0, for what is stored next to overwrite.
  [[gnu::always_inline]] static char* store_copies(char* to, std::string_view text,
                                                   std::uint64_t count) noexcept {
    const std::size_t line = text.size() + 1;
    char* end = to + count * line;
    char piece[kCopyStep];
    // Unrolled whole, the piece is a few stores; GCC keeps the loop without
    // the pragma, and tab2vrex then takes four times the instructions.
    _Pragma("GCC unroll 16") for (std::size_t i = 0; i < kCopyStep; ++i) {
      piece[i] = i % line < text.size() ? text[i % line] : '\n';
    }
    const std::size_t per_piece = kCopyStep / line;
    std::memcpy(to, piece, kCopyStep);
    if (count > per_piece) [[unlikely]] {
      for (std::uint64_t copies = per_piece; copies < count; copies += per_piece) {
        to += per_piece * line;
        std::memcpy(to, piece, kCopyStep);
      }
    }
    return end;
  }
  // Copies a line from the reader in whole steps, into the buffer's slack.
  [[gnu::always_inline]] static void copy_line(char* to, std::string_view line) noexcept {
    std::memcpy(to, line.data(), kCopyStep);
    std::memcpy(to + kCopyStep, line.data() + kCopyStep, kCopyStep);
    if (line.size() > kShortCopy) [[unlikely]] {
      std::size_t offset = kShortCopy;
      do std::memcpy(to + offset, line.data() + offset, kCopyStep);
      while ((offset += kCopyStep) < line.size());
    }
  }
  // A line of a fast path, which ends at `end`, stored by `store`: one test
  // when it completes no block; else, off a terminal and when the buffer has
  // room for it, stored too, and the block it completes written out, as
  // appending byte by byte would once a byte lies beyond it, and checked.
  // False, with nothing stored, when the line must take the slow way.
  template <class Store>
  [[gnu::always_inline]] bool store_fast(std::size_t end, Store store) {
    if (end <= fast_limit_) [[likely]] {
      store();
      publish(end);
      return true;
    }
    if (on_terminal() || end > 2 * kBlock) return false;
    store();
    publish(end);
    pass_block_on();
    io_check();
    return true;
  }
  // Makes the bytes stored up to `end` pending, only once they are stored: a
  // signal handler that writes the buffer out never finds a byte pending that
  // is not there yet.
  [[gnu::always_inline]] void publish(std::size_t end) noexcept;
  // Marks the bytes from `data` as being handed to write(2), and [data, end)
  // as what the caller still has to get out: while the flight is under way,
  // a signal handler writes out the part of that the kernel has not taken,
  // in place of the pending bytes.
  [[gnu::always_inline]] void begin_flight(const char* data, const char* end) noexcept {
    flight_.data = data;
    flight_.taken = 0;
    std::atomic_signal_fence(std::memory_order_release);
    flight_.end = end;
    std::atomic_signal_fence(std::memory_order_release);
  }
  // Ends the flight once the buffer says again what is pending.
  [[gnu::always_inline]] void end_flight() noexcept {
    std::atomic_signal_fence(std::memory_order_release);
    flight_.end = nullptr;
  }
  // Write(2) calls of [data, data + size) in the flight under way, retried as
  // may_write_again says; true only if every byte was taken.
  bool write_block(const char* data, std::size_t size) noexcept;
  // Writes out the first block and moves the bytes beyond it to the front.
  void pass_block_on() noexcept;
  // The rest of writing the first block when its one write(2) returned
  // `result`, not the whole block: tried again or lost, as write_block says.
  [[gnu::noinline, gnu::cold]] void retry_block(long result) noexcept;

  void append_long(const char* data, std::size_t size) noexcept;
  // The slow way of write_lines_then_line, statement by statement, unchecked:
  // it stops at the first failure, for the caller's check.
  void append_lines_then_line(std::string_view text, std::uint64_t count, std::string_view piece,
                              std::string_view line) noexcept;
  void append_tab_run(unsigned long long count) noexcept;
  // The slow way of write_indented_line, the same way unchecked.
  void append_indented_line(unsigned long long tabs, std::string_view line) noexcept;

  // On a terminal every write statement is written out at its end.
  bool on_terminal() const noexcept { return fast_limit_ == 0; }

  int fd_;
  // The end of the bytes a fast store may leave buffered: kBlock, or 0 on a
  // terminal, where every fast store takes the slow way.
  std::size_t fast_limit_;
  bool broken_ = false;
  std::size_t pending_ = 0;
  // The write(2) under way: under way while `end` is set; `taken` counts the
  // bytes from `data` that the kernel has taken.
  struct Flight {
    const char* data = nullptr;
    const char* end = nullptr;
    long taken = 0;
  } flight_;
  // A block, room for what a line stores beyond it, and slack for whole stores.
  char buffer_[2 * kBlock + kStoreSlack] = {};
};

inline void OutputStream::publish(std::size_t end) noexcept {
  // An empty asm that reads the buffer and may change pending_ keeps the
  // stores in order, and asks nothing else of the compiler, unlike a fence.
  asm volatile("" : "+m"(pending_) : "m"(buffer_));
  pending_ = end;
}

// Standard output and the error stream, set up before main runs.
extern OutputStream out;
extern OutputStream err;

// True when `fd` is a terminal (the ioctl TCGETS succeeds).
bool is_terminal(int fd) noexcept;

}  // namespace outline
