// tab2vrex: converts a tab-indented outline into a vrex outline file.
#include <cstdint>

#include "command_frame.hpp"
#include "outline_format.hpp"

using namespace outline;

namespace {

// The depth of a tab outline line: the number of TABs that start it.
std::int64_t leading_tabs(const Line& line) {
  std::size_t tabs = 0;
  while (tabs < line.size() && line.data()[tabs] == kTab) ++tabs;
  return static_cast<std::int64_t>(tabs);
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

  Line line;
  std::int64_t previous_depth = -1;
  while (!input.at_end()) {
    input.read_line(line);
    if (line.empty()) continue;
    std::int64_t tabs = leading_tabs(line);
    // Close the previous item and every level this one does not nest under.
    for (std::int64_t done = previous_depth - tabs + 1; done > 0; --done) out.write_line(kDone);
    out.write(kNodePrefix);
    out.write(line.data() + tabs, line.size() - static_cast<std::size_t>(tabs));
    out.end_line();
    previous_depth = tabs;
  }
  out.write_line(kDone);
  out.write_line(kStop);
  input.close();
  normal_end();
}
