// SPDX-License-Identifier: MIT
// vrex2tab on whole documents: record decoding, nesting, and agreement with a
// plain recursive node walker on random documents.
#include <gtest/gtest.h>

#include <random>
#include <string_view>

#include "programs.hpp"

namespace outline_test {
namespace {

using outline_model::pick;

using namespace std::string_literals;

struct Case {
  const char* name;
  std::string input;
  std::string output;
};

class Conversion : public testing::TestWithParam<Case> {};

TEST_P(Conversion, WritesTabOutline) {
  TempDir dir;
  EXPECT_EQ(convert_file(vrex2tab_path(), dir, GetParam().input), GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(
    Records, Conversion,
    testing::Values(
        // A NODE record opens a node whatever follows the keyword; byte 5 is never looked at.
        Case{"NodeAloneHasEmptyText", "NODE\nNODE\nNODE a\n", "\n\ta\n"},
        Case{"NodeWithSeparatorOnlyHasEmptyText", "NODE\nNODE \nNODE a\n", "\n\ta\n"},
        Case{"FifthByteNeverExamined", "NODEroot\nNODEx\nNODEya\n", "\n\ta\n"},
        Case{"SecondSpaceStartsText", "NODE\nNODE  a\n", " a\n"},
        Case{"RootTextNotWritten", "NODE the root\nNODE a\n", "a\n"},
        // Keywords are compared exactly, in bytes 1 to 4.
        Case{"LowerCaseIsNoRecord", "NODE\nnode a\nNODE b\ndone\nNODE c\n", "b\n\tc\n"},
        Case{"LeadingSpaceIsNoRecord", "NODE\n NODE a\nNODE b\n DONE\nNODE c\n", "b\n\tc\n"},
        Case{"ShortLinesSkipped", "N\nNO\nNOD\nNODE\nNODE a\nD\nDO\nDON\n\nNODE b\n", "a\n\tb\n"},
        Case{"DoneWithTextCloses", "NODE\nNODE a\nDONE extra\nNODE b\n", "a\nb\n"},
        Case{"NineLines", "NOTE x\nNODE\nNODE a\nNODEb\nNOD\nDONE\nNODE c\nSTOP\nNODE d\n",
             "a\n\t\n\tc\n\t\td\n"},
        // The top level: DONE ignored, STOP ends reading, a later NODE is another root.
        Case{"TopLevelDoneIgnored", "DONE\nDONE\nNODE\nNODE a\n", "a\n"},
        Case{"TopLevelStopEndsReading", "NODE\nNODE a\nDONE\nDONE\nSTOP\nNODE\nNODE b\n", "a\n"},
        Case{"TopLevelStopWithText", "STOPPED\nNODE\nNODE a\n", ""},
        Case{"StopInsideNodeIgnored", "NODE\nNODE a\nSTOP\nNODE b\nDONE\nSTOP\nNODE c\n",
             "a\n\tb\n\tc\n"},
        Case{"ClosedRootThenSecondRoot",
             "NOTE\nNOTE Created from x by tab2vrex\nNOTE\nNODE\nNODE A\nNODE B\n"
             "DONE\nDONE\nDONE\nNODE C\nDONE\nSTOP\n",
             "A\n\tB\n"},
        Case{"SecondRootChildrenAtTop", "NODE\nDONE\nNODE skipped\nNODE a\nNODE b\nDONE\nNODE c\n",
             "a\n\tb\n\tc\n"},
        Case{"UnbalancedDone", "NODE\nNODE a\nDONE\nDONE\nDONE\nDONE\nNODE b\nNODE c\n", "a\nc\n"},
        Case{"NothingClosedNoStop", "NODE\nNODE a\nNODE b\nNODE c", "a\n\tb\n\t\tc\n"},
        Case{"NoNodeRecord", "NOTE x\nDONE\nSTOP\nNOTE\n", ""}, Case{"EmptyFile", "", ""},
        Case{"EmptyTextAtTopIsEmptyLine", "NODE\nNODE \nDONE\nNODE\nDONE\nNODE z\n", "\n\nz\n"},
        // Line ends are not part of the record; any other byte of the text is kept.
        Case{"CrEnds", "NODE\rNODE a\rNODE b\rDONE\rNODE c\r", "a\n\tb\n\tc\n"},
        Case{"CrLfEnds", "NODE\r\nNODE a\r\nNODE b\r\nDONE\r\nNODE c\r\n", "a\n\tb\n\tc\n"},
        Case{"MixedEnds", "NODE\r\nNODE a\rNODE b\nDONE\r\nNODE c", "a\n\tb\n\tc\n"},
        Case{"AnyBytesInText", "NODE\nNODE \x00\xff\t \t\x1a \nNODE\t\t\n"s,
             "\x00\xff\t \t\x1a \n\t\t\n"s},
        Case{"NulInKeywordIsNoRecord",
             "NODE\nNO\0"
             "E a\nNODE b\n"s,
             "b\n"}),
    row_name);

// A random vrex document: mostly NODE and DONE records, with STOP, NOTE, short
// lines, near-miss keywords and garbage mixed in, and any of the line ends.
std::string random_document(std::mt19937& random) {
  static const std::string alphabet = "ab \t\0\x1a\xff\x80NODEDONESTOP"s;
  auto bytes = [&](int length) { return outline_model::random_text(random, length, alphabet); };
  auto text = [&](int max_length) { return bytes(pick(random, max_length + 1)); };
  static const char* const kNearMisses[] = {"node", " NODE", "NOD",  "DON",  "done",
                                            "Stop", "NOTE",  "NODE", "DONE", "STOP"};
  const int line_end_mode = pick(random, 4);  // LF, CR, CR LF, or mixed
  const bool long_texts = pick(random, 4) == 0;
  std::string document;
  const int records = 1 + pick(random, 60);
  for (int r = 0; r < records; ++r) {
    int kind = pick(random, 100);
    if (kind < 40) {
      static const char* const kSeparators[] = {"", " ", " ", " ", "  ", "x"};
      document += "NODE"s + kSeparators[pick(random, 6)] + text(long_texts ? 600 : 8);
    } else if (kind < 65) {
      document += pick(random, 4) == 0 ? "DONE " + text(4) : "DONE";
    } else if (kind < 69) {
      document += pick(random, 2) == 0 ? "STOP" : "STOP " + text(4);
    } else if (kind < 75) {
      document += "NOTE " + text(10);
    } else if (kind < 82) {
      document += bytes(1 + pick(random, 3));
    } else if (kind < 90) {
      document += kNearMisses[pick(random, 10)] + text(3);
    } else if (kind < 95) {
      document += text(12);
    } else {
      // an empty line
    }
    document += outline_model::line_end(random, line_end_mode, r + 1 == records);
  }
  return document;
}

// Batches of random documents, each with its own seed, so the batches can run in parallel.
class AgreesWithRecursiveWalker : public testing::TestWithParam<int> {};

TEST_P(AgreesWithRecursiveWalker, OnRandomDocuments) {
  std::mt19937 random(1234 + GetParam());
  TempDir dir;
  for (int i = 0; i < 50; ++i) {
    std::string document = random_document(random);
    // Most documents start with a root so that there is something to write.
    if (random() % 4 != 0) document = "NODE\n" + document;
    SCOPED_TRACE(testing::Message()
                 << "document " << i << ": " << testing::PrintToString(document));
    EXPECT_EQ(convert_file(vrex2tab_path(), dir, document),
              outline_model::RecursiveWalker(document).convert());
    if (HasFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Batches, AgreesWithRecursiveWalker, testing::Range(0, 4));

}  // namespace
}  // namespace outline_test
