// SPDX-License-Identifier: MIT
// The exit statuses that README.md and the manual pages give a failed read(2)
// or close(2) of the input, by errno: every row is what both programs do, a
// write(2) failing with the same errno is 101 (EINTR and EAGAIN are made
// again: 0), and every errno the programs give a number other than its own
// is in the table.
#include <algorithm>
#include <cstring>
#include <set>
#include <sstream>

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
  const std::size_t digit = outcome.find_first_of("0123456789");
  return digit == std::string::npos ? 0 : std::stoi(outcome.substr(digit));
}

bool is_errno_name(const std::string& word) {
  return word.size() > 1 && word[0] == 'E' &&
         word.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789") == std::string::npos;
}

// The words of `text`, without the commas and semicolons behind them.
std::vector<std::string> words_of(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word.substr(0, word.find_first_of(",;")));
  return words;
}

// The rows of a cell of errnos ("EIO, ENOSPC"), or of "any other" with its
// examples ("EPERM 1"), and their outcome, which may say "read: ...; close:
// ..." apart. Nothing for any other cell.
void add_rows(std::vector<Row>& rows, const std::string& cell, const std::string& outcome) {
  const std::vector<std::string> names = words_of(cell), said = words_of(outcome);
  if (cell == "any other") {
    for (std::size_t i = 0; i + 1 < said.size(); ++i)
      if (is_errno_name(said[i]) &&
          said[i + 1].find_first_not_of("0123456789") == std::string::npos)
        rows.push_back({said[i], std::stoi(said[i + 1]), std::stoi(said[i + 1])});
    return;
  }
  if (names.empty() || !std::all_of(names.begin(), names.end(), is_errno_name)) return;
  const std::size_t close = outcome.find("close:");
  const int read = status_in(outcome.substr(0, close));
  const int closed = close == std::string::npos ? read : status_in(outcome.substr(close));
  for (const std::string& name : names) rows.push_back({name, read, closed});
}

// README.md's rows, "| EIO, ENOSPC | 101 |", and the manual pages', a line of
// errnos and a line of outcome.
std::vector<Row> table_of(const std::string& document) {
  std::vector<std::string> lines = lines_at_lf(read_file(source_path(document)));
  std::vector<Row> rows;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const std::size_t bar = line.find(" | ", 2);
    if (line.starts_with("| ") && line.ends_with(" |") && bar != std::string::npos)
      add_rows(rows, line.substr(2, bar - 2), line.substr(bar + 3, line.size() - bar - 5));
    else if (i + 1 < lines.size())
      add_rows(rows, line, lines[i + 1]);
  }
  return rows;
}

// `program` on its 200-item document, written once, with `fault` injected
// into the calls on the input, or on the output.
Result run_with(const Program& program, const std::string& fault, bool on_output = false) {
  static const TempDir dir;
  static std::set<std::string> written;
  const std::string in = dir.path(program.name), out = in + ".out";
  if (written.insert(program.name).second) write_file(in, program.document(200));
  return run_injected(program, in, on_output ? out : in, fault, out);
}

void expect_status(const Result& result, int number, const std::string& what) {
  EXPECT_EQ(result.status, std::min(number, 255)) << what << "\n" << result.err;
  if (number == 0) {
    EXPECT_EQ(result.err, "") << what;
  } else {
    expect_report(result.err, number);
  }
}

class Documented : public testing::TestWithParam<std::tuple<const char*, Program>> {};

TEST_P(Documented, EveryRowAsTheProgramsDo) {
  const auto& [table, program] = GetParam();
  const std::vector<Row> rows = table_of(table);
  ASSERT_GE(rows.size(), 20u) << "no table in " << table;
  for (const Row& row : rows) {
    expect_status(run_with(program, "read:error=" + row.name + ":when=1"), row.read,
                  "read " + row.name);
    expect_status(run_with(program, "close:error=" + row.name), row.close, "close " + row.name);
    const bool retried = row.name == "EINTR" || row.name == "EAGAIN";
    expect_status(run_with(program, "write:error=" + row.name + ":when=1", true), retried ? 0 : 101,
                  "write " + row.name);
  }
}

const char* const kTables[] = {"README.md", "man/shared/exit-status.in"};

TEST(Documented, TablesNameEveryErrnoWithANumberOfItsOwn) {
  std::set<std::string> named[std::size(kTables)];
  for (std::size_t i = 0; i < std::size(kTables); ++i)
    for (const Row& row : table_of(kTables[i])) named[i].insert(row.name);
  for (int err = 1; err <= 133; ++err) {
    const int status = run_with(kTab2vrex, "read:error=" + std::to_string(err) + ":when=1").status;
    const char* name = strerrorname_np(err);
    for (std::size_t i = 0; i < std::size(kTables) && status != err && name != nullptr; ++i)
      EXPECT_TRUE(named[i].contains(name))
          << kTables[i] << " leaves out " << name << ", " << status;
  }
}

INSTANTIATE_TEST_SUITE_P(Tables, Documented,
                         testing::Combine(testing::ValuesIn(kTables), testing::ValuesIn(kPrograms)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param)[0] == 'R' ? "Readme"
                                                                                : "ManualPages") +
                                  "_" + std::get<1>(info.param).name;
                         });

}  // namespace
}  // namespace outline_test
