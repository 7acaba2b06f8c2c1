// SPDX-License-Identifier: MIT
#include "output_stream.hpp"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "error_numbers.hpp"

namespace outline {

bool is_terminal(int fd) noexcept {
  termios settings;
  return ioctl(fd, TCGETS, &settings) == 0;
}

OutputStream::OutputStream(int fd) noexcept : fd_(fd), fast_limit_(is_terminal(fd) ? 0 : kBlock) {}

namespace {

// True when a write(2) that failed with `err` may be tried again: after
// EINTR, and after EAGAIN once the descriptor is writable.
[[gnu::noinline, gnu::cold]] bool may_write_again(int fd, int err) noexcept {
  if (err == EINTR) return true;
  if (err != EAGAIN) return false;
  pollfd ready{fd, POLLOUT, 0};
  ::poll(&ready, 1, -1);
  return true;
}

// One write(2) of the whole block, retried as may_write_again says. True only
// if every byte was taken.
[[gnu::always_inline]] inline bool write_block(int fd, const char* data,
                                               std::size_t size) noexcept {
  for (;;) {
    ssize_t n = ::write(fd, data, size);
    if (n >= 0) [[likely]]
      return static_cast<std::size_t>(n) == size;
    if (!may_write_again(fd, errno)) return false;
  }
}

}  // namespace

bool OutputStream::write_out() noexcept {
  if (pending_ == 0) return !broken_;
  std::size_t size = pending_;
  pending_ = 0;
  if (broken_) return false;
  broken_ = !write_block(fd_, buffer_, size);
  return !broken_;
}

void OutputStream::pass_block_on() noexcept {
  // One write(2) that takes the whole block, as nearly always; else retried.
  ssize_t n = broken_ ? -1 : ::write(fd_, buffer_, kBlock);
  if (n != static_cast<ssize_t>(kBlock)) [[unlikely]]
    retry_block(n);
  // Step by step to the front: no step overlaps the bytes it copies. Most
  // lines leave no more than two steps beyond the block.
  std::size_t beyond = pending_ - kBlock;
  std::memcpy(buffer_, buffer_ + kBlock, kCopyStep);
  std::memcpy(buffer_ + kCopyStep, buffer_ + kBlock + kCopyStep, kCopyStep);
  for (std::size_t offset = 2 * kCopyStep; offset < beyond; offset += kCopyStep)
    std::memcpy(buffer_ + offset, buffer_ + kBlock + offset, kCopyStep);
  pending_ = beyond;
}

void OutputStream::retry_block(ssize_t written) noexcept {
  if (!broken_ && written < 0 && may_write_again(fd_, errno))
    broken_ = !write_block(fd_, buffer_, kBlock);
  else
    broken_ = true;
  if (broken_) record_error(kWriteFailed);
}

void OutputStream::append_long(const char* data, std::size_t size) noexcept {
  // Fill the buffer up and write it out, as often as more bytes remain than fit.
  std::size_t free = kBlock - pending_;
  if (pending_ != 0) {
    std::memcpy(buffer_ + pending_, data, free);
    pending_ = kBlock;
    data += free;
    size -= free;
    if (!write_out()) return record_error(kWriteFailed);
  }
  // With the buffer empty, whole blocks go straight from the caller's bytes;
  // the last block stays buffered, like any other block that is exactly full.
  while (size > kBlock) {
    if (broken_ || !write_block(fd_, data, kBlock)) {
      broken_ = true;
      return record_error(kWriteFailed);
    }
    data += kBlock;
    size -= kBlock;
  }
  std::memcpy(buffer_, data, size);
  pending_ = size;
}

void OutputStream::append_lines_then_line(std::string_view text, std::uint64_t count,
                                          std::string_view piece, std::string_view line) noexcept {
  for (; count > 0; --count) {
    append(text.data(), text.size());
    append_byte('\n');
    end_statement();
    if (pending_error != 0) return;
  }
  append(piece.data(), piece.size());
  append(line.data(), line.size());
  append_byte('\n');
  end_statement();
}

void OutputStream::append_indented_line(unsigned long long tabs, std::string_view line) noexcept {
  append_tabs(tabs);
  if (pending_error != 0) return;
  append(line.data(), line.size());
  append_byte('\n');
  end_statement();
}

void OutputStream::append_tab_run(unsigned long long count) noexcept {
  if (on_terminal()) {
    for (; count > 0 && pending_error == 0; --count) {
      append_byte('\t');
      end_statement();
    }
    return;
  }
  // Off a terminal a statement's end writes nothing, so the TABs go in as runs.
  while (count > 0 && pending_error == 0) {
    if (pending_ == kBlock && !write_out()) return record_error(kWriteFailed);
    std::size_t run = kBlock - pending_;
    if (run > count) run = count;
    std::memset(buffer_ + pending_, '\t', run);
    pending_ += run;
    count -= run;
  }
}

}  // namespace outline
