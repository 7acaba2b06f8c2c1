// SPDX-License-Identifier: MIT
#include "error_numbers.hpp"

#include <cerrno>

namespace outline {

std::uint16_t error_number_for_errno(int err) noexcept {
  switch (err) {
    case EINTR:
    case EIO:
    case EAGAIN:
    case ENOSPC:
    case EPIPE:
      return 101;
    case EBADF:
      return 6;
    case ENOMEM:
    case EFAULT:
      return 217;
    case EACCES:
    case EBUSY:
    case EEXIST:
    case ENOTDIR:
    case EISDIR:
    case EROFS:
    case ENOTEMPTY:
      return 5;
    case EINVAL:
      return 218;
    case ENFILE:
    case EMFILE:
      return 4;
    case ENAMETOOLONG:
      return 3;
    default:
      return static_cast<std::uint16_t>(err);
  }
}

}  // namespace outline
