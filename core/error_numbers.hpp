// SPDX-License-Identifier: MIT
// The error numbers that system-call failures map to.
#pragma once

#include <cstdint>

namespace outline {

// A write(2) that failed or took nothing: its block is lost.
inline constexpr std::uint16_t kWriteFailed = 101;
// Memory for a line cannot be obtained.
inline constexpr std::uint16_t kOutOfMemory = 203;

// The number reported for a failed open, read or close with this errno.
std::uint16_t error_number_for_errno(int err) noexcept;

}  // namespace outline
