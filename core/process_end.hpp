// SPDX-License-Identifier: MIT
// The one way a run leaves the program.
#pragma once

namespace outline {

// Ends the process with `status`; buffered output must already be written out.
[[noreturn]] void end_process(int status);

}  // namespace outline
