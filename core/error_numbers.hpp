// SPDX-License-Identifier: MIT
// The error numbers a run-time error report gives, each named once, and the
// numbers that system-call failures map to.
#pragma once

#include <cstdint>

namespace outline {

// A write(2) that failed or took nothing: its block is lost. A read or close
// that fails with EIO, ENOSPC or EPIPE, and a close that fails with EAGAIN,
// are reported the same way (and EINTR, which no caller passes on).
inline constexpr std::uint16_t kWriteFailed = 101;
// A read or close that fails with ENAMETOOLONG; ENFILE or EMFILE.
inline constexpr std::uint16_t kNameTooLong = 3;
inline constexpr std::uint16_t kTooManyFiles = 4;
// A read or close refused: EACCES, EBUSY, EEXIST, ENOTDIR, EISDIR (a
// directory opens, and fails at its first read), EROFS, ENOTEMPTY.
inline constexpr std::uint16_t kAccessRefused = 5;
// EBADF.
inline constexpr std::uint16_t kBadDescriptor = 6;
// Memory for a line cannot be obtained.
inline constexpr std::uint16_t kOutOfMemory = 203;
// ENOMEM or EFAULT from a system call; EINVAL.
inline constexpr std::uint16_t kSystemFault = 217;
inline constexpr std::uint16_t kInvalidValue = 218;

// Fault signals: SIGFPE by the x87 exception flag set (zero divide when none
// is; a denormal operand gives kAccessFault), SIGBUS, and SIGSEGV and SIGILL.
inline constexpr std::uint16_t kZeroDivide = 200;
inline constexpr std::uint16_t kFloatOverflow = 205;
inline constexpr std::uint16_t kFloatUnderflow = 206;
inline constexpr std::uint16_t kFloatInvalid = 207;
inline constexpr std::uint16_t kBusError = 214;
inline constexpr std::uint16_t kAccessFault = 216;

// The number reported for a failed open, read or close with this errno; an
// errno without a number of its own keeps its value.
std::uint16_t error_number_for_errno(int err) noexcept;

}  // namespace outline
