// The line reader on its own: every line it hands out, empty ones included,
// which neither program's output shows (tab2vrex skips empty lines).
#include "line_reader.hpp"

#include <gtest/gtest.h>

#include "models.hpp"
#include "process.hpp"

namespace outline_test {
namespace {

struct Case {
  const char* name;
  std::string input;
  std::vector<std::string> lines;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class Lines : public testing::TestWithParam<Case> {};

TEST_P(Lines, AsTheModelSplitsThem) {
  const Case& c = GetParam();
  TempDir dir;
  write_file(dir.path("in"), c.input);
  outline::LineReader reader;
  reader.open(dir.path("in").c_str());
  ASSERT_EQ(outline::take_pending_error(), 0);
  std::vector<std::string> lines;
  while (!reader.at_end()) lines.emplace_back(reader.read_line());
  reader.close();
  EXPECT_EQ(lines, c.lines);
  std::vector<std::string> model;
  for (std::string_view line : outline_model::split_lines(c.input)) model.emplace_back(line);
  EXPECT_EQ(model, c.lines);
}

const std::string k255(255, 'x');
const std::string k300(300, 'y');

INSTANTIATE_TEST_SUITE_P(
    Terminators, Lines,
    testing::Values(Case{"LfThenCr", "a\n\rb", {"a", "", "b"}},
                    Case{"CrThenCr", "a\r\rb\n", {"a", "", "b"}},
                    Case{"LfThenLf", "a\n\nb", {"a", "", "b"}},
                    Case{"OnlyTerminators", "\n\r\n\r", {"", "", ""}},
                    Case{"LfThenCrAcrossFill", k255 + "\n\rb", {k255, "", "b"}},
                    Case{"LongLineThenLfCr", k300 + "\n\r" + k300, {k300, "", k300}},
                    Case{"LongLineThenCrLfCr", k300 + "\r\n\r", {k300, ""}}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace outline_test
