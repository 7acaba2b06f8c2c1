// SPDX-License-Identifier: MIT
#include "output_stream.hpp"

#include <sys/ioctl.h>
#include <termios.h>

#include <algorithm>

#include "error_numbers.hpp"

namespace outline {

Buffering buffering_of(int fd) noexcept {
  termios settings;
  return ioctl(fd, TCGETS, &settings) == 0 ? Buffering::kStatements : Buffering::kBlocks;
}

template <class Settle>
bool OutputStream::send(const char* data, std::size_t size, const char* end,
                        Settle settle) noexcept {
  if (broken_) {
    settle(false);
    return false;
  }
  return flight_.send(data, size, end, [&](bool sent) {
    if (!sent) lose_block();
    settle(sent);
  });
}

void OutputStream::lose_block() noexcept {
  broken_ = true;
  record_error(kWriteFailed);
}

bool OutputStream::write_out() noexcept {
  return send(buffer_, pending_, buffer_ + pending_, [this](bool) { pending_ = 0; });
}

void OutputStream::write_out_interrupted(const ucontext_t& context) noexcept {
  if (!flight_.under_way()) return static_cast<void>(write_out());
  // The flight's rest goes out in a flight of its own; pending bytes not yet
  // moved lie in it. Where the rest cannot be told, the block is lost.
  const std::optional<std::string_view> rest = flight_.rest(context);
  if (!rest) lose_block();
  const std::string_view bytes = rest.value_or(std::string_view());
  send(bytes.data(), bytes.size(), bytes.data() + bytes.size(), [this](bool) { pending_ = 0; });
}

void OutputStream::pass_block_on() noexcept {
  // Step by step to the front: no step overlaps the bytes it copies, so the
  // bytes beyond the block stay in place for a signal handler until the end.
  send(buffer_, kBlock, buffer_ + pending_, [this](bool) {
    const std::size_t beyond = pending_ - kBlock;
    std::memcpy(buffer_, buffer_ + kBlock, kCopyStep);
    std::memcpy(buffer_ + kCopyStep, buffer_ + kBlock + kCopyStep, kCopyStep);
    for (std::size_t offset = 2 * kCopyStep; offset < beyond; offset += kCopyStep)
      std::memcpy(buffer_ + offset, buffer_ + kBlock + offset, kCopyStep);
    publish(beyond);
  });
}

void OutputStream::append_long(std::string_view text) noexcept {
  // Fill the buffer up and write it out; whole blocks then go straight from
  // the caller's bytes, and the last, full or not, stays buffered.
  const std::size_t free = kBlock - pending_;
  std::memcpy(buffer_ + pending_, text.data(), free);
  publish(kBlock);
  text.remove_prefix(free);
  const std::size_t direct = (text.size() - 1) / kBlock * kBlock;
  if (!write_out()) return;
  send(text.data(), direct, text.data() + text.size(), [&](bool sent) {
    if (!sent) return;
    std::memcpy(buffer_, text.data() + direct, text.size() - direct);
    publish(text.size() - direct);
  });
}

void OutputStream::append_copies_then_line(std::string_view unit, std::uint64_t count,
                                           std::string_view piece, std::string_view line) noexcept {
  // Copies from the run: one at a time when flushed, else up to one past the block, passed on.
  static_assert([] {
    for (std::size_t size = 1; size <= kCopyStep; ++size)
      if (copies_reach(size, kBlock / size + 1) > sizeof(OutputStream::run_)) return false;
    return true;
  }());
  if (run_unit_ != unit) {
    store_copies(run_, pattern_of(unit), kBlock / unit.size() + 1);
    run_unit_ = unit;
  }
  for (std::uint64_t copies = 0; count > 0 && pending_error == 0; count -= copies) {
    copies = std::min<std::uint64_t>(
        count, buffering_ == Buffering::kStatements ? 1 : (kBlock - pending_) / unit.size() + 1);
    std::memcpy(buffer_ + pending_, run_, copies * unit.size());
    publish(pending_ + copies * unit.size());
    if (buffering_ == Buffering::kStatements) write_out();
    if (pending_ > kBlock) pass_block_on();
  }
  if (pending_error != 0) return;
  append_unchecked(piece);
  append_unchecked(line);
  end_line_unchecked();
}

}  // namespace outline
