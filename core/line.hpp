// A line of input: any bytes, NUL included, of any length, without its terminator.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace outline {

// Bytes past the end of a line from the reader that may be read, so that
// scans and copies can work in whole steps of up to 16.
inline constexpr std::size_t kLineSlack = 15;

class Line {
 public:
  Line() = default;
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;
  ~Line();

  std::string_view view() const noexcept { return {data_, size_}; }

  void clear() noexcept { size_ = 0; }
  // Appends bytes, growing geometrically, with kLineSlack bytes to spare. When memory cannot be
  // obtained it records error 203, keeps what it has and returns false.
  bool append(const char* bytes, std::size_t count) noexcept {
    if (count > capacity_ - size_) return grow_and_append(bytes, count);
    if (count != 0) std::memcpy(data_ + size_, bytes, count);
    size_ += count;
    return true;
  }

 private:
  bool grow_and_append(const char* bytes, std::size_t count) noexcept;

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace outline
