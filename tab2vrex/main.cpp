// SPDX-License-Identifier: MIT
// tab2vrex: converts a tab-indented outline into a vrex outline file.
#include "command_frame.hpp"
#include "line_scan.hpp"
#include "outline_format.hpp"

using namespace outline;

namespace {

constexpr ProgramText kText = {
    "Usage: tab2vrex <tab file>", "tab2vrex (outline-converters) " OUTLINE_VERSION,
    "Converts a tab outline (one item per line, nested by leading TABs)\n"
    "into a vrex outline file on standard output.",
    "See tab2vrex(1)."};

// The depth of a tab outline line: the number of TABs that start it. The
// line end that follows a line from the reader ends the run at the latest.
std::size_t leading_tabs(std::string_view line) {
  return leading_run(line.data(), kTab);  // NOLINT(bugprone-suspicious-stringview-data-usage)
}

// The input's name in the header, each LF and CR written as '?', so that the
// header stays one line whatever the name holds. Inlined: its checks are main's.
[[gnu::always_inline]] inline void write_name(std::string_view name) {
  for (std::size_t end; (end = name.find_first_of("\r\n")) != std::string_view::npos;) {
    out.write(name.substr(0, end));
    out.write("?");
    name.remove_prefix(end + 1);
  }
  out.write(name);
}

}  // namespace

int main(int argc, char** argv) {
  LineReader input;
  const char* name = open_input(argc, argv, kText, input);

  out.write_line(kNote);
  out.write(kCreatedFrom);
  write_name(name);
  out.write_line(kByTab2vrex);
  out.write_line(kNote);
  out.write_line(kNode);  // the document root

  // One more than the previous item's depth: in an outline that deepens one
  // level at a time, the items open, the previous one and those it nests under.
  std::size_t open_items = 0;
  std::string_view line;
  while (input.next_line(line)) {
    if (line.empty()) continue;
    std::size_t depth = leading_tabs(line);
    // Close every open item this one does not nest under, then open this one.
    std::size_t closed = open_items > depth ? open_items - depth : 0;
    line.remove_prefix(depth);
    out.write_copies_then_line(kDoneLine, closed, kNodePrefix, line);
    open_items = depth + 1;
  }
  out.write_line(kDone);
  out.write_line(kStop);
  input.close();
  normal_end();
}
