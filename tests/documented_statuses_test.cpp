// SPDX-License-Identifier: MIT
// The exit statuses that README.md and the manual pages give a failed read(2)
// or close(2) of the input, by errno: every row is what the programs do, a
// write(2) failing with the same errno is 101, and every errno the programs
// give a number other than its own is in the table.
#include <cstring>
#include <regex>
#include <set>

#include "programs.hpp"

namespace outline_test {
namespace {

// One errno a table names, and the status it gives after each call.
struct Row {
  std::string name;
  int read = 0, close = 0;
};

// The status an outcome says: its first number, or 0 (no failure).
int status_in(const std::string& outcome) {
  std::smatch number;
  return std::regex_search(outcome, number, std::regex("[0-9]+")) ? std::stoi(number[0]) : 0;
}

// The rows of a line of errnos, or of "any other" with its examples, and the
// outcome, which may say "read: ...; close: ..." apart.
void add_rows(std::vector<Row>& rows, const std::string& names, const std::string& outcome) {
  static const std::regex kName("E[A-Z0-9]+"), kExample("(E[A-Z0-9]+) ([0-9]+)");
  if (names == "any other") {
    for (std::sregex_iterator at(outcome.begin(), outcome.end(), kExample), end; at != end; ++at)
      rows.push_back({(*at)[1], std::stoi((*at)[2]), std::stoi((*at)[2])});
    return;
  }
  const std::size_t close = outcome.find("close:");
  const int read = status_in(outcome.substr(0, close));
  const int closed = close == std::string::npos ? read : status_in(outcome.substr(close));
  for (std::sregex_iterator at(names.begin(), names.end(), kName), end; at != end; ++at)
    rows.push_back({at->str(), read, closed});
}

// README.md's rows, "| EIO, ENOSPC | 101 |", and the manual pages', a line of
// errnos and a line of outcome.
std::vector<Row> table_of(const std::string& document) {
  static const std::regex kCells(R"(\| (E[A-Z0-9, ]+|any other) \| (.*) \|)"),
      kNames("E[A-Z0-9]+(, E[A-Z0-9]+)*|any other");
  std::vector<std::string> lines = lines_at_lf(read_file(source_path(document)));
  std::vector<Row> rows;
  std::smatch cells;
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (std::regex_match(lines[i], cells, kCells))
      add_rows(rows, cells[1], cells[2]);
    else if (std::regex_match(lines[i], kNames) && i + 1 < lines.size())
      add_rows(rows, lines[i], lines[i + 1]);
  return rows;
}

// tab2vrex on its 200-item document, with `fault` injected into the calls on `path`.
Result run_with(const std::string& fault, bool on_output = false) {
  static TempDir dir;
  write_file(dir.path("in"), kTab2vrex.document(200));
  return run_injected(kTab2vrex, dir.path("in"), on_output ? dir.path("out") : dir.path("in"),
                      fault, dir.path("out"));
}

void expect_status(const Result& result, int number, const std::string& what) {
  EXPECT_EQ(result.status, std::min(number, 255)) << what << "\n" << result.err;
  if (number == 0) {
    EXPECT_EQ(result.err, "") << what;
  } else {
    expect_report(result.err, number);
  }
}

class Documented : public testing::TestWithParam<const char*> {};

TEST_P(Documented, EveryRowAsTheProgramsDo) {
  const std::vector<Row> rows = table_of(GetParam());
  ASSERT_GE(rows.size(), 20u) << "no table in " << GetParam();
  for (const Row& row : rows) {
    expect_status(run_with("read:error=" + row.name + ":when=1"), row.read, "read " + row.name);
    expect_status(run_with("close:error=" + row.name), row.close, "close " + row.name);
    const bool retried = row.name == "EINTR" || row.name == "EAGAIN";
    expect_status(run_with("write:error=" + row.name + ":when=1", true), retried ? 0 : 101,
                  "write " + row.name);
  }
}

const char* const kTables[] = {"README.md", "man/shared/exit-status.in"};

TEST(Documented, TablesNameEveryErrnoWithANumberOfItsOwn) {
  std::set<std::string> named[std::size(kTables)];
  for (std::size_t i = 0; i < std::size(kTables); ++i)
    for (const Row& row : table_of(kTables[i])) named[i].insert(row.name);
  for (int err = 1; err <= 133; ++err) {
    const int status = run_with("read:error=" + std::to_string(err) + ":when=1").status;
    const char* name = strerrorname_np(err);
    for (std::size_t i = 0; i < std::size(kTables) && status != err && name != nullptr; ++i)
      EXPECT_TRUE(named[i].contains(name))
          << kTables[i] << " leaves out " << name << ", " << status;
  }
}

INSTANTIATE_TEST_SUITE_P(Tables, Documented, testing::ValuesIn(kTables), [](const auto& info) {
  return std::string(info.param[0] == 'R' ? "Readme" : "ManualPages");
});

}  // namespace
}  // namespace outline_test
