// SPDX-License-Identifier: MIT
#include "error_numbers.hpp"

#include <cerrno>

namespace outline {

// The whole table, also where a caller never brings an errno here: open and
// read retry EINTR and read waits out EAGAIN, close takes EINTR as done, and
// the frame discards an open's number. EINTR keeps its 101 all the same, so
// that a new caller that passes it on gets the number the table gives. A
// close that fails with EAGAIN, and a read or close that fails with ENFILE,
// EMFILE or ENAMETOOLONG, do reach it.
std::uint16_t error_number_for_errno(int err) noexcept {
  switch (err) {
    case EINTR:
    case EIO:
    case EAGAIN:
    case ENOSPC:
    case EPIPE:
      return kWriteFailed;
    case EBADF:
      return kBadDescriptor;
    case ENOMEM:
    case EFAULT:
      return kSystemFault;
    case EACCES:
    case EBUSY:
    case EEXIST:
    case ENOTDIR:
    case EISDIR:
    case EROFS:
    case ENOTEMPTY:
      return kAccessRefused;
    case EINVAL:
      return kInvalidValue;
    case ENFILE:
    case EMFILE:
      return kTooManyFiles;
    case ENAMETOOLONG:
      return kNameTooLong;
    default:
      return static_cast<std::uint16_t>(err);
  }
}

}  // namespace outline
