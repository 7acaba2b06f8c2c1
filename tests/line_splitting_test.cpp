// How both programs split their input into lines, and the command-line frame
// around the conversion. tab2vrex echoes every non-empty line as a NODE record,
// so its output shows each line exactly as it was read.
#include <gtest/gtest.h>

#include <filesystem>

#include "fault_support.hpp"

namespace outline_test {
namespace {

using namespace std::string_literals;
using outline_model::tab2vrex_header;

// tab2vrex's output after the header for depth-0 items with these texts.
std::string flat_body(const std::vector<std::string>& items) {
  std::string body;
  for (std::size_t i = 0; i < items.size(); ++i)
    body += (i > 0 ? "DONE\nNODE " : "NODE ") + items[i] + "\n";
  return body + "DONE\nSTOP\n";
}

// A line of `length` bytes that shows any shift or loss: no TAB, CR or LF.
std::string pattern_line(std::size_t length) {
  std::string line(length, ' ');
  for (std::size_t i = 0; i < length; ++i) line[i] = static_cast<char>(32 + (i * 7) % 200);
  return line;
}

Result convert_file(const TempDir& dir, const std::string& input) {
  write_file(dir.path("in"), input);
  Run request;
  request.argv = {tab2vrex_path(), dir.path("in")};
  request.stdout_path = dir.path("out");
  Result result = run(request);
  result.out = read_file(dir.path("out"));
  return result;
}

struct Case {
  const char* name;
  std::string input;
  std::vector<std::string> lines;  // the non-empty lines, in order
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class Splitting : public testing::TestWithParam<Case> {};

TEST_P(Splitting, EchoesEachLine) {
  TempDir dir;
  Result result = convert_file(dir, GetParam().input);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, tab2vrex_header(dir.path("in")) + flat_body(GetParam().lines));
}

const std::string k255 = pattern_line(255);

INSTANTIATE_TEST_SUITE_P(
    Terminators, Splitting,
    testing::Values(
        Case{"EmptyFile", "", {}}, Case{"OneLetterNoTerminator", "a", {"a"}},
        Case{"OneLf", "\n", {}}, Case{"OneCr", "\r", {}}, Case{"CrLf", "a\r\nb", {"a", "b"}},
        Case{"LfCr", "a\n\rb", {"a", "b"}}, Case{"CrCrThenLf", "a\r\rb\n", {"a", "b"}},
        Case{"LfLf", "a\n\nb\n", {"a", "b"}},
        // Terminators split across two 256-byte fills.
        Case{"CrLfAt256", k255 + "\r\nb\n", {k255, "b"}},
        Case{"CrLfAt512",
             "first\n" + pattern_line(505) + "\r\nb",
             {"first", pattern_line(505), "b"}},
        Case{"CrLfAt768",
             pattern_line(300) + "\n" + pattern_line(466) + "\r\nc\r\n",
             {pattern_line(300), pattern_line(466), "c"}},
        Case{"CrAt256ThenText", k255 + "\rb\n", {k255, "b"}},
        Case{"CrAt256ThenEnd", k255 + "\r", {k255}},
        Case{"CrAt256ThenCr", k255 + "\r\rb", {k255, "b"}},
        Case{"LfAt256ThenCr", k255 + "\n\rb", {k255, "b"}},
        Case{"LfAt256ThenLf", k255 + "\n\nb", {k255, "b"}},
        // Lines that follow a long one in the same block.
        Case{"LinesAfterLongLineInOneBlock",
             pattern_line(300) + "\nb\nc\r\nd\re\n",
             {pattern_line(300), "b", "c", "d", "e"}},
        Case{"CrLfAt256And512",
             k255 + "\r\n" + pattern_line(254) + "\r\nz",
             {k255, pattern_line(254), "z"}},
        // Only TAB, CR and LF mean anything; NUL and Ctrl-Z are text.
        Case{"NulAndCtrlZ",
             "a\0b\x1a c\n\x1a\nafter \x1a\n"s,
             {"a\0b\x1a c"s, "\x1a", "after \x1a"}},
        Case{"CtrlZAtFillEdge",
             pattern_line(255) + "\x1a" + "more\nz",
             {pattern_line(255) + "\x1a" + "more", "z"}},
        // VT and FF, next to LF and CR in value, are text too.
        Case{"VtAndFf", "a\vb\fc\n\v\n\f\r\nd\f\v\re\v", {"a\vb\fc", "\v", "\f", "d\f\v", "e\v"}},
        Case{"VtBeforeCrLfAt256",
             pattern_line(254) + "\v\r\n\fb\n",
             {pattern_line(254) + "\v", "\fb"}}),
    [](const auto& info) { return info.param.name; });

// Long lines, each with every kind of terminator, come back whole, and the
// line after them starts where it should.
struct LengthCase {
  std::size_t length;
  const char* terminator_name;
  std::string terminator;
};

void PrintTo(const LengthCase& c, std::ostream* os) {
  *os << c.length << " bytes, " << c.terminator_name;
}

class LongLines : public testing::TestWithParam<LengthCase> {};

TEST_P(LongLines, ComeBackWhole) {
  const LengthCase& c = GetParam();
  std::string line = pattern_line(c.length);
  std::string input = line + c.terminator;
  std::vector<std::string> lines = {line};
  if (!c.terminator.empty()) input += "z" + c.terminator, lines.push_back("z");
  TempDir dir;
  Result result = convert_file(dir, input);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  std::string expected = tab2vrex_header(dir.path("in")) + flat_body(lines);
  EXPECT_EQ(result.out.size(), expected.size());
  EXPECT_TRUE(result.out == expected);
}

std::vector<LengthCase> length_cases() {
  std::vector<LengthCase> cases;
  for (std::size_t length :
       {254, 255, 256, 257, 510, 511, 512, 767, 768, 769, 4095, 4096, 4097, 5000, 100000})
    for (auto [name, terminator] :
         {std::pair{"LF", "\n"}, {"CR", "\r"}, {"CRLF", "\r\n"}, {"none", ""}})
      cases.push_back({length, name, terminator});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Lengths, LongLines, testing::ValuesIn(length_cases()),
                         [](const auto& info) {
                           return std::to_string(info.param.length) + "_" +
                                  info.param.terminator_name;
                         });

TEST(HugeLine, TwentyMegabytesWithoutTerminatorComeBackWhole) {
  std::string line = pattern_line(20 * 1024 * 1024);
  TempDir dir;
  Result result = convert_file(dir, line);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  std::string expected = tab2vrex_header(dir.path("in")) + flat_body({line});
  EXPECT_EQ(result.out.size(), expected.size());
  EXPECT_TRUE(result.out == expected);
}

// The frame, for both programs, on each one's sample input.
class Frame : public testing::TestWithParam<Program> {};

TEST_P(Frame, NoArgumentWritesUsage) {
  Result result = run({GetParam().path()});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, GetParam().usage);
  EXPECT_EQ(result.err, "");
}

TEST_P(Frame, EmptyArgumentReadsStandardInput) {
  Result result = run({GetParam().path(), ""}, GetParam().sample);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, GetParam().sample_output(""));
}

