// SPDX-License-Identifier: MIT
// The command-line frame around both conversions: the usage line, --help and
// --version, standard input, the first argument only, and long names.
#include <gtest/gtest.h>

#include <filesystem>

#include "programs.hpp"

namespace outline_test {
namespace {

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

TEST_P(Frame, VersionOption) {
  Result result = run({GetParam().path(), "--version", "ignored"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out,
            std::string(GetParam().name) +
                " (outline-converters) " OUTLINE_VERSION
                "\nCopyright (c) 2026 The outline-converters authors\n"
                "MIT licence: free to use, copy, change and share, without warranty.\n");
}

TEST_P(Frame, HelpOption) {
  Result result = run({GetParam().path(), "--help"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  std::vector<std::string> got = lines_at_lf(result.out);
  ASSERT_EQ(got.size(), 5u) << result.out;
  EXPECT_EQ(got[0] + "\n", GetParam().usage);
  EXPECT_EQ(got[3], "An empty argument (\"\") reads standard input.");
  EXPECT_EQ(got[4], "See " + std::string(GetParam().name) + "(1).");
}

// Only the exact words are options: a file named --help is converted, and
// near misses are file names that do not open.
TEST_P(Frame, OptionsAreExactWords) {
  TempDir dir;
  write_file(dir.path("--help"), GetParam().sample);
  Result result = run({GetParam().path(), dir.path("--help")});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, GetParam().sample_output(dir.path("--help")));
  for (const char* word : {"--HELP", "--version=1", "-h", "--", "-"}) {
    result = run({GetParam().path(), word});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "Failed to open " + std::string(word) + " for input\n");
  }
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

INSTANTIATE_TEST_SUITE_P(BothPrograms, Frame, testing::ValuesIn(kPrograms), row_name);

}  // namespace
}  // namespace outline_test
