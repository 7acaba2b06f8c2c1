// SPDX-License-Identifier: MIT
// How both programs split their input into lines. tab2vrex echoes every
// non-empty line as a NODE record, so its output shows each line exactly as
// it was read.
#include <gtest/gtest.h>

#include <random>

#include "programs.hpp"

namespace outline_test {
namespace {

using namespace std::string_literals;

// A line of `length` bytes that shows any shift or loss: no TAB, CR or LF.
std::string pattern_line(std::size_t length) {
  std::string line(length, ' ');
  for (std::size_t i = 0; i < length; ++i) line[i] = static_cast<char>(32 + (i * 7) % 200);
  return line;
}

struct Case {
  const char* name;
  std::string input;
  std::vector<std::string> lines;  // the non-empty lines, in order
};

class Splitting : public testing::TestWithParam<Case> {};

TEST_P(Splitting, EchoesEachLine) {
  TempDir dir;
  EXPECT_EQ(convert_file(tab2vrex_path(), dir, GetParam().input),
            outline_model::tab2vrex_document(dir.path("in"), GetParam().lines));
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
        Case{"VtThenLongText", "a\v" + pattern_line(40) + "\nz", {"a\v" + pattern_line(40), "z"}},
        Case{"VtBeforeCrLfAt256",
             pattern_line(254) + "\v\r\n\fb\n",
             {pattern_line(254) + "\v", "\fb"}}),
    row_name);

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
  std::string out = convert_file(tab2vrex_path(), dir, input);
  std::string expected = outline_model::tab2vrex_document(dir.path("in"), lines);
  EXPECT_EQ(out.size(), expected.size());
  EXPECT_TRUE(out == expected);
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
  std::string out = convert_file(tab2vrex_path(), dir, line);
  std::string expected = outline_model::tab2vrex_document(dir.path("in"), std::vector{line});
  EXPECT_EQ(out.size(), expected.size());
  EXPECT_TRUE(out == expected);
}

// Lines whose end meets the end of the buffered bytes: runs of TABs that
// tab2vrex strips whole, and NODE lines with short texts, each starting at
// every offset of a 256-byte read, in a file and on a pipe whose reads end
// right after the line's end. The sanitizer build sees any read past the bytes
// a line may be read to.
struct EdgeCase {
  std::string name;
  bool vrex = false;                           // vrex2tab on NODE lines, else tab2vrex on TAB runs
  std::vector<std::size_t> sizes{};            // TABs, or bytes of NODE text
  std::vector<std::size_t> starts{};           // offsets in a 256-byte read
  std::string terminator{};                    // empty: each line ends its own file
  bool split_crlf = false;                     // a read ends between CR and LF
  bool packets = false;                        // standard input, reads ending after each line
  std::string exact{};                         // if set, the input, in place of the generated lines
  std::vector<std::size_t> exact_read_ends{};  // and where its reads end, on a pipe
};

struct EdgeInput {
  std::string bytes;
  std::vector<std::size_t> read_ends;
};

// Appends a line of `size` at offset `start` of a read, behind a filler line:
// a short one when the line ends the input, or for vrex2tab, which writes
// nothing for it; else an item at the same depth, which closes only one item.
void add_edge_line(const EdgeCase& c, std::size_t size, std::size_t start, EdgeInput& input) {
  const std::string end = c.terminator.empty() ? "\n" : c.terminator;
  const bool short_filler = c.vrex || c.terminator.empty();
  const std::size_t least = short_filler ? 1 : size + 1 + end.size();
  const std::size_t filler = least + (start + 1024 - (input.bytes.size() + least) % 256) % 256;
  if (short_filler)
    input.bytes += std::string(filler - 1, 'x') + "\n";
  else
    input.bytes += std::string(size, '\t') + std::string(filler - size - end.size(), 'x') + end;
  input.bytes += c.vrex ? "NODE " + std::string(size, 'y') : std::string(size, '\t');
  if (c.split_crlf) {
    input.read_ends.push_back(input.bytes.size() + 1);
  } else {
    input.read_ends.push_back(input.bytes.size() + c.terminator.size());
  }
  input.bytes += c.terminator;
  if (c.vrex && !c.terminator.empty()) input.bytes += "DONE" + c.terminator;
}

std::vector<EdgeInput> edge_inputs(const EdgeCase& c) {
  if (!c.exact.empty()) return {{c.exact, c.exact_read_ends}};
  std::vector<EdgeInput> inputs(1, EdgeInput{c.vrex ? "NODE\n" : "", {}});
  for (std::size_t size : c.sizes)
    for (std::size_t start : c.starts) {
      if (c.terminator.empty() && !inputs.back().bytes.empty())
        inputs.push_back({c.vrex ? "NODE\n" : "", {}});
      add_edge_line(c, size, start, inputs.back());
    }
  return inputs;
}

