// SPDX-License-Identifier: MIT
// vrex2tab: converts a vrex outline file into a tab-indented outline.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "command_frame.hpp"
#include "line.hpp"
#include "outline_format.hpp"

using namespace outline;

namespace {

constexpr ProgramText kText = {"Usage: vrex2tab <vrex file>",
                               "vrex2tab (outline-converters) " OUTLINE_VERSION,
                               "Converts a vrex outline file (NOTE, NODE, DONE and STOP records)\n"
                               "into a tab outline on standard output.",
                               "See vrex2tab(1)."};

// The record kind in bytes 1 to 4; byte 5 is never examined. A line shorter
// than a keyword is no record, and never matches: the line end behind it,
// among the four bytes, is in no keyword; the bytes past it may be read.
static_assert(kKeywordLength <= kLineSlack);
bool is_record(std::string_view line, std::string_view keyword) {
  return std::memcmp(line.data(), keyword.data(), kKeywordLength) == 0;
}

std::string_view record_text(std::string_view line) {
  line.remove_prefix(std::min(line.size(), kTextOffset));
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  LineReader input;
  open_input(argc, argv, kText, input);

  // The open nodes: 0 at the top level, where the document root is opened;
  // each node below the root adds one level of depth to the items inside it.
  std::uint64_t open_nodes = 0;
  for (;;) {
    std::string_view line;
    // Each end of input closes one open node, and reading goes on: a terminal,
    // a socket or a growing file may give more. Only at the top level does it end.
    if (!input.next_line(line)) {
      if (open_nodes == 0) break;
      --open_nodes;
      continue;
    }
    if (open_nodes == 0) {
      if (is_record(line, kStop)) break;
      if (is_record(line, kNode)) open_nodes = 1;  // a root: its text is never written
    } else if (is_record(line, kDone)) {
      --open_nodes;
    } else if (is_record(line, kNode)) {
      out.write_copies_then_line(kIndent, open_nodes - 1, "", record_text(line));
      ++open_nodes;
    }
  }
  input.close();
  normal_end();
}
