// SPDX-License-Identifier: MIT
// The block: what one read(2) of the input asks for, and what the output
// streams write at a time to a file or pipe.
#pragma once

#include <cstddef>

namespace outline {

inline constexpr std::size_t kBlock = 256;

}  // namespace outline
