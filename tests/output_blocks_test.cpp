// SPDX-License-Identifier: MIT
// The system calls both programs make: input read in 256-byte requests, output
// written in whole 256-byte blocks to a file or pipe with the rest at exit, and
// every write statement written out at its end on a terminal. Observed with
// strace on the real binaries.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>

#include "programs.hpp"

namespace outline_test {
namespace {

// One system call from an strace log.
struct Call {
  std::string name;
  std::vector<std::string> args;  // as strace printed them
  long result = 0;
  int fd() const { return std::atoi(args.at(0).c_str()); }
  // The bytes of a string argument, printed by strace -xx as \xNN escapes.
  std::string bytes(std::size_t index) const {
    const std::string& text = args.at(index);
    std::string bytes;
    for (std::size_t i = 1; i + 3 < text.size() && text[i] == '\\'; i += 4)
      bytes += static_cast<char>(std::strtol(text.substr(i + 2, 2).c_str(), nullptr, 16));
    return bytes;
  }
  long count() const { return std::atol(args.back().c_str()); }
};

std::vector<Call> parse_log(const std::string& log) {
  std::vector<Call> calls;
  for (std::string line : lines_at_lf(log)) {
    // strace -f starts each line with the process id.
    std::size_t start = line.find_first_not_of("0123456789 ");
    if (start == std::string::npos) continue;
    line = line.substr(start);
    std::size_t open = line.find('(');
    // The result follows " = ", after padding that aligns short calls.
    std::size_t equals = line.find(" = ");
    if (open == std::string::npos || equals == std::string::npos) continue;  // signals, exit
    std::size_t close = line.find_last_not_of(' ', equals);
    if (line[close] != ')') continue;
    Call call;
    call.name = line.substr(0, open);
    std::string args = line.substr(open + 1, close - open - 1);
    // Strings are all \xNN escapes, so ", " only ever separates arguments.
    for (std::size_t pos = 0;;) {
      std::size_t comma = args.find(", ", pos);
      call.args.push_back(args.substr(pos, comma - pos));
      if (comma == std::string::npos) break;
      pos = comma + 2;
    }
    call.result = std::atol(line.c_str() + equals + 3);
    calls.push_back(call);
  }
  return calls;
}

// The calls the tests trace, with the bytes they write.
const std::vector<std::string> kTraceCalls = {"-f",  "-xx", "-s",
                                              "512", "-e",  "trace=openat,read,write,close"};

std::vector<Call> on_fd(const std::vector<Call>& calls, const std::string& name, int fd) {
  std::vector<Call> found;
  for (const Call& call : calls)
    if (call.name == name && call.fd() == fd) found.push_back(call);
  return found;
}

// The index of the openat of `path` in `calls`, and of the close of its descriptor.
struct InputSpan {
  std::size_t open = 0, close = 0;
  int fd = -1;
};

InputSpan input_span(const std::vector<Call>& calls, const std::string& path) {
  InputSpan span;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const Call& call = calls[i];
    if (span.fd < 0 && call.name == "openat" && call.bytes(1) == path && call.result >= 0) {
      span.open = i;
      span.fd = static_cast<int>(call.result);
    } else if (span.fd >= 0 && call.name == "close" && call.fd() == span.fd) {
      span.close = i;
      return span;
    }
  }
  ADD_FAILURE() << "no open and close of " << path;
  return span;
}

// A document both programs can be given and whose output is known exactly:
// items as a tab outline, and as the vrex file tab2vrex makes of them.
using outline_model::Item;
using outline_model::tab2vrex_records;

// The input of `items` for one program, and what it writes for them from the input `in`.
struct Document {
  std::string input, output;
};

Document document_of(const Program& program, const std::vector<Item>& items,
                     const std::string& in) {
  const std::string tab = outline_model::tab_outline(items), vrex = tab2vrex_records(items);
  if (&program == &kVrex2tab) return {"NODE\n" + vrex, tab};
  return {tab, outline_model::tab2vrex_header(in) + vrex + "STOP\n"};
}

// Runs one program, traced, on the file `in` of `dir` holding `input`, standard
// output to the file `out` or to a pipe; returns the calls and the output.
struct Traced {
  std::vector<Call> calls;
  std::string out;
};

Traced run_traced(const TempDir& dir, const Program& program, const std::string& input,
                  bool to_file = true) {
  write_file(dir.path("in"), input);
  Request request;
  request.argv = traced(dir.path("log"), kTraceCalls, {program.path(), dir.path("in")});
  if (to_file) request.stdout_path = dir.path("out");
  Result result = run(request);
  EXPECT_EQ(result.status, 0) << result.err;
  return {parse_log(read_file(dir.path("log"))), to_file ? read_file(dir.path("out")) : result.out};
}

// Items whose output from `tab2vrex` (after its header for the input `in`) or
// from vrex2tab comes to exactly `size` bytes: nested runs of short items, then
// one depth-0 item padded to the size.
std::vector<Item> items_for(const Program& program, const std::string& in, std::size_t size) {
  const bool to_vrex = &program == &kTab2vrex;
  const std::size_t fixed = outline_model::tab2vrex_header(in).size();
  // The output of one more item after one at depth `previous` (-1 for none).
  auto cost = [&](const Item& item, long previous) -> std::size_t {
    if (!to_vrex) return item.depth + item.text.size() + 1;
    return 5 * outline_model::dones_before(previous, item.depth) + 6 + item.text.size();
  };
  std::size_t total = to_vrex ? fixed + 10 : 0;  // header, and the DONE and STOP at the end
  std::vector<Item> items;
  if (total >= size) return items;
  long previous = -1;
  for (std::size_t i = 0; total + 200 < size; ++i) {
    items.push_back({i % 7, std::string(1 + i % 13, static_cast<char>('a' + i % 26))});
    total += cost(items.back(), previous);
    previous = static_cast<long>(items.back().depth);
  }
  Item last{0, ""};
  std::size_t last_cost = cost(last, previous);
  if (total + last_cost == size && to_vrex && !items.empty()) {
    // An empty line is no item for tab2vrex: lengthen the item before instead.
    items.back().text.append(last_cost, 'z');
  } else {
    last.text.assign(size - total - last_cost, 'z');
    items.push_back(last);
  }
  return items;
}

struct BlockCase {
  const Program* program;
  std::size_t size;  // bytes of output
  bool to_file;      // else a pipe
};

void PrintTo(const BlockCase& c, std::ostream* os) {
  *os << c.program->name << " " << c.size << " bytes to a " << (c.to_file ? "file" : "pipe");
}

class Blocks : public testing::TestWithParam<BlockCase> {};

TEST_P(Blocks, WholeBlocksDuringTheRunAndTheRestAtExit) {
  const BlockCase& c = GetParam();
  TempDir dir;
  std::string in = dir.path("in");
  const auto [input, expected] = document_of(*c.program, items_for(*c.program, in, c.size), in);
  ASSERT_EQ(expected.size(), c.size);
  const auto [calls, out] = run_traced(dir, *c.program, input, c.to_file);
  EXPECT_TRUE(out == expected) << out.size() << " bytes written";

  std::vector<Call> writes = on_fd(calls, "write", 1);
  std::size_t blocks = (c.size + kBlock - 1) / kBlock;
  ASSERT_EQ(writes.size(), blocks);
  std::string written;
  for (std::size_t i = 0; i < writes.size(); ++i) {
    long block = static_cast<long>(i + 1 < blocks ? kBlock : c.size - kBlock * (blocks - 1));
    EXPECT_EQ(writes[i].count(), block) << "write " << i;
    EXPECT_EQ(writes[i].result, block) << "write " << i;
    written += writes[i].bytes(1);
  }
  EXPECT_TRUE(written == expected);

  // Only the last block waits for the exit, after the input is closed.
  InputSpan span = input_span(calls, in);
  std::size_t before_close = 0, after_close = 0;
  for (std::size_t i = 0; i < calls.size(); ++i)
    if (calls[i].name == "write" && calls[i].fd() == 1)
      ++(i < span.close ? before_close : after_close);
  EXPECT_EQ(before_close, blocks > 0 ? blocks - 1 : 0);
  EXPECT_EQ(after_close, blocks > 0 ? 1u : 0u);
}

// The input side does not depend on where the output goes.
class Reads : public testing::TestWithParam<BlockCase> {};

// Runs the program on the file `in` holding `input`, standard output to a
// file; returns the read(2) calls on the input.
std::vector<Call> input_reads(const TempDir& dir, const Program& program,
                              const std::string& input) {
  std::vector<Call> calls = run_traced(dir, program, input).calls;
  InputSpan span = input_span(calls, dir.path("in"));
  std::vector<Call> reads;
  for (std::size_t i = span.open + 1; i < span.close; ++i)
    if (calls[i].name == "read" && calls[i].fd() == span.fd) reads.push_back(calls[i]);
  return reads;
}

TEST_P(Reads, InputReadIn256ByteRequests) {
  const BlockCase& c = GetParam();
  TempDir dir;
  const std::string in = dir.path("in");
  const std::string input = document_of(*c.program, items_for(*c.program, in, c.size), in).input;
  std::vector<Call> reads = input_reads(dir, *c.program, input);
  std::string read;
  for (const Call& call : reads) {
    EXPECT_EQ(call.count(), long{kBlock});
    // A regular file gives whole blocks until its end.
    EXPECT_EQ(call.result, static_cast<long>(std::min(kBlock, input.size() - read.size())));
    read += call.bytes(1);
  }
  EXPECT_GT(reads.size(), input.size() / kBlock);
  EXPECT_TRUE(read == input);
}

std::vector<BlockCase> block_cases(bool with_pipe) {
  std::vector<BlockCase> cases;
  for (bool to_file : {true, false}) {
    if (!to_file && !with_pipe) continue;
    for (std::size_t size : {0, 1, 255, 256, 257, 511, 512, 513, 1000, 70000})
      cases.push_back({&kVrex2tab, size, to_file});
    for (std::size_t size : {256, 257, 511, 512, 513, 1000, 70000})
      cases.push_back({&kTab2vrex, size, to_file});
  }
  return cases;
}

std::string block_case_name(const testing::TestParamInfo<BlockCase>& info) {
  return std::string(info.param.program->name) + "_" + std::to_string(info.param.size) +
         (info.param.to_file ? "_file" : "_pipe");
}

INSTANTIATE_TEST_SUITE_P(Sizes, Blocks, testing::ValuesIn(block_cases(true)), block_case_name);
INSTANTIATE_TEST_SUITE_P(Sizes, Reads, testing::ValuesIn(block_cases(false)), block_case_name);

// --- One read(2) per end-of-input test: vrex2tab makes one for each node
// still open at the end, as its loop closes it, then one at the top level.

struct EndCase {
  const char* name;
  const Program* program;
  std::string input;
  std::size_t reads;  // of the input, the last ones at its end
};

class EndOfInput : public testing::TestWithParam<EndCase> {};

TEST_P(EndOfInput, OneReadPerTest) {
  TempDir dir;
  EXPECT_EQ(input_reads(dir, *GetParam().program, GetParam().input).size(), GetParam().reads);
}

INSTANTIATE_TEST_SUITE_P(
    Counts, EndOfInput,
    testing::Values(EndCase{"Vrex2tabFourNodesOpen", &kVrex2tab, "NODE\nNODE a\nNODE b\nNODE c\n",
                            6},
                    EndCase{"Vrex2tabAllClosed", &kVrex2tab, "NODE\nNODE a\nDONE\nDONE\n", 2},
                    EndCase{"Vrex2tabEmpty", &kVrex2tab, "", 1},
                    // A top-level STOP ends reading: the rest of the file is never read.
                    EndCase{"Vrex2tabTopLevelStop", &kVrex2tab,
                            "NODE\nDONE\nSTOP\n" + std::string(600, 'x'), 1},
                    EndCase{"Tab2vrexLines", &kTab2vrex, "a\n\tb\n", 2},
                    // End of input ends a last line without a read for its terminator.
                    EndCase{"Tab2vrexLastLineUnterminated", &kTab2vrex, "a\nb", 3},
                    // An LF that ends the buffered bytes behind a VT or FF ends its line.
                    EndCase{"Tab2vrexLfLastAfterVt", &kTab2vrex, "a\v\n", 2},
                    EndCase{"Vrex2tabLfLastAfterFf", &kVrex2tab, "NODE\nNODE a\f\n", 4}),
    row_name);

// --- An end of input that is not final: on a terminal or a socket, reading
// goes on after an empty read.

enum class Source { kTerminal, kSocket };

struct LaterInputCase {
  const char* name;
  const Program* program;
  Source source;
  std::vector<std::string> pieces;  // typed, or one packet each
  std::string output;
};

class LaterInput : public testing::TestWithParam<LaterInputCase> {};

TEST_P(LaterInput, IsRead) {
  const LaterInputCase& c = GetParam();
  TempDir dir;
  // Canonical mode: each read(2) gives one line, or the bytes before a
  // Ctrl-D; a Ctrl-D at the start of a line gives an empty read.
  std::optional<PseudoTerminal> terminal;
  int ours = -1, theirs = -1;
  if (c.source == Source::kTerminal) {
    terminal.emplace(false);
    ours = terminal->ours(), theirs = terminal->theirs();
  } else {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
    ours = pair[0], theirs = pair[1];
  }
  int out = open(dir.path("out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  Start child;
  child.argv = {c.program->path(), ""};
  child.fds[0] = theirs;
  child.fds[1] = out;
  pid_t pid = start(child);
  close(out);
  for (const std::string& piece : c.pieces)
    EXPECT_EQ(c.source == Source::kTerminal ? write(ours, piece.data(), piece.size())
                                            : send(ours, piece.data(), piece.size(), 0),
              ssize_t(piece.size()));
  if (c.source == Source::kSocket) shutdown(ours, SHUT_WR);
  // A program that reads past the last end of input would wait for ever.
  Ending ending = wait_for(pid, 10'000);
  EXPECT_FALSE(ending.killed) << "still reading after the last end of input";
  if (!terminal) close(ours), close(theirs);
  EXPECT_EQ(ending.status, 0);
  EXPECT_EQ(read_file(dir.path("out")), c.output);
}

const std::string kEmptyHeader = outline_model::tab2vrex_header("");

INSTANTIATE_TEST_SUITE_P(
    Sources, LaterInput,
    testing::Values(
        // One end of input per open node; the last one, at the top level, ends the run.
        LaterInputCase{"Vrex2tabSocket",
                       &kVrex2tab,
                       Source::kSocket,
                       {"NODE\nNODE a\n", "", "NODE b\n"},
                       "a\nb\n"},
        LaterInputCase{"Vrex2tabTerminal",
                       &kVrex2tab,
                       Source::kTerminal,
                       {"NODE\nNODE a\n\x04", "NODE b\n\x04", "\x04\x04"},
                       "a\nb\n"},
        // A line typed without LF, then end of input: the line ends there, and
        // the next line is read whole.
        LaterInputCase{"Tab2vrexLineWithoutLf",
                       &kTab2vrex,
                       Source::kTerminal,
                       {"abc\x04", "\x04", "xyz\n", "\x04"},
                       kEmptyHeader + "NODE abc\nDONE\nNODE xyz\nDONE\nSTOP\n"},
        // End of file is not remembered: after an empty read, the next test reads again.
        LaterInputCase{"Tab2vrexAfterEmptyRead",
                       &kTab2vrex,
                       Source::kSocket,
                       {"abc", "", "xyz\n"},
                       kEmptyHeader + "NODE abc\nDONE\nNODE xyz\nDONE\nSTOP\n"}),
    row_name);

// Lines up to two blocks long, at depths 0 to 20: whole blocks still go out at
// every edge, whatever part of a line lies beyond it.
struct LongItemCase {
  const Program* program;
  std::size_t text;  // bytes of text of the items, give or take 2
};

class LongItems : public testing::TestWithParam<LongItemCase> {};

TEST_P(LongItems, WholeBlocksAtEveryEdge) {
  const LongItemCase& c = GetParam();
  std::vector<Item> items;
  for (std::size_t i = 0; i < 44; ++i)
    items.push_back({i % 21, std::string(c.text + i % 3, static_cast<char>('a' + i % 26))});
  TempDir dir;
  const auto [input, expected] = document_of(*c.program, items, dir.path("in"));
  const auto [calls, out] = run_traced(dir, *c.program, input);
  EXPECT_TRUE(out == expected);
  std::vector<Call> writes = on_fd(calls, "write", 1);
  ASSERT_EQ(writes.size(), (expected.size() + kBlock - 1) / kBlock);
  for (std::size_t i = 0; i + 1 < writes.size(); ++i)
    EXPECT_EQ(writes[i].count(), long{kBlock}) << i;
}

std::vector<LongItemCase> long_item_cases() {
  std::vector<LongItemCase> cases;
  for (const Program& program : kPrograms)
    for (std::size_t text : {1, 200, 240, 250, 251, 300, 490, 500, 505, 506, 507, 520, 600})
      cases.push_back({&program, text});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Lengths, LongItems, testing::ValuesIn(long_item_cases()),
                         [](const auto& info) {
                           return std::string(info.param.program->name) + "_" +
                                  std::to_string(info.param.text);
                         });

TEST(StandardInput, ReadIn256ByteRequests) {
  std::string input = "NODE\n";
  for (int i = 0; i < 100; ++i) input += "NODE item " + std::to_string(i) + "\nDONE\n";
  TempDir dir;
  Result result = run(traced(dir.path("log"), kTraceCalls, {vrex2tab_path(), ""}), input);
  ASSERT_EQ(result.status, 0);
  std::string read;
  for (const Call& call : on_fd(parse_log(read_file(dir.path("log"))), "read", 0)) {
    EXPECT_EQ(call.count(), long{kBlock});
    read += call.bytes(1);
  }
  EXPECT_TRUE(read == input);
}

// A program run with descriptor `fd`, 1 or 2, on a pseudo-terminal in raw mode,
// so the terminal passes every byte through unchanged.
struct TerminalRun {
  std::string screen;
  std::vector<Call> calls;
  int status = -1;
};

TerminalRun run_on_terminal(const TempDir& dir, const std::vector<std::string>& argv, int fd) {
  TerminalRun result;
  PseudoTerminal terminal(true);
  // The other output stream goes to a file.
  int file = open(dir.path(fd == 1 ? "out" : "err").c_str(),
                  O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  Start child;
  child.argv = traced(dir.path("log"), kTraceCalls, argv);
  child.fds[1] = fd == 1 ? terminal.theirs() : file;
  child.fds[2] = fd == 2 ? terminal.theirs() : file;
  pid_t pid = start(child);
  close(file);
  terminal.close_theirs();
  result.screen = read_to_end(terminal.ours());
  result.status = wait_for(pid, 10'000).status;
  result.calls = on_fd(parse_log(read_file(dir.path("log"))), "write", fd);
  return result;
}

struct TerminalCase {
  const char* name;
  const Program* program;
  std::vector<std::string> argv;  // after the program; "IN" is the input file, "DIR" its folder
  std::string input;
  std::vector<std::string> writes;  // "IN" in them stands for the input file's name
  int fd = 1;                       // the descriptor on the terminal
  int status = 0;
};

class Terminal : public testing::TestWithParam<TerminalCase> {};

std::string with_name(std::string text, const std::string& name) {
  std::size_t at = text.find("IN");
  if (at != std::string::npos) text.replace(at, 2, name);
  return text;
}

// `text` with each code location of a report as $XXXXXXXX.
std::string without_locations(std::string text) {
  for (std::size_t at = text.find('$'); at != std::string::npos; at = text.find('$', at + 1))
    if (is_location(text.substr(at + 1, 8))) text.replace(at + 1, 8, "XXXXXXXX");
  return text;
}

TEST_P(Terminal, EveryStatementIsWrittenAtItsEnd) {
  const TerminalCase& c = GetParam();
  TempDir dir;
  write_file(dir.path("in"), c.input);
  std::vector<std::string> argv = {c.program->path()};
  for (const std::string& arg : c.argv)
    argv.push_back(arg == "DIR" ? dir.path("") : with_name(arg, dir.path("in")));
  TerminalRun result = run_on_terminal(dir, argv, c.fd);
  EXPECT_EQ(result.status, c.status) << read_file(dir.path("err"));

  std::vector<std::string> expected, written;
  std::string screen;
  for (const std::string& write : c.writes) expected.push_back(with_name(write, dir.path("in")));
  for (const std::string& write : expected) screen += write;
  for (const Call& call : result.calls) {
    written.push_back(without_locations(call.bytes(1)));
    EXPECT_EQ(call.result, call.count());
  }
  EXPECT_EQ(written, expected);
  EXPECT_EQ(without_locations(result.screen), screen);
}

INSTANTIATE_TEST_SUITE_P(
    Statements, Terminal,
    testing::Values(
        TerminalCase{"Tab2vrexLines",
                     &kTab2vrex,
                     {"IN"},
                     "a\n\tb\nc\n",
                     {"NOTE\n", "NOTE Created from IN by tab2vrex\n", "NOTE\n", "NODE\n",
                      "NODE a\n", "NODE b\n", "DONE\n", "DONE\n", "NODE c\n", "DONE\n", "STOP\n"}},
        TerminalCase{"Tab2vrexEmptyInput",
                     &kTab2vrex,
                     {"IN"},
                     "",
                     {"NOTE\n", "NOTE Created from IN by tab2vrex\n", "NOTE\n", "NODE\n", "DONE\n",
                      "STOP\n"}},
        TerminalCase{"Vrex2tabLoneTabs",
                     &kVrex2tab,
                     {"IN"},
                     "NODE\nNODE a\nNODE b\nNODE text\nDONE\nDONE\nNODE c\nDONE\nNODE\n",
                     {"a\n", "\t", "b\n", "\t", "\t", "text\n", "\t", "c\n", "\t", "\n"}},
        TerminalCase{"Vrex2tabTopLevelOnly",
                     &kVrex2tab,
                     {"IN"},
                     "NODE\nNODE a\nDONE\nNODE b\n",
                     {"a\n", "b\n"}},
        // An empty item first in the buffer: a one-byte statement.
        TerminalCase{"Vrex2tabEmptyItemFirst",
                     &kVrex2tab,
                     {"IN"},
                     "NODE\nNODE\nNODE a\nDONE\nNODE b\n",
                     {"\n", "\t", "a\n", "\t", "b\n"}},
        TerminalCase{"Tab2vrexUsage", &kTab2vrex, {}, "", {"Usage: tab2vrex <tab file>\n"}},
        TerminalCase{"Vrex2tabUsage", &kVrex2tab, {}, "", {"Usage: vrex2tab <vrex file>\n"}},
        TerminalCase{"OpenFailure",
                     &kVrex2tab,
                     {"IN/missing"},
                     "",
                     {"Failed to open IN/missing for input\n"}},
        // The run-time error report: each line as soon as it ends.
        TerminalCase{"ReportLineByLine",
                     &kVrex2tab,
                     {"DIR"},
                     "",
                     {"Runtime error 5 at $XXXXXXXX\n", "  $XXXXXXXX\n", "  $XXXXXXXX\n", "\n"},
                     2,
                     5}),
    row_name);

}  // namespace
}  // namespace outline_test
