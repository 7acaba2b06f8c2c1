// SPDX-License-Identifier: MIT
#include "io_check.hpp"

#include <poll.h>

#include <cerrno>

#include "error_numbers.hpp"

namespace outline {

std::uint16_t pending_error = 0;

void record_error(std::uint16_t number) noexcept {
  if (pending_error == 0) pending_error = number;
}

void record_errno(int err) noexcept {
  record_error(error_number_for_errno(err));
}

int retry_error(int fd, short events, int err) noexcept {
  if (err == EINTR) return 0;
  if (err != EAGAIN) return err;
  // A non-blocking descriptor; a wait cut short by a signal tries again too.
  pollfd ready{fd, events, 0};
  return ::poll(&ready, 1, -1) >= 0 || errno == EINTR ? 0 : errno;
}

std::uint16_t take_pending_error() noexcept {
  std::uint16_t number = pending_error;
  pending_error = 0;
  return number;
}

}  // namespace outline
