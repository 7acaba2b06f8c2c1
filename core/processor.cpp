// SPDX-License-Identifier: MIT
// The definitions of the processor section that processor.hpp's test names.
// Each section opens with its calling convention and what it has, which
// processor.hpp reads; then, for this file, it defines what processor.hpp
// declares:
// - x86-64, i686 and aarch64 make read(2) and write(2) in their own assembly
//   (assembled from the section by system_calls.S) and read the registers of
//   a signal context; what they share is in processor/registers.inc;
// - any other processor calls the C library and knows no registers
//   (processor/portable.inc).
// One more setting depends on the processor: CMakeLists.txt links mips64
// programs at 0x10000000, below 4 GiB, so that a code location fits 8 hex digits.
#include "processor.hpp"

#include <cstring>

#include "call_chain.hpp"

// The section once more, for its definitions.
#define OUTLINE_PROCESSOR_DEFINITIONS
#include OUTLINE_PROCESSOR_SECTION
