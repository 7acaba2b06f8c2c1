// SPDX-License-Identifier: MIT
// A line of input: any bytes, NUL included, of any length, without its terminator.
#pragma once

#include <cstddef>
#include <string_view>

namespace outline {

// What the reader promises of every line it hands out, in either store: the
// bytes from the line's first byte to kLineSlack bytes from its end may be read.
// The first of those is the line end behind the line (an LF or CR); the rest
// hold anything. Every view that ends where the line ends, a suffix too, has
// the same bytes behind it, so scans and copies in whole steps may read as far.
inline constexpr std::size_t kLineSlack = 32;

class Line {
 public:
  Line() = default;
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;
  ~Line();

  std::string_view view() const noexcept { return {data_, size_}; }
  // The same, with an LF stored behind the bytes, as the first of the slack.
  std::string_view terminated_view() noexcept {
    if (data_ != nullptr) data_[size_] = '\n';
    return view();
  }

  void clear() noexcept { size_ = 0; }
  // Room for `count` more bytes at the end, and kLineSlack to spare, growing
  // geometrically; null, with the line kept, when memory cannot be obtained.
  char* room(std::size_t count) noexcept {
    return count <= capacity_ - size_ ? data_ + size_ : grow(count);
  }
  // Counts `count` bytes stored in the room as part of the line.
  void extend(std::size_t count) noexcept { size_ += count; }
  // Appends bytes. When memory cannot be obtained it records error 203, keeps
  // what it has and returns false.
  bool append(const char* bytes, std::size_t count) noexcept;

 private:
  char* grow(std::size_t count) noexcept;

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace outline
