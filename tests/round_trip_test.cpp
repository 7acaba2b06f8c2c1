// SPDX-License-Identifier: MIT
// tab2vrex then vrex2tab gives back every well-formed tab outline line for line,
// with LF line ends.
#include <gtest/gtest.h>

#include <random>

#include "programs.hpp"

namespace outline_test {
namespace {

using outline_model::pick;

using namespace std::string_literals;

// A tab outline as written (`file`) and as it must come back (`lines`, LF ends).
struct Outline {
  std::string file;
  std::string lines;
};

// Starts at depth 0, deepens by at most one level per line and has no empty
// lines; texts hold TABs, spaces and any byte but CR and LF, and may be empty
// below the top level. Line ends: 0 LF, 1 CR, 2 CR LF, 3 any of them per line.
Outline random_outline(std::mt19937& random, int items, int max_text, int line_end_mode) {
  static const std::string alphabet = "abcXYZ \t\t\0\x1a\xff\x80\x7f"s;
  Outline outline;
  int depth = 0;
  for (int i = 0; i < items; ++i) {
    if (i > 0) depth = pick(random, 2) == 0 ? depth + 1 : pick(random, depth + 2);
    // Now and then a line many times longer than the others.
    std::string text = outline_model::random_text(
        random, pick(random, (pick(random, 50) == 0 ? 10 : 1) * max_text + 1), alphabet);
    if (!text.empty() && text[0] == '\t') text[0] = 'a';
    if (depth == 0 && text.empty()) text.push_back(' ');
    std::string line = std::string(depth, '\t') + text;
    outline.lines += line + "\n";
    outline.file += line + outline_model::line_end(random, line_end_mode, i + 1 == items);
  }
  return outline;
}

void expect_round_trip(const TempDir& dir, const Outline& outline) {
  convert_file(tab2vrex_path(), dir, outline.file);
  Result back = run({vrex2tab_path(), dir.path("out")});
  ASSERT_EQ(back.status, 0) << back.err;
  EXPECT_EQ(back.err, "");
  EXPECT_EQ(back.out, outline.lines);
}

class RoundTrip : public testing::TestWithParam<int> {};

TEST_P(RoundTrip, RandomOutlines) {
  std::mt19937 random(1234 + GetParam());
  TempDir dir;
  for (int i = 0; i < 40; ++i) {
    Outline outline = random_outline(random, 1 + random() % 40, 12, random() % 4);
    SCOPED_TRACE(testing::Message()
                 << "outline " << i << ": " << testing::PrintToString(outline.file));
    expect_round_trip(dir, outline);
    if (HasFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Batches, RoundTrip, testing::Range(0, 3));

// A few hundred KB of mixed line ends, so that lines and line ends (CR LF among
// them) fall across the 256-byte blocks of input and output many times.
TEST(RoundTripLarge, CrossesBlockEdges) {
  std::mt19937 random(1234);
  Outline outline = random_outline(random, 6000, 120, 3);
  ASSERT_GT(outline.file.size(), 300'000u);
  TempDir dir;
  expect_round_trip(dir, outline);
}

}  // namespace
}  // namespace outline_test
