// SPDX-License-Identifier: MIT
// The fused store of the conversions' inner loops: copies of a short unit, a
// fixed piece and a line from the reader, all in whole 16-byte steps, which
// write up to kStoreSlack bytes past the end and read up to kLineSlack past
// the line's end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "line.hpp"

namespace outline {

// A line is copied in two steps when no longer, then a step at a time. The
// two steps of an empty line read kShortCopy bytes from its end; a later
// step starts before the end.
inline constexpr std::size_t kCopyStep = 16;
inline constexpr std::size_t kShortCopy = 2 * kCopyStep;
static_assert(kShortCopy <= kLineSlack);
// The copies' last step ends less than kCopyStep past them, the line's steps
// less than kShortCopy past its line end.
inline constexpr std::size_t kStoreSlack = kShortCopy;

// Copies a line from the reader in whole steps.
[[gnu::always_inline]] inline void copy_line(char* to, std::string_view line) noexcept {
  std::memcpy(to, line.data(), kCopyStep);
  std::memcpy(to + kCopyStep, line.data() + kCopyStep, kCopyStep);
  if (line.size() > kShortCopy) [[unlikely]] {
    std::size_t offset = kShortCopy;
    do std::memcpy(to + offset, line.data() + offset, kCopyStep);
    while ((offset += kCopyStep) < line.size());
  }
}

// Stores `count` copies of `unit` (1 to kCopyStep bytes), then `piece`, then
// `line` and an LF, from `to` to `end`. The copies go in as steps of the
// repeated unit, each at the next whole unit; the first is stored even when
// `count` is 0, for what follows to overwrite.
[[gnu::always_inline]] inline void store_copies_then_line(char* to, char* end,
                                                          std::string_view unit,
                                                          std::uint64_t count,
                                                          std::string_view piece,
                                                          std::string_view line) noexcept {
  char pattern[kCopyStep];
  // Unrolled whole, the pattern is a constant; GCC keeps the loop without
  // the pragma, and tab2vrex then takes 3.7 times the instructions.
  _Pragma("GCC unroll 16") for (std::size_t i = 0; i < kCopyStep; ++i) {
    pattern[i] = unit[i % unit.size()];
  }
  const std::size_t per_step = kCopyStep / unit.size();
  char* const copies_end = to + count * unit.size();
  std::memcpy(to, pattern, kCopyStep);
  if (count > per_step) [[unlikely]] {
    for (std::uint64_t copies = per_step; copies < count; copies += per_step) {
      to += per_step * unit.size();
      std::memcpy(to, pattern, kCopyStep);
    }
  }
  std::memcpy(copies_end, piece.data(), piece.size());
  copy_line(copies_end + piece.size(), line);
  end[-1] = '\n';
}

}  // namespace outline
