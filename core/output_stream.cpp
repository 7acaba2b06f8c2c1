// SPDX-License-Identifier: MIT
#include "output_stream.hpp"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <algorithm>
#include <cerrno>

#include "error_numbers.hpp"
#include "processor.hpp"

namespace outline {

bool is_terminal(int fd) noexcept {
  termios settings;
  return ioctl(fd, TCGETS, &settings) == 0;
}

OutputStream::OutputStream(int fd) noexcept : fd_(fd), fast_limit_(is_terminal(fd) ? 0 : kBlock) {}

namespace {

// True when a write(2) that failed with `err` may be tried again: after
// EINTR, and after EAGAIN once the descriptor is writable. A wait that fails
// (but for a signal) fails the write.
[[gnu::noinline, gnu::cold]] bool may_write_again(int fd, int err) noexcept {
  if (err == EINTR) return true;
  if (err != EAGAIN) return false;
  pollfd ready{fd, POLLOUT, 0};
  return ::poll(&ready, 1, -1) >= 0 || errno == EINTR;
}

}  // namespace

bool OutputStream::write_block(const char* data, std::size_t size) noexcept {
  for (;;) {
    long n = write_call(fd_, data, size, &flight_.taken);
    if (n >= 0) [[likely]]
      return static_cast<std::size_t>(n) == size;
    if (!may_write_again(fd_, static_cast<int>(-n))) return false;
  }
}

bool OutputStream::write_out() noexcept {
  if (pending_ == 0) return !broken_;
  if (broken_) {
    pending_ = 0;
    return false;
  }
  begin_flight(buffer_, buffer_ + pending_);
  broken_ = !write_block(buffer_, pending_);
  pending_ = 0;
  end_flight();
  return !broken_;
}

void OutputStream::write_out_interrupted(const ucontext_t& context) noexcept {
  if (flight_.end == nullptr) {
    write_out();
    return;
  }
  // The flight's rest is what is left to write; the buffer's pending bytes,
  // where they are not yet moved, lie inside it.
  long taken = write_taken(context, &flight_.taken);
  const char* from = flight_.data + (taken > 0 ? taken : 0);
  const char* end = flight_.end;
  if (taken < 0 || from > end) broken_ = true;
  if (!broken_ && from < end) {
    begin_flight(from, end);
    broken_ = !write_block(from, static_cast<std::size_t>(end - from));
  }
  pending_ = 0;
  end_flight();
}

void OutputStream::pass_block_on() noexcept {
  // One write(2) that takes the whole block, as nearly always; else retried
  // after EINTR or EAGAIN, or the block is lost.
  begin_flight(buffer_, buffer_ + pending_);
  long n = broken_ ? -1 : write_call(fd_, buffer_, kBlock, &flight_.taken);
  if (n != static_cast<long>(kBlock)) [[unlikely]]
    retry_block(n);
  // Step by step to the front: no step overlaps the bytes it copies, so the
  // bytes beyond the block stay in place for a signal handler until the end.
  std::size_t beyond = pending_ - kBlock;
  std::memcpy(buffer_, buffer_ + kBlock, kCopyStep);
  std::memcpy(buffer_ + kCopyStep, buffer_ + kBlock + kCopyStep, kCopyStep);
  for (std::size_t offset = 2 * kCopyStep; offset < beyond; offset += kCopyStep)
    std::memcpy(buffer_ + offset, buffer_ + kBlock + offset, kCopyStep);
  publish(beyond);
  end_flight();
}

void OutputStream::retry_block(long result) noexcept {
  if (!broken_ && result < 0 && may_write_again(fd_, static_cast<int>(-result)))
    broken_ = !write_block(buffer_, kBlock);
  else
    broken_ = true;
  if (broken_) record_error(kWriteFailed);
}

void OutputStream::append_long(const char* data, std::size_t size) noexcept {
  // Fill the buffer up and write it out, as often as more bytes remain than fit.
  std::size_t free = kBlock - pending_;
  if (pending_ != 0) {
    std::memcpy(buffer_ + pending_, data, free);
    publish(kBlock);
    data += free;
    size -= free;
    if (!write_out()) return record_error(kWriteFailed);
  }
  // With the buffer empty, whole blocks go straight from the caller's bytes,
  // in one flight to their end; the last block stays buffered, like any
  // other block that is exactly full.
  if (size <= kBlock) {
    std::memcpy(buffer_, data, size);
    publish(size);
    return;
  }
  if (broken_) return record_error(kWriteFailed);
  begin_flight(data, data + size);
  for (; size > kBlock; data += kBlock, size -= kBlock) {
    if (!write_block(data, kBlock)) {
      broken_ = true;
      end_flight();
      return record_error(kWriteFailed);
    }
  }
  std::memcpy(buffer_, data, size);
  publish(size);
  end_flight();
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
  append_tab_run(tabs);
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
    std::size_t run = std::min<std::size_t>(kBlock - pending_, count);
    std::memset(buffer_ + pending_, '\t', run);
    publish(pending_ + run);
    count -= run;
  }
}

}  // namespace outline
