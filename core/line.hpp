// A line of input: any bytes, NUL included, of any length, without its terminator.
#pragma once

#include <cstddef>
#include <string_view>

namespace outline {

class Line {
 public:
  Line() = default;
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;
  ~Line();

  std::string_view view() const noexcept { return {data_, size_}; }

  void clear() noexcept { size_ = 0; }
  // Appends bytes, growing geometrically. When memory cannot be obtained it
  // records error 203, keeps what it has and returns false.
  bool append(const char* bytes, std::size_t count) noexcept;

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace outline
