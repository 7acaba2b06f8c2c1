// SPDX-License-Identifier: MIT
// Shared pieces of the fuzz targets: a program's main routine run in-process on
// memory files, with checks that abort for libFuzzer to keep the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "reading.hpp"

namespace fuzz {

// Thrown by end_process in place of ending the process; the stack unwinds
// through the main routine back to the fuzz entry point.
struct RunEnded {
  int status;
};

// Prints `what` (and `detail`, escaped) and aborts; libFuzzer keeps the input.
[[noreturn]] void fail(std::string_view what, std::string_view detail = {});
inline void check(bool condition, std::string_view what, std::string_view detail = {}) {
  if (!condition) fail(what, detail);
}

using outline_test::MemoryFile;

using MainRoutine = int (*)(int, char**);

struct Run {
  int status;
  std::string output;
};

// Runs `main_routine` with the arguments {program, name of a memory file that
// holds `input`}, standard output going to another memory file, and fresh
// output streams. Checks that no descriptor is left open after a normal end.
Run run_main(MainRoutine main_routine, const char* program, std::string_view input);

// The name run_main gives its input file, as it appears in the tab2vrex header.
const std::string& input_path();

// The lowest descriptor number not in use.
int lowest_free_fd();

}  // namespace fuzz
