#include "line_reader.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace outline {

void LineReader::open(const char* name) noexcept {
  position_ = end_ = 0;
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
  if (pending_error != 0) return false;
  for (;;) {
    ssize_t n = ::read(fd_, buffer_, kBlock);
    if (n >= 0) {
      end_ = static_cast<std::size_t>(n);
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

void LineReader::read_line_unchecked(Line& line) noexcept {
  line.clear();
  for (;;) {
    if (position_ == end_ && !fill()) return;  // end of file ends a last line
    const char* start = buffer_ + position_;
    std::size_t available = end_ - position_;
    // The line runs up to the first LF or CR, whichever comes first.
    const void* lf = std::memchr(start, '\n', available);
    std::size_t length = lf ? static_cast<const char*>(lf) - start : available;
    const void* cr = std::memchr(start, '\r', length);
    if (cr) length = static_cast<const char*>(cr) - start;
    if (!line.append(start, length)) return;
    position_ += length;
    if (position_ < end_) break;
  }
  // Consume the terminator; CR LF counts as one, also across two fills.
  if (buffer_[position_++] == '\n') return;
  if (position_ == end_ && !fill()) return;
  if (buffer_[position_] == '\n') ++position_;
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
