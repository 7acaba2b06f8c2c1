// SPDX-License-Identifier: MIT
// How a run leaves the program through exit(3): the normal end, the usage
// and open-failure lines, and every run-time error stop. A fault stop leaves
// by _exit(2) instead (error_stop.cpp), and a fuzz target replaces this file
// to keep running.
#pragma once

namespace outline {

// Ends the process with `status`; buffered output must already be written out.
[[noreturn]] void end_process(int status);

}  // namespace outline
