// SPDX-License-Identifier: MIT
#include "line.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "error_numbers.hpp"
#include "error_stop.hpp"

namespace outline {

Line::~Line() {
  std::free(data_);
}

bool Line::append(const char* bytes, std::size_t count) noexcept {
  char* to = room(count);
  if (to == nullptr) {
    record_error(kOutOfMemory);
    return false;
  }
  if (count != 0) std::memcpy(to, bytes, count);
  size_ += count;
  return true;
}

char* Line::grow(std::size_t count) noexcept {
  std::size_t wanted = capacity_ < 256 ? 256 : capacity_;
  while (wanted - size_ < count) {
    if (wanted > SIZE_MAX / 2) return nullptr;
    wanted *= 2;
  }
  char* grown = static_cast<char*>(std::realloc(data_, wanted + kLineSlack));
  if (grown == nullptr) return nullptr;
  data_ = grown;
  capacity_ = wanted;
  return data_ + size_;
}

}  // namespace outline
