// SPDX-License-Identifier: MIT
// The processor sections: the one place that tells the processors apart, by
// including the section of the processor this build is for. Each section
// opens with its calling convention and defines what processor.hpp declares:
// - x86-64, i686 and aarch64 make read(2) and write(2) straight to the kernel
//   (processor/direct_calls.inc) and read the interrupted registers;
// - any other processor calls the C library and knows no registers
//   (processor/portable.inc).
// The line scans' processor-dependent code is in line_scan.hpp. One more
// setting depends on the processor: CMakeLists.txt links mips64 programs at
// 0x10000000, below 4 GiB, so that a code location fits 8 hex digits.
#include "processor.hpp"

#include <sys/syscall.h>

// A macro's value as a string, for the assembly: the system call numbers
// (__NR_read, __NR_write) and the register a section keeps `taken` in.
#define OUTLINE_TEXT(x) OUTLINE_TEXT_AS_IS(x)
#define OUTLINE_TEXT_AS_IS(x) #x
#define OUTLINE_JOIN(a, b) OUTLINE_JOIN_AS_IS(a, b)
#define OUTLINE_JOIN_AS_IS(a, b) a##b

#if defined(__x86_64__)
#include "processor/x86_64.inc"
#elif defined(__i386__)
#include "processor/i686.inc"
#elif defined(__aarch64__)
#include "processor/aarch64.inc"
#else
#include "processor/portable.inc"
#endif
