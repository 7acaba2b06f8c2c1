// SPDX-License-Identifier: MIT
// The input file, read 256 bytes at a time into one growable buffer and split
// into lines at LF, CR or CR LF; every line is handed out in place.
#pragma once

#include <cstddef>
#include <string_view>

#include "block.hpp"
#include "io_check.hpp"
#include "line.hpp"
#include "line_scan.hpp"
#include "processor.hpp"

namespace outline {

// What holds after every call:
// - the unread bytes are [next_, end_), inside [buffer_, buffer_end_);
// - *end_ is a CR (kScanStop), so every scan for a line end stops there at
//   the latest; next_line then reads on, never taking it for a line end
//   (scans bounded by a count instead: 20 % more instructions in tab2vrex,
//   36 % in vrex2tab, on short lines);
// - kLineSlack bytes follow buffer_end_: so many from end_, and from the end
//   of every line handed out, may be read.
// read_more restores this after every read; the first buffer starts with it.
class LineReader {
 public:
  // The buffer's size until a line longer than it leaves too little room.
  static constexpr std::size_t kFirstCapacity = 16 * kBlock;

  LineReader() = default;
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  ~LineReader();

  // Opens `name` for reading, standard input when it is empty; called once.
  // A failure is left pending for the open-result query (take_pending_error).
  void open(const char* name) noexcept;

  // The next line, without its terminator, which is consumed; false at the
  // end of the input, which is not remembered. The bytes stay valid until the
  // next call. Ends with the I/O check where a read or an allocation failed,
  // inlined with it, as close() is, so that a report names main's line.
  [[gnu::always_inline]] bool next_line(std::string_view& line) {
    // Most lines end in LF among the unread bytes (all taken the slow way:
    // 33 % more instructions in tab2vrex, 59 % in vrex2tab, on short lines).
    std::size_t length = candidate_line_length(next_);
    if (next_[length] == '\n') [[likely]] {
      take(line, length, 1);
      return true;
    }
    // The slow way: `length` bytes hold no LF or CR; a VT or FF, or a CR
    // whose next byte, unread, tells CR from CR LF, may follow. Scan on past
    // them, or read a block behind the unread bytes and scan the new bytes.
    for (;;) {
      if (length != available()) [[unlikely]] {
        length += line_length(next_ + length);
        if (length + 1 < available()) {
          take(line, length, next_[length] == '\r' && next_[length + 1] == '\n' ? 2 : 1);
          return true;
        }
        // An LF that ends the unread bytes; a CR there waits for the read
        // that tells CR from CR LF.
        if (length + 1 == available() && next_[length] == '\n') {
          take(line, length, 1);
          return true;
        }
      }
      if (read_more() == 0) [[unlikely]] {  // end of input ends a last line
        io_check();
        take(line, length, available() - length);
        return line.data() != end_;  // false when no byte was left
      }
      length += candidate_line_length(next_ + length, available() - length);
      if (next_[length] == '\n') {
        take(line, length, 1);
        return true;
      }
    }
  }
  // Closes the input unless it is descriptor 0, 1 or 2.
  [[gnu::always_inline]] void close() {
    close_unchecked();
    io_check();
  }

 private:
  static constexpr char kScanStop = '\r';

  // The first `length` unread bytes as the line, `terminator` bytes after them consumed.
  void take(std::string_view& line, std::size_t length, std::size_t terminator) noexcept {
    line = {next_, length};
    next_ += length + terminator;
  }
  std::size_t available() const noexcept { return static_cast<std::size_t>(end_ - next_); }
  // One read(2) of up to a block behind the unread bytes, after making room;
  // the number of bytes read, 0 at end of file and after a failure, which it
  // records. Once an error is pending it reads nothing.
  std::size_t read_more() noexcept {
    if (end_ > move_mark_) [[unlikely]]
      make_room();
    std::size_t n = 0;
    if (pending_error == 0) [[likely]] {
      long read = read_call(fd_, end_, kBlock);
      n = read >= 0 ? static_cast<std::size_t>(read) : read_block_again(static_cast<int>(-read));
    }
    end_ += n;
    *end_ = kScanStop;
    return n;
  }
  // Called once the unread bytes end past move_mark_. They move to the front of
  // the buffer, which doubles when they leave less than a block free: once no
  // block fits behind them; and, after a line longer than a block had to move,
  // past the middle while they are at most a block (a line's start), so that a
  // long line seldom moves. The mark is where the next test falls due.
  void make_room() noexcept;
  // The same read(2), which failed with `err`, retried after EINTR, and after
  // EAGAIN once readable.
  [[gnu::noinline, gnu::cold]] std::size_t read_block_again(int err) noexcept;
  void close_unchecked() noexcept;

  int fd_ = -1;
  bool long_lines_ = false;  // a line longer than a block has moved
  const char* next_ = first_buffer_;
  char* end_ = first_buffer_;
  char* buffer_ = first_buffer_;
  char* buffer_end_ = first_buffer_ + kFirstCapacity;
  const char* move_mark_ = first_buffer_ + kFirstCapacity - kBlock;
  // Last, with no padding behind it: a sanitizer sees a read past its slack.
  char first_buffer_[kFirstCapacity + kLineSlack] = {kScanStop};
};

}  // namespace outline
