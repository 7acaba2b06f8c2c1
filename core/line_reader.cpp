// SPDX-License-Identifier: MIT
#include "line_reader.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "error_numbers.hpp"

namespace outline {

LineReader::~LineReader() {
  if (buffer_ != first_buffer_) std::free(buffer_);
}

void LineReader::open(const char* name) noexcept {
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

std::size_t LineReader::read_more() noexcept {
  if (pending_error != 0) return 0;
  if (capacity_ - static_cast<std::size_t>(end_ - buffer_) < kBlock) make_room();
  std::size_t n = 0;
  if (pending_error == 0) {
    ssize_t read = ::read(fd_, end_, kBlock);
    n = read >= 0 ? static_cast<std::size_t>(read) : read_block_again();
  }
  end_ += n;
  *end_ = kScanStop;
  return n;
}

void LineReader::make_room() noexcept {
  const std::size_t unread = available();
  std::memmove(buffer_, next_, unread);
  next_ = buffer_;
  end_ = buffer_ + unread;
  if (capacity_ - unread >= kBlock) return;
  // The buffer itself is kept when a larger one cannot be had.
  if (capacity_ > (SIZE_MAX - kLineSlack) / 2) return record_error(kOutOfMemory);
  const std::size_t capacity = 2 * capacity_;
  char* grown = static_cast<char*>(
      std::realloc(buffer_ == first_buffer_ ? nullptr : buffer_, capacity + kLineSlack));
  if (grown == nullptr) return record_error(kOutOfMemory);
  if (buffer_ == first_buffer_) std::memcpy(grown, first_buffer_, unread);
  buffer_ = grown;
  capacity_ = capacity;
  next_ = buffer_;
  end_ = buffer_ + unread;
}

std::size_t LineReader::read_block_again() noexcept {
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
    ssize_t n = ::read(fd_, end_, kBlock);
    if (n >= 0) return static_cast<std::size_t>(n);
  }
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
