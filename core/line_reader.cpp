#include "line_reader.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace outline {

void LineReader::open(const char* name) noexcept {
  position_ = end_ = 0;
  buffer_[0] = '\n';
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
  position_ = end_ = 0;
  return read_more();
}

bool LineReader::read_more() noexcept {
  buffer_[end_] = '\n';  // for the scan, also when nothing is read
  if (pending_error != 0) return false;
  for (;;) {
    ssize_t n = ::read(fd_, buffer_ + end_, kBlock);
    if (n >= 0) {
      end_ += static_cast<std::size_t>(n);
      buffer_[end_] = '\n';
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
  if (scanned > end_ - position_) scanned = end_ - position_;
  for (;;) {
    std::size_t available = end_ - position_;
    if (available > kBlock) return read_long_line();
    // Move the start of the line to the front and read the next block behind it.
    std::memmove(buffer_, buffer_ + position_, available);
    position_ = 0;
    end_ = available;
    if (!read_more()) {  // end of file ends a last line, and a CR before it
      position_ = end_;
      return {buffer_, scanned};
    }
    scanned += line_length(buffer_ + scanned, end_ - scanned);
    if (scanned > end_) scanned = end_;
    if (terminator_buffered(scanned)) return take_line(scanned);
  }
}

std::string_view LineReader::read_long_line() noexcept {
  long_line_.clear();
  for (;;) {
    if (position_ == end_ && !fill()) return long_line_.view();  // end of file ends a last line
    const char* start = buffer_ + position_;
    std::size_t length = long_line_length(start, end_ - position_);
    if (length > end_ - position_) length = end_ - position_;
    if (!long_line_.append(start, length)) return long_line_.view();
    position_ += length;
    if (position_ < end_) break;
  }
  // Consume the terminator; CR LF counts as one, also across two fills.
  if (buffer_[position_++] == '\n') return long_line_.view();
  if (position_ == end_ && !fill()) return long_line_.view();
  if (buffer_[position_] == '\n') ++position_;
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
