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
  int fd = 0;  // standard input for an empty name
  if (name[0] != '\0') {
    do fd = ::open(name, O_RDONLY | O_LARGEFILE, 0666);
    while (fd < 0 && errno == EINTR);
  }
  if (fd < 0) return record_errno(errno);
  fd_ = fd;
}

void LineReader::make_room() noexcept {
  const std::size_t unread = available();
  if (unread > kBlock && static_cast<std::size_t>(buffer_end_ - end_) >= kBlock) {
    move_mark_ = buffer_end_ - kBlock;
    return;
  }
  long_lines_ = long_lines_ || unread > kBlock;
  auto size = static_cast<std::size_t>(buffer_end_ - buffer_);
  const auto offset = static_cast<std::size_t>(next_ - buffer_);
  if (size - unread < kBlock) {
    char* grown = nullptr;
    if (size <= (SIZE_MAX - kLineSlack) / 2)
      grown = static_cast<char*>(
          std::realloc(buffer_ == first_buffer_ ? nullptr : buffer_, 2 * size + kLineSlack));
    if (grown == nullptr) return record_error(kOutOfMemory);  // the buffer is kept
    if (buffer_ == first_buffer_) std::memcpy(grown, first_buffer_, size);
    size *= 2;
    buffer_ = grown;
    buffer_end_ = buffer_ + size;
  }
  std::memmove(buffer_, buffer_ + offset, unread);
  next_ = buffer_;
  end_ = buffer_ + unread;
  move_mark_ = long_lines_ ? buffer_ + size / 2 : buffer_end_ - kBlock;
}

std::size_t LineReader::read_block_again(int err) noexcept {
  for (;;) {
    if ((err = retry_error(fd_, POLLIN, err)) != 0) {
      record_errno(err);
      return 0;
    }
    long n = read_call(fd_, end_, kBlock);
    if (n >= 0) return static_cast<std::size_t>(n);
    err = static_cast<int>(-n);
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
