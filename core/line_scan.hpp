// SPDX-License-Identifier: MIT
// The scans of a line: for its end (LF or CR), and for the run of one byte
// that starts it (a tab outline line's depth); 16 bytes at a time with SSE2,
// else a portable 8 bytes at a time: a byte at a time, tab2vrex takes 3.2
// times the instructions on short lines and 10.7 times on one long line
// (callgrind, x86-64). Beside processor.hpp and its sections, which hold the
// system calls, the registers, the x87 flags and the frame record, the one
// code that depends on the processor; the one setting is mips64's link
// address, in CMakeLists.txt.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "line.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace outline {

#if defined(__SSE2__)
// NOLINTBEGIN(portability-simd-intrinsics): the one place for SSE2; the portable way follows.

inline constexpr std::size_t kScanStep = 16;

// One bit per byte of the 16 at `bytes`, set for LF and CR, first byte lowest.
inline unsigned line_end_bits(const char* bytes) noexcept {
  __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
  __m128i ends = _mm_or_si128(_mm_cmpeq_epi8(chunk, _mm_set1_epi8('\n')),
                              _mm_cmpeq_epi8(chunk, _mm_set1_epi8('\r')));
  return static_cast<unsigned>(_mm_movemask_epi8(ends));
}

// One bit per byte of the 16 at `bytes`, set for LF and CR and, rarely, for
// a VT or FF: one compare a byte, as adding 0x72 moves 0x0A to 0x0D (LF, VT,
// FF, CR), and only them, above 0x7B as signed bytes.
inline std::size_t line_end_candidates(const char* bytes) noexcept {
  __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
  __m128i moved = _mm_add_epi8(chunk, _mm_set1_epi8(0x72));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi8(moved, _mm_set1_epi8(0x7B))));
}

// True if the 64 bytes at `bytes` hold an LF, CR, VT or FF.
inline bool has_line_end_candidate(const char* bytes) noexcept {
  auto moved = [](const char* at) {
    __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    return _mm_cmpgt_epi8(_mm_add_epi8(chunk, _mm_set1_epi8(0x72)), _mm_set1_epi8(0x7B));
  };
  __m128i any = _mm_or_si128(_mm_or_si128(moved(bytes), moved(bytes + 16)),
                             _mm_or_si128(moved(bytes + 32), moved(bytes + 48)));
  return _mm_movemask_epi8(any) != 0;
}

// The offset of the first flagged byte among the bits, which are not all
// clear: its bit number, already as wide as an offset. std::countr_zero
// gives an int that is widened again: 4.1 % more instructions in tab2vrex.
inline std::size_t first_flagged_byte(std::size_t bits) noexcept {
  std::size_t offset;
  asm("bsf %1, %0" : "=r"(offset) : "r"(bits) : "cc");
  return offset;
}

// The number of bytes equal to `byte` that start `bytes`; another byte must
// follow them in the buffer. Reads up to kScanStep - 1 bytes past that.
inline std::size_t leading_run(const char* bytes, char byte) noexcept {
  auto others = [byte](const char* at) -> std::size_t {
    __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_set1_epi8(byte)))) ^
           0xFFFFu;
  };
  if (std::size_t bits = others(bytes); bits != 0) [[likely]]
    return first_flagged_byte(bits);
  for (std::size_t offset = kScanStep;; offset += kScanStep) {
    if (std::size_t bits = others(bytes + offset); bits != 0)
      return offset + first_flagged_byte(bits);
  }
}

// NOLINTEND(portability-simd-intrinsics)
#else

inline constexpr std::size_t kScanStep = 8;

// The high bit of each byte of the 8 at `bytes` set exactly for LF and CR, in
// memory order whatever the byte order.
inline std::uint64_t line_end_bits(const char* bytes) noexcept {
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7F;
  std::uint64_t word;
  std::memcpy(&word, bytes, 8);
  // A byte is zero exactly where the high bit of its result below is clear;
  // no carry crosses bytes, so no byte is flagged falsely.
  auto zero_bytes = [](std::uint64_t x) { return ~(((x & kLow7) + kLow7) | x | kLow7); };
  return zero_bytes(word ^ 0x0A0A0A0A0A0A0A0A) | zero_bytes(word ^ 0x0D0D0D0D0D0D0D0D);
}

inline std::uint64_t line_end_candidates(const char* bytes) noexcept {
  return line_end_bits(bytes);
}

inline bool has_line_end_candidate(const char* bytes) noexcept {
  std::uint64_t any = 0;
  for (std::size_t offset = 0; offset < 64; offset += 8) any |= line_end_bits(bytes + offset);
  return any != 0;
}

inline std::size_t first_flagged_byte(std::uint64_t bits) noexcept {
  int zeros =
      std::endian::native == std::endian::little ? std::countr_zero(bits) : std::countl_zero(bits);
  return static_cast<std::size_t>(zeros) / 8;
}

inline std::size_t leading_run(const char* bytes, char byte) noexcept {
  const std::uint64_t same = 0x0101010101010101 * static_cast<unsigned char>(byte);
  for (std::size_t offset = 0;; offset += kScanStep) {
    std::uint64_t word;
    std::memcpy(&word, bytes + offset, 8);
    if (std::uint64_t others = word ^ same; others != 0) return offset + first_flagged_byte(others);
  }
}

#endif

// A scan's last step starts at the line end that stops it at the latest.
static_assert(kScanStep <= kLineSlack);

// The number of bytes before the first LF or CR at `start`, or before a VT or
// FF before it, which must come within the buffer. Reads up to kLineSlack
// bytes past it.
inline std::size_t candidate_line_length(const char* start) noexcept {
  if (auto bits = line_end_candidates(start); bits != 0) [[likely]]
    return first_flagged_byte(bits);
  if (auto bits = line_end_candidates(start + kScanStep); bits != 0) [[likely]]
    return kScanStep + first_flagged_byte(bits);
  for (std::size_t offset = 2 * kScanStep;; offset += kScanStep) {
    if (auto bits = line_end_candidates(start + offset); bits != 0)
      return offset + first_flagged_byte(bits);
  }
}

// The same for a stretch that may be long, of which `count` bytes are
// buffered: past its first 64 bytes, 64 bytes a step while 64 are left.
inline std::size_t candidate_line_length(const char* start, std::size_t count) noexcept {
  std::size_t offset = 0;
#pragma GCC unroll 8
  for (; offset < 64; offset += kScanStep)
    if (auto bits = line_end_candidates(start + offset); bits != 0)
      return offset + first_flagged_byte(bits);
  while (offset + 64 <= count && !has_line_end_candidate(start + offset)) offset += 64;
  return offset + candidate_line_length(start + offset);
}

// The number of bytes before the first LF or CR at `start`, which must come
// within the buffer. Reads up to kLineSlack bytes past it.
inline std::size_t line_length(const char* start) noexcept {
  std::size_t offset = 0;
  for (;;) {
    if (auto bits = line_end_bits(start + offset); bits != 0)
      return offset + first_flagged_byte(bits);
    offset += kScanStep;
  }
}

}  // namespace outline