TEST_P(Frame, OnlyTheFirstArgumentIsUsed) {
  TempDir dir;
  write_file(dir.path("in"), GetParam().sample);
  Result result = run({GetParam().path(), dir.path("in"), dir.path("missing"), dir.path("in")});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, GetParam().sample_output(dir.path("in")));

  result = run({GetParam().path(), dir.path("missing"), dir.path("in")});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "Failed to open " + dir.path("missing") + " for input\n");
}

// A path of nested directories longer than 255 bytes.
std::string long_directory(const TempDir& dir) {
  std::string path = dir.path("");
  for (int level = 0; level < 5; ++level)
    path += std::string(60, static_cast<char>('p' + level)) + "/";
  std::filesystem::create_directories(path);
  return path;
}

TEST_P(Frame, LongNameIsOpenedWhole) {
  TempDir dir;
  std::string name = long_directory(dir) + "input";
  ASSERT_GT(name.size(), 300u);
  write_file(name, GetParam().sample);
  Result result = run({GetParam().path(), name});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, GetParam().sample_output(name));
}

TEST_P(Frame, OpenFailureQuotesLongNameWhole) {
  TempDir dir;
  // A missing file under a long path, and one name component too long to exist.
  for (const std::string& name :
       {long_directory(dir) + "missing", dir.path(std::string(300, 'n'))}) {
    SCOPED_TRACE(name.size());
    Result result = run({GetParam().path(), name});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "Failed to open " + name + " for input\n");
  }
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, Frame, testing::ValuesIn(kPrograms),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace outline_test
