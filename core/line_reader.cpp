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
  if (size - unread >= kBlock) {
    std::memmove(buffer_, next_, unread);
  } else {
    // Doubled by realloc when the unread bytes start a buffer it gave, else
    // into a new one: either way they are copied once at most.
    const bool in_place = next_ == buffer_ && buffer_ != first_buffer_;
    char* grown = nullptr;
    if (size <= (SIZE_MAX - kLineSlack) / 2) {
      const std::size_t bytes = 2 * size + kLineSlack;
      grown = static_cast<char*>(in_place ? std::realloc(buffer_, bytes) : std::malloc(bytes));
    }
    if (grown == nullptr) return record_error(kOutOfMemory);  // the buffer is kept
    if (!in_place) {
      std::memcpy(grown, next_, unread);
      if (buffer_ != first_buffer_) std::free(buffer_);
    }
    size *= 2;
    buffer_ = grown;
    buffer_end_ = buffer_ + size;
  }
  next_ = buffer_;
  end_ = buffer_ + unread;
  move_mark_ = long_lines_ ? buffer_ + size / 2 : buffer_end_ - kBlock;
}

std::size_t LineReader::read_block_again(int err) noexcept {
  for (;;) {
    err = retry_error(fd_, POLLIN, err);
    if (err != 0) {
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
