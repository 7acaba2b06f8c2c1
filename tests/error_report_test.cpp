// SPDX-License-Identifier: MIT
// The run-time error report: its four lines for an error in a main routine,
// kept off standard output, and code locations that lead back to the source.
#include <filesystem>

#include "programs.hpp"

namespace outline_test {
namespace {

class DirectoryInput : public testing::TestWithParam<Program> {};

// A directory opens and fails at its first read with EISDIR.
TEST_P(DirectoryInput, Error5AfterWhatPrecedesTheFirstRead) {
  TempDir dir;
  Result result = run({GetParam().path(), dir.path("")});
  EXPECT_EQ(result.status, 5);
  EXPECT_EQ(result.out, GetParam().preamble(dir.path("")));
  expect_report(result.err, 5);
}

INSTANTIATE_TEST_SUITE_P(Programs, DirectoryInput, testing::ValuesIn(kPrograms), row_name);

// --- The first location names the line of the failing operation in main.

enum class Failure { ReadOfDirectory, WriteAtExit, Close };

struct LocationCase {
  const char* name;
  Failure failure;
  unsigned number;
  const char* statement;  // the line of main.cpp that fails
};

class Location : public testing::TestWithParam<std::tuple<Program, LocationCase>> {};

TEST_P(Location, ResolvesToProgramsMain) {
  const auto& [program, c] = GetParam();
  TempDir dir;
  std::string input = std::filesystem::canonical(dir.path("")).string() + "/input";
  write_file(input, program.document(3));
  Result result;
  if (c.failure == Failure::ReadOfDirectory) {
    result = run({program.path(), dir.path("")});
  } else if (c.failure == Failure::WriteAtExit) {
    Request request;
    request.argv = {program.path(), input};
    request.stdout_path = "/dev/full";
    result = run(request);
  } else {
    result = run_injected(program, input, input, "close:error=EIO");
  }
  expect_report(result.err, c.number);
  expect_report_resolves(program, result.err, c.statement);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, Location,
    testing::Combine(testing::ValuesIn(kPrograms),
                     testing::Values(LocationCase{"ReadOfDirectory", Failure::ReadOfDirectory, 5,
                                                  "input.next_line(line)"},
                                     LocationCase{"WriteAtExit", Failure::WriteAtExit, 101,
                                                  "normal_end();"},
                                     LocationCase{"Close", Failure::Close, 101, "input.close();"})),
    program_and_case<LocationCase>);

// A block that a statement fills exactly is written out by the next statement,
// which puts the first byte past it: a write that fails there is reported at
// that statement. Here tab2vrex's header fills its second block with the last
// byte of the input's name, and the second write fails.
TEST(BlockEdge, FailedWriteReportedAtTheStatementPastTheBlock) {
  TempDir dir;
  const std::string prefix = "NOTE\nNOTE Created from ";
  std::string base = std::filesystem::canonical(dir.path("")).string() + "/";
  std::string folder = base + std::string(150, 'd') + "/" + std::string(150, 'e');
  std::filesystem::create_directories(folder);
  std::string input = folder + "/";
  input += std::string(2 * kBlock - prefix.size() - input.size(), 'f');
  write_file(input, "a\n");
  std::string output = base + "out";
  Result result = run_injected(kPrograms[0], input, output, "write:error=EIO:when=2", output);
  EXPECT_EQ(result.status, 101);
  expect_report(result.err, 101);
  EXPECT_EQ(read_file(output), prefix + input.substr(0, kBlock - prefix.size()));

  // The line of the statement after the name's, in the source and in the report.
  expect_report_resolves(kTab2vrex, result.err, "  out.write_line(kByTab2vrex);");
}

}  // namespace
}  // namespace outline_test
