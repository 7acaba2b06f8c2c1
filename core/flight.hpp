// SPDX-License-Identifier: MIT
// A flight: the bytes an output stream is getting out through write(2), told
// so that a fault signal's handler can write the rest, every byte once.
//
// A flight covers [data_, end_), the bytes its owner has yet to get out from
// data_ on. send() opens one, writes a first part of them, data_ + taken_
// being how far it came, lets the owner settle the bytes that lay beyond the
// part, and ends it: every byte leaves in one flight, opened and ended there.
// What a signal handler may see:
// - end_ null: no flight under way; data_ and taken_ tell of the last one.
// - end_ set: data_ and taken_ are this flight's, published before end_ with
//   a fence between; taken_ counts what each write(2) took, but for the
//   count of one that the processor's window says is not yet added
//   (write_taken), and the rest starts there.
// - the end publishes end_ null after a fence, so a handler that finds it
//   null sees the owner's bytes as they were settled.
#pragma once

#include <ucontext.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <string_view>

#include "block.hpp"
#include "processor.hpp"

namespace outline {

class Flight {
 public:
  explicit Flight(int fd) noexcept : fd_(fd) {}

  // Opens a flight over [data, end), writes its first `size` bytes to the
  // descriptor in write(2)s of a block at most, calls `settle(sent)` to move
  // the bytes beyond them, and ends the flight. A write(2) that takes part
  // goes on with the rest, EINTR and EAGAIN are waited out; `sent` is false
  // when one takes nothing or fails: the rest of the part is lost.
  template <class Settle>
  bool send(const char* data, std::size_t size, const char* end, Settle settle) noexcept {
    data_ = data;
    taken_ = 0;
    std::atomic_signal_fence(std::memory_order_release);
    end_ = end;
    std::atomic_signal_fence(std::memory_order_release);
    const bool sent = size == 0 || first_part(size);
    settle(sent);
    std::atomic_signal_fence(std::memory_order_release);
    end_ = nullptr;
    return sent;
  }

  // For a signal handler.
  bool under_way() const noexcept { return end_ != nullptr; }
  // What the flight under way has yet to get out; nothing where what its
  // write(2) took cannot be told. Only while a flight is under way.
  std::optional<std::string_view> rest(const ucontext_t& context) const noexcept;

 private:
  // Writes the first `size` bytes of the flight: the first write(2) here,
  // inline, for it is all but always the only one; the parts and retries
  // after it out of line (one loop for all: 19 % more instructions in
  // vrex2tab on deep lines, 3 to 4 % on short ones).
  bool first_part(std::size_t size) noexcept {
    const long n = write_call(fd_, data_, std::min(size, kBlock), &taken_);
    return n == static_cast<long>(size) || send_part(size, n);
  }
  bool send_part(std::size_t size, long n) noexcept;

  const int fd_;
  const char* data_ = nullptr;
  const char* end_ = nullptr;
  long taken_ = 0;
};

}  // namespace outline
