#include "line_reader.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace outline {

void LineReader::open(const char* name) noexcept {
  next_ = end_ = buffer_;
  *end_ = '\n';
  if (name[0] == '\0') {
    fd_ = 0;
    return;
  }
  int fd;
  do fd = ::open(name, O_RDONLY | O_LARGEFILE, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return record_errno(errno);
  fd_ = fd;
}

bool LineReader::fill() noexcept {
  if (end_ > buffer_ + kCapacity - kBlock) end_ = buffer_;
  next_ = end_;
  return read_more();
}

bool LineReader::read_more() noexcept {
  *end_ = '\n';  // for the scan, also when nothing is read
  if (pending_error != 0) return false;
  for (;;) {
    ssize_t n = ::read(fd_, end_, kBlock);
    if (n >= 0) {
      end_ += n;
      *end_ = '\n';
      return n > 0;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) {
      record_errno(errno);
      return false;
    }
    // A non-blocking descriptor: wait until it has data, then read again.
    pollfd ready{fd_, POLLIN, 0};
    ::poll(&ready, 1, -1);
  }
}

std::string_view LineReader::read_line_slowly(std::size_t length) noexcept {
  if (terminator_buffered(length)) return take_line(length);
  return read_line_across_blocks(length);
}

std::string_view LineReader::read_line_across_blocks(std::size_t scanned) noexcept {
  if (scanned > available()) scanned = available();
  for (;;) {
    std::size_t line = available();
    if (line > kBlock) return read_long_line();
    if (end_ > buffer_ + kCapacity - kBlock) {
      // No room for a block behind the line: move it to the front.
      std::memmove(buffer_, next_, line);
      next_ = buffer_;
      end_ = buffer_ + line;
    }
    if (!read_more()) {  // end of file ends a last line, and a CR before it
      const char* start = next_;
      next_ = end_;
      return {start, scanned};
    }
    scanned += line_length(next_ + scanned, available() - scanned);
    if (scanned > available()) scanned = available();
    if (terminator_buffered(scanned)) return take_line(scanned);
  }
}

std::string_view LineReader::read_long_line() noexcept {
  long_line_.clear();
  for (;;) {
    if (next_ == end_ && !fill()) return long_line_.view();  // end of file ends a last line
    std::size_t length = long_line_length(next_, available());
    if (length > available()) length = available();
    if (!long_line_.append(next_, length)) return long_line_.view();
    next_ += length;
    if (next_ < end_) break;
  }
  // Consume the terminator; CR LF counts as one, also across two fills.
  if (*next_++ == '\n') return long_line_.view();
  if (next_ == end_ && !fill()) return long_line_.view();
  if (*next_ == '\n') ++next_;
  return long_line_.view();
}

void LineReader::close_unchecked() noexcept {
  if (pending_error != 0) return;
  int fd = fd_;
  fd_ = -1;
  if (fd <= 2) return;
  while (::close(fd) != 0) {
    if (errno != EINTR) return record_errno(errno);
  }
}

}  // namespace outline
