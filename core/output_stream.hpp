// A buffered output stream on a fixed descriptor: 256-byte blocks to a file or
// pipe, and every write statement written out at its end on a terminal.
#pragma once

#include <cstddef>
#include <cstdint>
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

  // Checked operations, for the conversions: each ends with the I/O check. A
  // line that fits in the buffer off a terminal is stored at once, with one
  // test for room and no write-out, so no check can fire there and none is made.
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
  // A fixed piece and a text as one line, one write statement.
  [[gnu::always_inline]] inline void write_line(std::string_view piece, std::string_view text) {
    std::size_t size = piece.size() + text.size() + 1;
    if (fits(size)) [[likely]] {
      char* to = buffer_ + pending_;
      std::memcpy(to, piece.data(), piece.size());
      std::memcpy(to + piece.size(), text.data(), text.size());
      to[size - 1] = '\n';
      pending_ += size;
      return;
    }
    write(piece);
    write_line(text);
  }
  // `count` copies of a fixed line, each a write statement of its own.
  [[gnu::always_inline]] inline void write_lines(std::string_view line, std::uint64_t count) {
    std::size_t size = line.size() + 1;
    if (count <= kBlock && fits(count * size)) [[likely]] {
      char* to = buffer_ + pending_;
      pending_ += count * size;
      for (; count > 0; --count, to += size) {
        std::memcpy(to, line.data(), line.size());
        to[line.size()] = '\n';
      }
      return;
    }
    for (; count > 0; --count) write_line(line);
  }
  // `count` TABs, each a write statement of its own.
  [[gnu::always_inline]] inline void write_tabs(unsigned long long count) {
    append_tabs(count);
    io_check();
  }
  // `tabs` TABs, each a write statement of its own, then a text and the line
  // end as one.
  [[gnu::always_inline]] inline void write_indented_line(unsigned long long tabs,
                                                         std::string_view text) {
    std::size_t size = tabs + text.size() + 1;
    if (tabs <= kTabStore && fits(size)) [[likely]] {
      char* to = buffer_ + pending_;
      std::memset(to, '\t', kTabStore);
      std::memcpy(to + tabs, text.data(), text.size());
      to[size - 1] = '\n';
      pending_ += size;
      return;
    }
    write_tabs(tabs);
    write_line(text);
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
    // A short run of TABs off a terminal: one store of kTabStore bytes into the slack.
    if (count <= kTabStore && fits(count)) [[likely]] {
      std::memset(buffer_ + pending_, '\t', kTabStore);
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
  static constexpr std::size_t kTabStore = 16;

  // True when `size` more bytes can be stored without a write-out: never on a
  // terminal, where each statement is written out at its end.
  bool fits(std::size_t size) const noexcept { return pending_ + size <= fast_limit_; }

  void append_long(const char* data, std::size_t size) noexcept;
  void append_tab_run(unsigned long long count) noexcept;

  int fd_;
  bool flush_per_statement_;
  std::size_t fast_limit_;  // kBlock, or 0 on a terminal
  bool broken_ = false;
  std::size_t pending_ = 0;
  char buffer_[kBlock + kTabStore];  // the slack takes a whole store of TABs
};

// Standard output and the error stream, set up before main runs.
extern OutputStream out;
extern OutputStream err;

// True when `fd` is a terminal (the ioctl TCGETS succeeds).
bool is_terminal(int fd) noexcept;

}  // namespace outline
