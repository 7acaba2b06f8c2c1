// SPDX-License-Identifier: MIT
// tab2vrex on whole documents: header, NODE and DONE records, trailer.
#include <gtest/gtest.h>

#include "programs.hpp"

namespace outline_test {
namespace {

const std::string kHeader = outline_model::tab2vrex_header("-");

std::string convert(const std::string& input) {
  TempDir dir;
  std::string out = convert_file(tab2vrex_path(), dir, input);
  // The header names the file; put a fixed name in its place.
  std::string header = outline_model::tab2vrex_header(dir.path("in"));
  EXPECT_EQ(out.substr(0, header.size()), header);
  return kHeader + out.substr(header.size());
}

struct Case {
  const char* name;
  std::string input;
  std::string body;  // the output after the four header lines
};

class Conversion : public testing::TestWithParam<Case> {};

TEST_P(Conversion, WritesRecords) {
  EXPECT_EQ(convert(GetParam().input), kHeader + GetParam().body);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Documents, Conversion,
    testing::Values(
        Case{"Empty", "", "DONE\nSTOP\n"},
        Case{"NestedThenBack", "A\n\tB\nC\n", "NODE A\nNODE B\nDONE\nDONE\nNODE C\nDONE\nSTOP\n"},
        Case{"JumpTwoLevels", "A\n\t\tB\nC\n",
             "NODE A\nNODE B\nDONE\nDONE\nDONE\nNODE C\nDONE\nSTOP\n"},
        Case{"FirstItemIndented", "\tA\n", "NODE A\nDONE\nSTOP\n"},
        Case{"TabsOnly", "\t\t\n", "NODE \nDONE\nSTOP\n"},
        Case{"SpacesAreText", "  \n", "NODE   \nDONE\nSTOP\n"},
        Case{"DepthsZeroThreeZero", "a\n\t\t\tb\nc\n",
             "NODE a\nNODE b\nDONE\nDONE\nDONE\nDONE\nNODE c\nDONE\nSTOP\n"},
        Case{"CrLfEnds", "A\r\n\tB\r\nC\r\n", "NODE A\nNODE B\nDONE\nDONE\nNODE C\nDONE\nSTOP\n"},
        Case{"CrEnds", "A\r\tB\rC\r", "NODE A\nNODE B\nDONE\nDONE\nNODE C\nDONE\nSTOP\n"},
        Case{"EmptyLinesIgnored", "\nA\n\n\n\tB\n\n", "NODE A\nNODE B\nDONE\nSTOP\n"},
        Case{"SiblingsAtTop", "A\nB\n", "NODE A\nDONE\nNODE B\nDONE\nSTOP\n"},
        Case{"InnerTabsKept", "\ta\tb\n", "NODE a\tb\nDONE\nSTOP\n"},
        Case{"AnyBytes", "\x00\x1a\xff\n"s, "NODE \x00\x1a\xff\nDONE\nSTOP\n"s},
        Case{"NoFinalTerminator", "A\n\tB", "NODE A\nNODE B\nDONE\nSTOP\n"},
        // Runs of TABs that end with the line, also at the end of the file and
        // in lines longer than a block.
        Case{"TabsAtEnd", "A\n\t\t", "NODE A\nNODE \nDONE\nSTOP\n"},
        Case{"SeventeenTabsThenText", std::string(17, '\t') + "x\n", "NODE x\nDONE\nSTOP\n"},
        Case{"LongLineOfTabs", std::string(300, '\t') + "\nA\n",
             outline_model::tab2vrex_records({{300, ""}, {0, "A"}}) + "STOP\n"},
        Case{"LongLineOfTabsAtEnd", "A\n" + std::string(300, '\t'), "NODE A\nNODE \nDONE\nSTOP\n"}),
    row_name);

// A file name with line ends in it: the header stays one line, each LF and CR
// written as '?', and the items still come back through vrex2tab.
struct NameCase {
  const char* name;
  std::string file;
  std::string shown;
};

class FileName : public testing::TestWithParam<NameCase> {};

TEST_P(FileName, HeaderIsOneLine) {
  TempDir dir;
  const std::string outline = "a\n\tb\n";
  EXPECT_EQ(convert_file(tab2vrex_path(), dir, outline, GetParam().file),
            "NOTE\nNOTE Created from " + dir.path(GetParam().shown) +
                " by tab2vrex\nNOTE\nNODE\nNODE a\nNODE b\nDONE\nSTOP\n");
  Result back = run({vrex2tab_path(), dir.path("out")});
  EXPECT_EQ(back.status, 0);
  EXPECT_EQ(back.out, outline);
}

INSTANTIATE_TEST_SUITE_P(LineEnds, FileName,
                         testing::Values(NameCase{"Plain", "in put", "in put"},
                                         NameCase{"LfThenStop", "x\nSTOP", "x?STOP"},
                                         NameCase{"Cr", "x\rDONE", "x?DONE"},
                                         NameCase{"CrLf", "x\r\nNODE y", "x??NODE y"},
                                         NameCase{"LfFirst", "\nSTOP", "?STOP"},
                                         NameCase{"CrLast", "in\r", "in?"},
                                         NameCase{"OnlyLineEnds", "\n\r\n", "???"}),
                         row_name);

}  // namespace
}  // namespace outline_test
