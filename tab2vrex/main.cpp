// tab2vrex: converts a tab-indented outline into a vrex outline file.
#include <cstdint>

#include "command_frame.hpp"
#include "line_ends.hpp"
#include "outline_format.hpp"

using namespace outline;

namespace {

// The depth of a tab outline line: the number of TABs that start it. The
// line end that follows a line from the reader ends the run at the latest.
std::size_t leading_tabs(std::string_view line) {
  return leading_run(line.data(), kTab);
}

}  // namespace

int main(int argc, char** argv) {
  LineReader input;
  const char* name = open_input(argc, argv, "Usage: tab2vrex <tab file>", input);

  out.write_line(kNote);
  out.write(kCreatedFrom);
  out.write(name);
  out.write(kByTab2vrex);
  out.end_line();
  out.write_line(kNote);
  out.write_line(kNode);  // the document root

  std::int64_t previous_depth = -1;
  while (!input.at_end()) {
    std::string_view line = input.read_line();
    if (line.empty()) continue;
    std::size_t tabs = leading_tabs(line);
    auto depth = static_cast<std::int64_t>(tabs);
    // Close the previous item and every level this one does not nest under,
    // then open this one.
    std::uint64_t closed = previous_depth >= depth ? previous_depth - depth + 1 : 0;
    line.remove_prefix(tabs);
    out.write_lines_then_line(kDone, closed, kNodePrefix, line);
    previous_depth = depth;
  }
  out.write_line(kDone);
  out.write_line(kStop);
  input.close();
  normal_end();
}
