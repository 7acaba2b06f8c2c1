// SPDX-License-Identifier: MIT
#include "process_end.hpp"

#include <cstdlib>

namespace outline {

void end_process(int status) {
  std::exit(status);
}

}  // namespace outline
