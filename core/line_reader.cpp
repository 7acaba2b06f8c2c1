// SPDX-License-Identifier: MIT
#include "line_reader.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace outline {

void LineReader::open(const char* name) noexcept {
  next_ = end_ = buffer_;
  *end_ = kScanStop;
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
  if (pending_error != 0) {
    *end_ = kScanStop;  // for the scan, also when nothing is read
    return false;
  }
  std::size_t n = read_block(end_);
  end_ += n;
  *end_ = kScanStop;
  return n > 0;
}

bool LineReader::read_on() noexcept {
  if (end_ > buffer_ + kCapacity - kBlock) {
    std::size_t unread = available();
    std::memmove(buffer_, next_, unread);
    next_ = buffer_;
    end_ = buffer_ + unread;
  }
  return read_more();
}

inline std::size_t LineReader::read_block(char* to) noexcept {
  ssize_t n = ::read(fd_, to, kBlock);
  if (n >= 0) [[likely]]
    return static_cast<std::size_t>(n);
  return read_block_again(to);
}

std::size_t LineReader::read_block_again(char* to) noexcept {
  for (;;) {
    // errno is the failed read's: EINTR reads again, EAGAIN waits first.
    if (errno != EINTR) {
      if (errno != EAGAIN) {
        record_errno(errno);
        return 0;
      }
      // A non-blocking descriptor: wait until it has data, then read again.
      pollfd ready{fd_, POLLIN, 0};
      ::poll(&ready, 1, -1);
    }
    ssize_t n = ::read(fd_, to, kBlock);
    if (n >= 0) return static_cast<std::size_t>(n);
  }
}

std::string_view LineReader::read_line_slowly(std::size_t candidate) noexcept {
  // All buffered bytes before the candidate are no line end.
  std::size_t length =
      candidate < available() ? candidate + line_length(next_ + candidate) : candidate;
  for (;;) {
    if (terminator_buffered(length)) return take_line(length);
    // Read a block behind the line, then scan on from its first unsure byte.
    if (available() > kBlock) return read_long_line();
    // End of input ends a last line: no read for its end, which could eat later input's first byte.
    if (!read_on()) {
      const char* start = next_;
      next_ = end_;
      return {start, length};
    }
    length += line_length(next_ + length);
  }
}

std::string_view LineReader::read_long_line() noexcept {
  // What is buffered goes into the line; each block after that is read
  // straight behind it, as long as there is room for one.
  long_line_.clear();
  for (;;) {
    std::size_t length = long_line_length(next_, available());
    if (length > available()) length = available();
    if (!long_line_.append(next_, length)) return long_line_.terminated_view();
    next_ += length;
    if (next_ < end_) break;
    Behind read = read_behind_long_line();
    if (read == Behind::terminator) break;
    if (read == Behind::end) return long_line_.terminated_view();  // end of file ends a last line
    if (!fill())
      return long_line_.terminated_view();  // no room for a block: read it into the buffer
  }
  // Consume the terminator; CR LF counts as one, also across two fills.
  if (*next_++ == '\n') return long_line_.terminated_view();
  if (next_ == end_ && !fill()) return long_line_.terminated_view();
  if (*next_ == '\n') ++next_;
  return long_line_.terminated_view();
}

LineReader::Behind LineReader::read_behind_long_line() noexcept {
  while (char* to = long_line_.room(kBlock)) {
    if (pending_error != 0) return Behind::end;
    std::size_t n = read_block(to);
    if (n == 0) return Behind::end;
    std::size_t length = long_line_length(to, n);
    if (length > n) length = n;
    long_line_.extend(length);
    if (length < n) {
      // The terminator and what follows it go to the buffer, as if read there.
      if (end_ > buffer_ + kCapacity - kBlock) end_ = buffer_;
      std::memcpy(end_, to + length, n - length);
      next_ = end_;
      end_ += n - length;
      *end_ = kScanStop;
      return Behind::terminator;
    }
  }
  return Behind::no_room;
}

void LineReader::close_unchecked() noexcept {
  if (pending_error != 0) return;
  int fd = fd_;
  fd_ = -1;
  if (fd <= 2) return;
  // Linux releases the descriptor even when close(2) fails with EINTR: a
  // second close could only fail, or close a descriptor opened meanwhile.
  if (::close(fd) != 0 && errno != EINTR) record_errno(errno);
}

}  // namespace outline