class LineEdges : public testing::TestWithParam<EdgeCase> {};

TEST_P(LineEdges, ConvertAsTheModel) {
  const EdgeCase& c = GetParam();
  TempDir dir;
  for (const EdgeInput& input : edge_inputs(c)) {
    Request request;
    request.argv = {c.vrex ? vrex2tab_path() : tab2vrex_path()};
    if (c.packets) {
      request.argv.push_back("");
      request.input = input.bytes;
      request.read_ends = input.read_ends;
    } else {
      write_file(dir.path("in"), input.bytes);
      request.argv.push_back(dir.path("in"));
    }
    Result result = run(request);
    std::string expected = c.vrex ? outline_model::RecursiveWalker(input.bytes).convert()
                                  : outline_model::tab2vrex_document(
                                        request.argv[1], outline_model::split_lines(input.bytes));
    ASSERT_EQ(result.status, 0) << result.err;
    ASSERT_EQ(result.err, "");
    ASSERT_EQ(result.out.size(), expected.size());
    ASSERT_TRUE(result.out == expected);
  }
}

// Lines of every magnitude of length, 1 to 65,535 bytes behind 0 to 3 TABs,
// with mixed line ends, in one input: the buffer moves them to its front and
// grows at every kind of place. On a pipe, reads end 1 to 256 bytes apart, as
// `seed` draws them.
EdgeInput mixed_lengths(unsigned seed) {
  std::mt19937 random(seed);
  EdgeInput input;
  const char* const ends[] = {"\n", "\r", "\r\n"};
  while (input.bytes.size() < (std::size_t{3} << 19)) {
    const std::size_t length = std::size_t{1} << random() % 16;
    input.bytes += std::string(random() % 4, '\t') + std::string(length + random() % length, 'x');
    input.bytes += ends[random() % 3];
  }
  for (std::size_t end = 0; end < input.bytes.size();)
    input.read_ends.push_back(end += 1 + random() % 256);
  return input;
}

std::vector<EdgeCase> edge_cases() {
  const EdgeInput mixed = mixed_lengths(1);
  std::vector<EdgeCase> cases = {
      {.name = "MixedLengthsInFile", .exact = mixed.bytes},
      {.name = "MixedLengthsOnPipe",
       .packets = true,
       .exact = mixed.bytes,
       .exact_read_ends = mixed.read_ends},
      // A file of 256 TABs and CR; the same line behind 255 bytes; and on a
      // pipe, a read of the line and its CR, then one of the LF.
      {.name = "Tabs256ThenCr", .exact = std::string(256, '\t') + "\r"},
      {.name = "Tabs256AtOffset255",
       .exact = std::string(254, 'x') + "\n" + std::string(256, '\t') + "\r\nq\n"},
      {.name = "Tabs256CrThenLfRead",
       .packets = true,
       .exact = std::string(256, '\t') + "\r\n",
       .exact_read_ends = {257}},
  };
  const std::vector<std::size_t> every_start = span(0, 255);
  struct Group {
    const char* name;
    bool vrex;
    std::vector<std::size_t> sizes;
  };
  std::vector<std::size_t> texts = span(250, 260);
  texts.insert(texts.begin(), {0, 1});
  const Group groups[] = {{"Tabs240To530", false, span(240, 530)},
                          {"Tabs4090To4100", false, span(4090, 4100)},
                          {"NodeTexts", true, texts}};
  const std::pair<const char*, std::string> terminators[] = {
      {"Lf", "\n"}, {"Cr", "\r"}, {"CrLf", "\r\n"}};
  for (const Group& group : groups) {
    for (bool packets : {false, true}) {
      std::string where = packets ? "OnPipe" : "InFile";
      for (const auto& [name, terminator] : terminators)
        cases.push_back({.name = group.name + where + name,
                         .vrex = group.vrex,
                         .sizes = group.sizes,
                         .starts = every_start,
                         .terminator = terminator,
                         .packets = packets});
      if (packets)
        cases.push_back({.name = group.name + where + "CrThenLf",
                         .vrex = group.vrex,
                         .sizes = group.sizes,
                         .starts = every_start,
                         .terminator = "\r\n",
                         .split_crlf = true,
                         .packets = true});
      // At the end of the input: one run per line, so only the sizes within
      // 6 bytes of a whole number of reads, at a read's first and last offset.
      std::vector<std::size_t> near_blocks;
      for (std::size_t size : group.sizes)
        if ((size + 6) % 256 <= 12) near_blocks.push_back(size);
      cases.push_back({.name = group.name + where + "AtEnd",
                       .vrex = group.vrex,
                       .sizes = near_blocks,
                       .starts = {0, 255},
                       .packets = packets});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(ReadEdges, LineEdges, testing::ValuesIn(edge_cases()), row_name);

}  // namespace
}  // namespace outline_test
