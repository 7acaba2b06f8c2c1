// SPDX-License-Identifier: MIT
// The input file, read through a 256-byte buffer and split into lines at LF,
// CR or CR LF.
#pragma once

#include <cstddef>
#include <string_view>

#include "error_stop.hpp"
#include "line.hpp"
#include "line_ends.hpp"

namespace outline {

class LineReader {
 public:
  static constexpr std::size_t kBlock = 256;

  LineReader() = default;
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // Opens `name` for reading, standard input when it is empty. A failure is
  // left pending for the open-result query (take_pending_error).
  void open(const char* name) noexcept;

  // Checked operations, for the conversions: each ends with the I/O check on
  // every path where a system call or an allocation may have failed. The check
  // could not fire elsewhere: only such a failure records an error.
  // At end when no byte is left; end of file is not remembered.
  [[gnu::always_inline]] inline bool at_end() {
    if (next_ != end_) [[likely]]
      return false;
    bool at_end = !fill();
    io_check();
    return at_end;
  }
  // The next line, without its terminator, which is consumed. The bytes stay
  // valid until the next read; kLineSlack bytes from their end, an LF or CR
  // first, may be read.
  [[gnu::always_inline]] inline std::string_view read_line() {
    // Most lines end in LF inside the buffer and are handed out in place; the
    // scan stops at the latest at the CR kept just behind the buffered bytes,
    // which is never taken for an LF in the buffer.
    const char* start = next_;
    const char* stop = start + candidate_line_length(start);
    if (*stop == '\n') [[likely]]
      return take_through(start, stop);
    return read_line_on(start, stop);
  }
  // The end-of-input test and, when not at end, the next line, in one step,
  // with the same reads and checks: false at end.
  [[gnu::always_inline]] inline bool next_line(std::string_view& line) {
    const char* start = next_;
    const char* stop = start + candidate_line_length(start);
    if (*stop == '\n') {
      line = take_through(start, stop);
      return true;
    }
    if (start != end_) {
      line = read_line_on(start, stop);
      return true;
    }
    // The buffer is exhausted: the end-of-input test reads a block.
    bool more = fill();
    io_check();
    if (!more) return false;
    line = read_line();
    return true;
  }
  // Closes the input unless it is descriptor 0, 1 or 2.
  [[gnu::always_inline]] inline void close() {
    close_unchecked();
    io_check();
  }

 private:
  // Reading goes on behind the bytes read before, back at the front of the
  // buffer when a block no longer fits behind them.
  static constexpr std::size_t kCapacity = 16 * kBlock;
  // Kept behind the buffered bytes: a line end for every scan.
  static constexpr char kScanStop = '\r';

  std::size_t available() const noexcept { return static_cast<std::size_t>(end_ - next_); }
  // The line at `start`, handed out in place, its LF at `stop` consumed.
  std::string_view take_through(const char* start, const char* stop) noexcept {
    next_ = stop + 1;
    return {start, static_cast<std::size_t>(stop - start)};
  }
  // The rest of reading the line at `start`, whose first scan stopped at
  // `stop`, not an LF. A line that reaches the CR behind the buffered bytes
  // is read on, a block at a time, and scanned on from where it stopped.
  [[gnu::always_inline]] inline std::string_view read_line_on(const char* start, const char* stop) {
    while (stop == end_ && available() <= kBlock) {
      // The bytes scanned hold no line end: the scan goes on behind them.
      const auto scanned = static_cast<std::size_t>(stop - start);
      if (!read_on()) {
        io_check();
        return take_last_line();
      }
      start = next_;
      stop = start + scanned + candidate_line_length(start + scanned);
      if (*stop == '\n') [[likely]]
        return take_through(start, stop);
    }
    std::string_view line = read_line_slowly(static_cast<std::size_t>(stop - start));
    io_check();
    return line;
  }
  // Reads one block into the exhausted buffer; false if it gave nothing.
  bool fill() noexcept;
  // One read(2) of up to 256 bytes behind the unread ones, which must leave
  // room for them; false if it gave nothing.
  bool read_more() noexcept;
  // The same behind at most a block of unread bytes, moved to the front of
  // the buffer first when a block no longer fits behind them.
  bool read_on() noexcept;
  // All unread bytes as the last line: end of file ends it.
  std::string_view take_last_line() noexcept {
    const char* start = next_;
    next_ = end_;
    return {start, static_cast<std::size_t>(end_ - start)};
  }
  // One read(2) of up to 256 bytes to `to`; the number of bytes, 0 at end of
  // file and after a failure, which it records.
  std::size_t read_block(char* to) noexcept;
  // The same after a read(2) that failed: retried as read_block says.
  [[gnu::noinline, gnu::cold]] std::size_t read_block_again(char* to) noexcept;
  // True when the line at the read position has its terminator buffered after
  // `length` bytes, with the byte after a CR, which tells CR from CR LF.
  bool terminator_buffered(std::size_t length) const noexcept {
    return length + 1 < available() || (length + 1 == available() && next_[length] == '\n');
  }
  // A line that ends in CR, whose end is not buffered, or which holds a VT or
  // FF; its first line end, VT or FF is `candidate` bytes on.
  std::string_view read_line_slowly(std::size_t candidate) noexcept;
  // The line at the read position, its terminator consumed.
  std::string_view take_line(std::size_t length) noexcept {
    const char* start = next_;
    next_ += length + 1;
    if (start[length] == '\r' && *next_ == '\n') ++next_;
    return {start, length};
  }
  std::string_view read_long_line() noexcept;
  // Reads blocks straight behind the long line while it has room for one,
  // until one holds the terminator, which goes to the buffer with the bytes
  // after it; or until the end of the input or a failure.
  enum class Behind { terminator, end, no_room };
  Behind read_behind_long_line() noexcept;
  void close_unchecked() noexcept;

  int fd_ = -1;
  // The unread bytes, followed by a CR that stops the scan.
  const char* next_ = buffer_;
  char* end_ = buffer_;
  Line long_line_;  // a line longer than a block, read straight into it
  // The CR behind a full buffer is the first byte of a line's slack.
  char buffer_[kCapacity + kLineSlack] = {kScanStop};
};

}  // namespace outline
