// SPDX-License-Identifier: MIT
// What the tests share: the table of both programs with sample documents and
// what each makes of them, rows printed by their names, system-call fault
// injection, and the shape of a report.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "block.hpp"
#include "models.hpp"
#include "process.hpp"
#include "sanitizer.hpp"

namespace outline_test {

// Bytes per read(2) and per written block, and whether the programs run
// under the sanitizer: the tests are built with the same flags.
using outline::kBlock;
using outline::kSanitized;

struct Program {
  const char* name;
  std::string (*path)();
  // A well-formed input of `items` outline items, spread over three depths.
  std::string (*document)(int items);
  // An input of one top-level item of text `text`.
  std::string (*single_item)(const std::string& text);
  // What a run writes for that item once its line is read.
  std::string (*item_output)(const std::string& text);
  // What a clean run writes after the last item (tab2vrex's trailer).
  const char* trailer;
  // What a run writes before it reads anything, for an input named `name`.
  std::string (*preamble)(const std::string& name);
  // The usage line.
  const char* usage;
  // A short input with every kind of line end, and what a run makes of it.
  const char* sample;
  std::string (*sample_output)(const std::string& name);
  // The start of the lines of its main.cpp that write an item and read a line.
  const char* item_write;
  const char* line_read;
};

// The sample document of both programs: items "item 0", "item 1", ... at
// depths 0, 1, 2, 0, ..., as a tab outline and as tab2vrex writes them, where
// nodes are still open at STOP, so that reading goes on to the end of the file.
inline std::vector<outline_model::Item> sample_items(int count) {
  std::vector<outline_model::Item> items;
  for (int i = 0; i < count; ++i)
    items.push_back({static_cast<std::size_t>(i % 3), "item " + std::to_string(i)});
  return items;
}
inline std::string tab_document(int items) {
  return outline_model::tab_outline(sample_items(items));
}
inline std::string vrex_document(int items) {
  return "NOTE\nNODE\n" + outline_model::tab2vrex_records(sample_items(items)) + "STOP\n";
}

inline const Program kPrograms[] = {
    {"tab2vrex", tab2vrex_path, tab_document, [](const std::string& text) { return text + "\n"; },
     [](const std::string& text) { return "NODE " + text + "\n"; }, "DONE\nSTOP\n",
     [](const std::string& name) { return outline_model::tab2vrex_header(name); },
     "Usage: tab2vrex <tab file>\n", "a\n\tb\r\nc",
     [](const std::string& name) {
       return outline_model::tab2vrex_header(name) +
              "NODE a\nNODE b\nDONE\nDONE\nNODE c\nDONE\nSTOP\n";
     },
     "out.write_copies_then_line(", "input.next_line(line)"},
    {"vrex2tab", vrex2tab_path, vrex_document,
     [](const std::string& text) { return "NOTE\nNODE\nNODE " + text + "\n"; },
     [](const std::string& text) { return text + "\n"; }, "",
     [](const std::string&) { return std::string(); }, "Usage: vrex2tab <vrex file>\n",
     "NOTE\nNODE\nNODE a\nNODE b\r\nDONE\rNODE c",
     [](const std::string&) { return std::string("a\n\tb\n\tc\n"); }, "out.write_copies_then_line(",
     "input.next_line(line)"},
};

inline const Program& kTab2vrex = kPrograms[0];
inline const Program& kVrex2tab = kPrograms[1];

// A row of a table of cases, or a program, prints as its name.
// Not laid out by clang-format: versions 14 and 19 place a requires-clause differently.
// clang-format off
template <class Row>
  requires requires(const Row& row) { std::string_view(row.name); }
void PrintTo(const Row& row, std::ostream* os) {
  *os << row.name;
}
// clang-format on
// The tables' rows live in the tests' unnamed namespaces: there too.
namespace {
using outline_test::PrintTo;
}  // namespace

// Test names for a table, or for the programs: each row's name.
inline constexpr auto row_name = [](const auto& info) { return std::string(info.param.name); };

// Test names for a table crossed with both programs: program_case.
template <class Case>
std::string program_and_case(const testing::TestParamInfo<std::tuple<Program, Case>>& info) {
  return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
}

// The output of a clean run (status 0, nothing on standard error) of the
// program at `path` on the file `dir`/`in` holding `input`, written to `dir`/out.
inline std::string convert_file(const std::string& path, const TempDir& dir,
                                const std::string& input, const std::string& in = "in") {
  write_file(dir.path(in), input);
  Request request;
  request.argv = {path, dir.path(in)};
  request.stdout_path = dir.path("out");
  Result result = run(request);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  return read_file(dir.path("out"));
}

// Runs `program argument` under strace with `fault` (the value of -e inject=)
// injected into the system calls on `path` only: the sanitizer runtime makes
// reads, writes and opens of its own before main, which would shift a count.
// The trace, with each injected call marked, goes to `trace_path`; `more`
// are further strace options, such as another -P path and -e inject.
inline Result run_injected(const Program& program, const std::string& argument,
                           const std::string& path, const std::string& fault,
                           const std::string& stdout_path = {},
                           const std::string& trace_path = "/dev/null",
                           const std::vector<std::string>& more = {}) {
  std::vector<std::string> options = {"-f", "-P", path, "-e", "inject=" + fault};
  options.insert(options.end(), more.begin(), more.end());
  Request request;
  request.argv = traced(trace_path, options, {program.path(), argument});
  request.stdout_path = stdout_path;
  return run(request);
}

inline bool is_location(const std::string& digits) {
  return digits.size() == 8 && digits.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

// Checks that `err` is exactly one report of error `number`: the error line,
// its location again, the call chain and an empty line. An error detected in
// a main routine (`in_main`) has one call-chain line. Returns the location.
inline std::string expect_report(const std::string& err, unsigned number, bool in_main = true) {
  const std::string head = "Runtime error " + std::to_string(number) + " at $";
  std::vector<std::string> got = lines_at_lf(err);
  std::string location = got.empty() ? "" : got[0].substr(std::min(head.size(), got[0].size()));
  bool ok = got.size() >= 4 && got.size() <= 260 && (!in_main || got.size() == 4) &&
            got[0].starts_with(head) && is_location(location) && got[1] == "  $" + location &&
            got.back().empty();
  for (std::size_t i = 2; ok && i + 1 < got.size(); ++i)
    ok = got[i].starts_with("  $") && is_location(got[i].substr(3));
  if (!ok) {
    ADD_FAILURE() << "not a report of error " << number << (in_main ? " in main" : "") << ":\n"
                  << err;
    return {};
  }
  return location;
}

// True when the program carries line information (not in a Release build).
inline bool has_line_information(const std::string& path) {
  Result sections = run({"readelf", "--section-headers", "--wide", path});
  EXPECT_EQ(sections.status, 0) << sections.err;
  return sections.out.find(" .debug_line ") != std::string::npos;
}

// The inline chain addr2line gives for the code location `at`.
inline std::vector<std::string> source_lines(const Program& program, unsigned long at) {
  std::ostringstream address;
  address << "0x" << std::hex << at;
  Result lookup = run({"addr2line", "-i", "-e", program.path(), address.str()});
  EXPECT_EQ(lookup.status, 0) << lookup.err;
  return lines_at_lf(lookup.out);
}

// True when addr2line's `line` is `file`:`number`, maybe with a discriminator.
inline bool is_line(const std::string& line, const std::string& expected) {
  std::size_t found = line.find(expected);
  return found != std::string::npos && (found == 0 || line[found - 1] == '/') &&
         (found + expected.size() == line.size() || line[found + expected.size()] == ' ');
}

// The line of the program's main.cpp that holds `statement`, as file:number.
inline std::string main_line(const Program& program, const char* statement) {
  const std::string file = std::string(program.name) + "/main.cpp";
  std::vector<std::string> source = lines_at_lf(read_file(source_path(file)));
  auto at = std::find_if(source.begin(), source.end(), [&](const std::string& line) {
    return line.find(statement) != std::string::npos;
  });
  EXPECT_NE(at, source.end()) << file << " has no line " << statement;
  return file + ":" + std::to_string(at - source.begin() + 1);
}

// Checks, where the program carries line information, that every code
// location of the report `err` but the last, the return into the start-up
// code, resolves to a source line, and, given a `statement`, that one leads to
// the line of the program's main.cpp that holds it: for an error in main, the
// location; for a signal, the return into main.
inline void expect_report_resolves(const Program& program, const std::string& err,
                                   const char* statement = nullptr) {
  if (!has_line_information(program.path())) return;
  std::vector<std::string> report = lines_at_lf(err);
  bool reached = statement == nullptr;
  for (std::size_t i = 1; i + 2 < report.size(); ++i) {
    // A chain line is a return address, looked up one byte back, in the call.
    const unsigned long at = std::stoul(report[i].substr(3), nullptr, 16) - (i > 1 ? 1 : 0);
    std::vector<std::string> chain = source_lines(program, at);
    for (const std::string& line : chain)
      EXPECT_EQ(line.find('?'), std::string::npos) << report[i] << ": " << line << "\n" << err;
    reached = reached || (!chain.empty() && is_line(chain.back(), main_line(program, statement)));
  }
  EXPECT_TRUE(reached) << "no location leads to " << main_line(program, statement) << ":\n" << err;
}

}  // namespace outline_test
