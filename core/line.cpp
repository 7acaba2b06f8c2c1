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

bool Line::grow_and_append(const char* bytes, std::size_t count) noexcept {
  std::size_t wanted = capacity_ < 256 ? 256 : capacity_;
  while (wanted - size_ < count) {
    if (wanted > SIZE_MAX / 2) return record_error(kOutOfMemory), false;
    wanted *= 2;
  }
  char* grown = static_cast<char*>(std::realloc(data_, wanted + kLineSlack));
  if (grown == nullptr) return record_error(kOutOfMemory), false;
  data_ = grown;
  capacity_ = wanted;
  std::memcpy(data_ + size_, bytes, count);
  size_ += count;
  return true;
}

}  // namespace outline
