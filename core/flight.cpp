// SPDX-License-Identifier: MIT
#include "flight.hpp"

#include <poll.h>

#include "io_check.hpp"

namespace outline {

bool Flight::send_part(std::size_t size, long n) noexcept {
  for (const char* data = data_;; n = write_call(fd_, data, std::min(size, kBlock), &taken_)) {
    if (n > 0) [[likely]] {
      data += n;
      size -= static_cast<std::size_t>(n);
      if (size == 0) return true;
    } else if (n == 0 || retry_error(fd_, POLLOUT, static_cast<int>(-n)) != 0) {
      return false;
    }
  }
}

std::optional<std::string_view> Flight::rest(const ucontext_t& context) const noexcept {
  const long taken = write_taken(context, &taken_);
  if (taken < 0) return std::nullopt;
  const auto left = static_cast<std::size_t>(end_ - data_);
  const std::size_t from = std::min(static_cast<std::size_t>(taken), left);
  return std::string_view(data_ + from, left - from);
}

}  // namespace outline
