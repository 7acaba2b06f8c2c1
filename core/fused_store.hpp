// SPDX-License-Identifier: MIT
// The fused store of the conversions' inner loops: copies of a short unit and
// a line from the reader in whole 16-byte steps, which write up to
// kStoreSlack bytes past the end and read up to kLineSlack past the line's
// end; between them a fixed piece at its exact size, and the LF alone. Every
// line the slow way instead, append by append: 3.1 times the instructions in
// tab2vrex on short lines, 2.7 times in vrex2tab.
#pragma once

#include <algorithm>
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
inline constexpr std::size_t kStoreSlack = std::max(kCopyStep, kShortCopy);
// What store_copies may write for `count` copies of a `unit`-byte unit.
constexpr std::uint64_t copies_reach(std::size_t unit, std::uint64_t count) {
  return count * unit + kCopyStep;
}

// Copies a line from the reader in whole steps.
inline void copy_line(char* to, std::string_view line) noexcept {
  std::memcpy(to, line.data(), kCopyStep);
  std::memcpy(to + kCopyStep, line.data() + kCopyStep, kCopyStep);
  if (line.size() > kShortCopy) [[unlikely]] {
    std::size_t offset = kShortCopy;
    do std::memcpy(to + offset, line.data() + offset, kCopyStep);
    while ((offset += kCopyStep) < line.size());
  }
}

// A step of `unit` (1 to kCopyStep bytes) repeated.
struct Pattern {
  char bytes[kCopyStep];
  std::size_t unit;
};
inline Pattern pattern_of(std::string_view unit) noexcept {
  Pattern pattern{{}, unit.size()};
  // Unrolled whole, a constant unit's pattern is a constant; GCC keeps the
  // loop without the pragma, and tab2vrex then takes 3.7 times the
  // instructions.
  _Pragma("GCC unroll 16") for (std::size_t i = 0; i < kCopyStep; ++i) {
    pattern.bytes[i] = unit[i % unit.size()];
  }
  return pattern;
}

// Stores `count` copies of the pattern's unit at `to`, a step at the next
// whole unit each time; the first is stored even when `count` is 0, for what
// follows to overwrite. Returns their end.
inline char* store_copies(char* to, const Pattern& pattern, std::uint64_t count) noexcept {
  const std::size_t per_step = kCopyStep / pattern.unit;
  char* const end = to + count * pattern.unit;
  std::memcpy(to, pattern.bytes, kCopyStep);
  if (count > per_step) [[unlikely]] {
    for (std::uint64_t copies = per_step; copies < count; copies += per_step) {
      to += per_step * pattern.unit;
      std::memcpy(to, pattern.bytes, kCopyStep);
    }
  }
  return end;
}

// Stores `count` copies of `unit`, then `piece`, then `line` and an LF, from
// `at` to `end` in `buffer`. An offset for the end lets the compiler fold the
// LF's address into its store.
inline void store_copies_then_line(char* buffer, std::size_t at, std::size_t end,
                                   std::string_view unit, std::uint64_t count,
                                   std::string_view piece, std::string_view line) noexcept {
  char* const copies_end = store_copies(buffer + at, pattern_of(unit), count);
  std::memcpy(copies_end, piece.data(), piece.size());
  copy_line(copies_end + piece.size(), line);
  buffer[end - 1] = '\n';
}

}  // namespace outline
