// SPDX-License-Identifier: MIT
// What the line reader promises of every line it hands out.
#pragma once

#include <cstddef>

namespace outline {

// The bytes from a line's first byte to kLineSlack bytes from its end may be
// read. The first of those is the line end behind the line (an LF or CR); the
// rest hold anything. Every view that ends where the line ends, a suffix too,
// has the same bytes behind it, so scans and copies in whole steps may read as far.
inline constexpr std::size_t kLineSlack = 32;

}  // namespace outline
