// SPDX-License-Identifier: MIT
// vrex2tab on any bytes against a recursive node walker: the main routine
// reads the top level, and each NODE below it opens one call of the walker.
// Inputs with more than 1000 NODE records only run, to keep the walker's
// recursion small.
#include <cstdint>
#include <string_view>

#include "harness.hpp"
#include "models.hpp"

// The program's main routine, renamed (fuzz/CMakeLists.txt).
int vrex2tab_main(int argc, char** argv);  // NOLINT(misc-use-internal-linkage)

namespace {

constexpr std::size_t kNodeLimit = 1000;

std::size_t count_nodes(std::string_view document) {
  std::size_t count = 0;
  for (std::string_view line : outline_model::split_lines(document))
    count += line.starts_with("NODE");
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  fuzz::Run run = fuzz::run_main(vrex2tab_main, "vrex2tab", input);
  fuzz::check(run.status == 0, "vrex2tab stopped with a run-time error");

  if (count_nodes(input) > kNodeLimit) return 0;
  fuzz::check(run.output == outline_model::RecursiveWalker(input).convert(),
              "vrex2tab output differs", run.output);
  return 0;
}
