// SPDX-License-Identifier: MIT
// A flight: the bytes an output stream is getting out through write(2), told
// so that a fault signal's handler can write the rest, every byte once.
//
// A flight covers [data_, end_), the bytes its owner has yet to get out from
// data_ on; send() opens one and writes a first part of them, data_ + taken_
// being how far it came. The owner ends it once it has moved the bytes that
// lay beyond the part. What a signal handler may see:
// - end_ null: no flight under way; data_ and taken_ tell of the last one.
// - end_ set: data_ and taken_ are this flight's, published before end_ with
//   a fence between; taken_ counts what each write(2) took, but for the
//   count of one that the processor's window says is not yet added
//   (write_taken), and the rest starts there.
// - end() publishes end_ null after a fence, so a handler that finds it null
//   sees the owner's bytes as they were moved.
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

  // Opens a flight over [data, end) and writes its first `size` bytes to the
  // descriptor in write(2)s of a block at most. A write(2) that takes part
  // goes on with the rest, EINTR and EAGAIN are waited out; false when one
  // takes nothing or fails: the rest of the part is lost. Inline, as
  // OutputStream::send is, up to the first write(2).
  [[gnu::always_inline]] bool send(const char* data, std::size_t size, const char* end) noexcept {
    data_ = data;
    taken_ = 0;
    std::atomic_signal_fence(std::memory_order_release);
    end_ = end;
    std::atomic_signal_fence(std::memory_order_release);
    if (size == 0) return true;
    const long n = write_call(fd_, data, std::min(size, kBlock), &taken_);
    if (n == static_cast<long>(size)) [[likely]]
      return true;
    return send_on(size, n);
  }
  // Ends the flight.
  void end() noexcept {
    std::atomic_signal_fence(std::memory_order_release);
    end_ = nullptr;
  }

  // For a signal handler.
  bool under_way() const noexcept { return end_ != nullptr; }
  // What the flight under way has yet to get out; nothing where what its
  // write(2) took cannot be told.
  std::optional<std::string_view> rest(const ucontext_t& context) const noexcept;

 private:
  // The parts and retries after a first write(2) that gave `n`.
  [[gnu::noinline]] bool send_on(std::size_t size, long n) noexcept;

  const int fd_;
  const char* data_ = nullptr;
  const char* end_ = nullptr;
  long taken_ = 0;
};

}  // namespace outline
