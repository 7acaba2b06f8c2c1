// SPDX-License-Identifier: MIT
// tab2vrex on any bytes: the output must equal a direct conversion, with the
// header first, "DONE" and "STOP" last and one NODE record per item between.
// Then a well-formed outline made from the same lines must come back unchanged
// through tab2vrex and vrex2tab.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "harness.hpp"
#include "models.hpp"

// The programs' main routines, renamed (fuzz/CMakeLists.txt).
int tab2vrex_main(int argc, char** argv);  // NOLINT(misc-use-internal-linkage)
int vrex2tab_main(int argc, char** argv);  // NOLINT(misc-use-internal-linkage)

namespace {

std::string header() {
  return outline_model::tab2vrex_header(fuzz::input_path());
}

// The items, each at most one level deeper than the one before and the first
// at depth 0, with LF ends. Items that lose all their bytes are left out.
std::string well_formed(const std::vector<std::string_view>& lines) {
  std::string outline;
  std::size_t next_depth_limit = 0;
  for (std::string_view line : lines) {
    std::size_t tabs = outline_model::leading_tabs(line);
    std::size_t depth = std::min(tabs, next_depth_limit);
    std::string_view text = line.substr(tabs);
    if (depth == 0 && text.empty()) continue;
    outline.append(depth, '\t').append(text).push_back('\n');
    next_depth_limit = depth + 1;
  }
  return outline;
}

void check_shape(std::string_view vrex, const std::vector<std::string_view>& lines) {
  std::string head = header();
  fuzz::check(vrex.starts_with(head), "the header is wrong", vrex);
  fuzz::check(vrex.ends_with("DONE\nSTOP\n"), "the trailer is wrong", vrex);
  auto items = std::count_if(lines.begin(), lines.end(),
                             [](std::string_view line) { return !line.empty(); });
  std::vector<std::string_view> records = outline_model::split_lines(vrex.substr(head.size()));
  auto nodes = std::count_if(records.begin(), records.end(),
                             [](std::string_view line) { return line.starts_with("NODE "); });
  fuzz::check(nodes == items, "not one NODE record per item", vrex);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> lines = outline_model::split_lines(input);

  fuzz::Run run = fuzz::run_main(tab2vrex_main, "tab2vrex", input);
  fuzz::check(run.status == 0, "tab2vrex stopped with a run-time error");
  check_shape(run.output, lines);
  fuzz::check(run.output == outline_model::tab2vrex_document(fuzz::input_path(), lines),
              "tab2vrex output differs", run.output);

  std::string outline = well_formed(lines);
  fuzz::Run vrex = fuzz::run_main(tab2vrex_main, "tab2vrex", outline);
  fuzz::check(vrex.status == 0, "tab2vrex stopped with a run-time error");
  fuzz::Run back = fuzz::run_main(vrex2tab_main, "vrex2tab", vrex.output);
  fuzz::check(back.status == 0, "vrex2tab stopped with a run-time error");
  fuzz::check(back.output == outline, "the round trip changed the outline", back.output);
  return 0;
}
