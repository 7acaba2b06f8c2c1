// SPDX-License-Identifier: MIT
#include "io_check.hpp"

#include "error_numbers.hpp"

namespace outline {

std::uint16_t pending_error = 0;

void record_error(std::uint16_t number) noexcept {
  if (pending_error == 0) pending_error = number;
}

void record_errno(int err) noexcept {
  record_error(error_number_for_errno(err));
}

std::uint16_t take_pending_error() noexcept {
  std::uint16_t number = pending_error;
  pending_error = 0;
  return number;
}

}  // namespace outline
