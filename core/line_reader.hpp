// The input file, read through a 256-byte buffer and split into lines at LF,
// CR or CR LF.
#pragma once

#include <cstddef>

#include "error_stop.hpp"
#include "line.hpp"

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

  // Checked operations, for the conversions: each ends with the I/O check.
  // At end when no byte is left; end of file is not remembered.
  [[gnu::always_inline]] inline bool at_end() {
    bool at_end = pending_error != 0 || (position_ == end_ && !fill());
    io_check();
    return at_end;
  }
  // The next line, without its terminator, which is consumed.
  [[gnu::always_inline]] inline void read_line(Line& line) {
    read_line_unchecked(line);
    io_check();
  }
  // Closes the input unless it is descriptor 0, 1 or 2.
  [[gnu::always_inline]] inline void close() {
    close_unchecked();
    io_check();
  }

 private:
  // One read(2) of up to 256 bytes; false if it gave nothing.
  bool fill() noexcept;
  void read_line_unchecked(Line& line) noexcept;
  void close_unchecked() noexcept;

  int fd_ = -1;
  std::size_t position_ = 0;
  std::size_t end_ = 0;
  char buffer_[kBlock];
};

}  // namespace outline
