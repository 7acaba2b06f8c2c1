// SPDX-License-Identifier: MIT
// The one test of which processor this build is for, read by processor.hpp
// and by system_calls.S: its section, and whether the section makes read(2)
// and write(2) itself, in assembly, and knows the registers of a signal
// context. Every other processor takes the portable section: the C library's
// calls, no registers known.
#pragma once

#if defined(__x86_64__)
#define OUTLINE_PROCESSOR_SECTION "processor/x86_64.inc"
#define OUTLINE_DIRECT_CALLS 1
#elif defined(__i386__)
#define OUTLINE_PROCESSOR_SECTION "processor/i686.inc"
#define OUTLINE_DIRECT_CALLS 1
#elif defined(__aarch64__)
#define OUTLINE_PROCESSOR_SECTION "processor/aarch64.inc"
#define OUTLINE_DIRECT_CALLS 1
#else
#define OUTLINE_PROCESSOR_SECTION "processor/portable.inc"
#define OUTLINE_DIRECT_CALLS 0
#endif

// A macro's value as a string or as a token pasted on: the register a
// section keeps `taken` in, for the assembly and for the signal context.
#define OUTLINE_TEXT(x) OUTLINE_TEXT_AS_IS(x)
#define OUTLINE_TEXT_AS_IS(x) #x
#define OUTLINE_JOIN(a, b) OUTLINE_JOIN_AS_IS(a, b)
#define OUTLINE_JOIN_AS_IS(a, b) a##b
