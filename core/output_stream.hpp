// A buffered output stream on a fixed descriptor: 256-byte blocks to a file or
// pipe, and every write statement written out at its end on a terminal.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include "error_numbers.hpp"
#include "error_stop.hpp"

namespace outline {

class OutputStream {
 public:
  static constexpr std::size_t kBlock = 256;

  // Makes the terminal test on `fd`.
  explicit OutputStream(int fd) noexcept;
  OutputStream(const OutputStream&) = delete;
  OutputStream& operator=(const OutputStream&) = delete;

  // Checked operations, for the conversions: each ends with the I/O check.
  [[gnu::always_inline]] inline void write(std::string_view text) {
    append(text.data(), text.size());
    io_check();
  }
  // Ends the current write statement with the line end.
  [[gnu::always_inline]] inline void end_line() {
    append_byte('\n');
    end_statement();
    io_check();
  }
  // One whole line as one write statement.
  [[gnu::always_inline]] inline void write_line(std::string_view text) {
    append(text.data(), text.size());
    end_line();
  }
  // `count` TABs, each a write statement of its own.
  [[gnu::always_inline]] inline void write_tabs(unsigned long long count) {
    append_tabs(count);
    io_check();
  }

  // Unchecked operations; a failed write-out records error 101. Bytes
  // appended after that are dropped, never written.
  [[gnu::always_inline]] inline void append(const char* data, std::size_t size) noexcept {
    if (size <= kBlock - pending_) [[likely]] {
      if (size == 0) return;  // an empty view may have no bytes behind it at all
      std::memcpy(buffer_ + pending_, data, size);
      pending_ += size;
      return;
    }
    append_long(data, size);
  }
  [[gnu::always_inline]] inline void append_byte(char byte) noexcept {
    if (pending_ == kBlock && !write_out()) return record_error(kWriteFailed);
    buffer_[pending_++] = byte;
  }
  [[gnu::always_inline]] inline void append_tabs(unsigned long long count) noexcept {
    // A short run of TABs off a terminal: one 16-byte store into the slack.
    static constexpr char kSixteenTabs[16] = {'\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t',
                                              '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t'};
    if (count <= 16 && count <= kBlock - pending_ && !flush_per_statement_) [[likely]] {
      std::memcpy(buffer_ + pending_, kSixteenTabs, 16);
      pending_ += count;
      return;
    }
    append_tab_run(count);
  }
  void end_statement() noexcept {
    if (flush_per_statement_ && !write_out()) record_error(kWriteFailed);
  }

  // Hands the pending bytes to write(2). Returns false, recording nothing, when
  // they are lost; after that no block is ever written again.
  bool write_out() noexcept;

 private:
  void append_long(const char* data, std::size_t size) noexcept;
  void append_tab_run(unsigned long long count) noexcept;

  int fd_;
  bool flush_per_statement_;
  bool broken_ = false;
  std::size_t pending_ = 0;
  char buffer_[kBlock + 16];  // the slack takes whole 16-byte stores
};

// Standard output and the error stream, set up before main runs.
extern OutputStream out;
extern OutputStream err;

// True when `fd` is a terminal (the ioctl TCGETS succeeds).
bool is_terminal(int fd) noexcept;

}  // namespace outline
