// SPDX-License-Identifier: MIT
// The system-call functions of this processor's section, assembled from the
// section itself so that the assembler gives them line and call-frame
// information: a report's location inside one names its line, and the
// unwinding tables tell a debugger where its caller is.
#include <sys/syscall.h>

#include "processor.hpp"

// The stack is not executable.
  .section .note.GNU-stack, "", %progbits
