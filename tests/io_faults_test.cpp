// SPDX-License-Identifier: MIT
// Failing system calls under both programs: injected read, write, open and
// close errors, a full device, a pipe whose reader has gone, and a line too
// long for the memory allowed.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <utility>

#include "programs.hpp"

namespace outline_test {
namespace {

// A document on disk for one program, with the output of a clean run.
class Fixture {
 public:
  explicit Fixture(const Program& program, int items = 200)
      : Fixture(program, program.document(items)) {}
  Fixture(const Program& program, std::string document)
      : program_(program), document_(std::move(document)) {
    // strace matches calls by the resolved path of their descriptor.
    input_ = std::filesystem::canonical(dir_.path("")).string() + "/input";
    output_ = std::filesystem::canonical(dir_.path("")).string() + "/output";
    trace_ = dir_.path("trace");
    write_file(input_, document_);
    Result clean = run({program.path(), input_});
    EXPECT_EQ(clean.status, 0) << clean.err;
    clean_ = clean.out;
  }

  // What a run writes when read number `call` of the input fails: the output
  // of the lines whose terminator came with the reads before, and no trailer.
  std::string output_before_read(int call) {
    std::size_t delivered = std::min(kBlock * static_cast<std::size_t>(call - 1), document_.size());
    std::size_t lf = delivered == 0 ? std::string::npos : document_.rfind('\n', delivered - 1);
    // The same name again, since tab2vrex's header quotes it.
    write_file(input_, document_.substr(0, lf == std::string::npos ? 0 : lf + 1));
    Result prefix = run({program_.path(), input_});
    write_file(input_, document_);
    std::string trailer = program_.trailer;
    EXPECT_TRUE(prefix.out.ends_with(trailer));
    return prefix.out.substr(0, prefix.out.size() - trailer.size());
  }

  // The number of read(2) calls of a clean run, the last one at end of file.
  int reads() const { return static_cast<int>((document_.size() + kBlock - 1) / kBlock) + 1; }
  // The number of write(2) calls of a clean run to a file.
  int writes() const { return static_cast<int>((clean_.size() + kBlock - 1) / kBlock); }

  const std::string& input() const { return input_; }
  const std::string& output() const { return output_; }
  const std::string& trace() const { return trace_; }
  const std::string& clean() const { return clean_; }

 private:
  const Program& program_;
  TempDir dir_;
  std::string document_, input_, output_, trace_, clean_;
};

enum class When { First, Second, Middle, Last };

int call_number(When when, int last) {
  switch (when) {
    case When::First:
      return 1;
    case When::Second:
      return 2;
    case When::Middle:
      return last / 2;
    case When::Last:
      return last;
  }
  return 1;
}

// --- A failing read ends the run with the errno's error number.

struct ReadCase {
  const char* name;
  const char* error;  // the errno injected
  When when;
  unsigned number;
  const char* poll_error = nullptr;  // injected into the wait after EAGAIN
};

class ReadFault : public testing::TestWithParam<std::tuple<Program, ReadCase>> {};

TEST_P(ReadFault, StopsWithMappedNumberAndKeepsOutput) {
  const auto& [program, c] = GetParam();
  Fixture fixture(program);
  int call = call_number(c.when, fixture.reads());
  std::vector<std::string> more;
  if (c.poll_error != nullptr) more = {"-e", "inject=poll:error=" + std::string(c.poll_error)};
  Result result =
      run_injected(program, fixture.input(), fixture.input(),
                   "read:error=" + std::string(c.error) + ":when=" + std::to_string(call), {},
                   "/dev/null", more);
  EXPECT_EQ(result.status, static_cast<int>(std::min(c.number, 255u)));
  expect_report(result.err, c.number);
  EXPECT_EQ(result.out, fixture.output_before_read(call));
}

INSTANTIATE_TEST_SUITE_P(
    Errnos, ReadFault,
    testing::Combine(testing::ValuesIn(kPrograms),
                     testing::Values(ReadCase{"EioAtFirstRead", "EIO", When::First, 101},
                                     ReadCase{"EioInTheMiddle", "EIO", When::Middle, 101},
                                     ReadCase{"EioAtEndOfFile", "EIO", When::Last, 101},
                                     // Each errno of the status tables: documented_statuses_test.
                                     // Here what the tables leave out: the highest errno.
                                     ReadCase{"EhwpoisonIs133", "EHWPOISON", When::Second, 133},
                                     // Above 255: reported whole, the status is 255.
                                     ReadCase{"Errno300Is255", "300", When::Second, 300},
                                     // The wait's own failure, not the EAGAIN before it.
                                     ReadCase{"WaitFailsAfterEagain", "EAGAIN", When::Second, 217,
                                              "ENOMEM"})),
    program_and_case<ReadCase>);

// --- Interrupted and would-block calls are repeated: the output is unchanged.

struct RetryCase {
  const char* name;
  const char* fault;
  bool on_output;              // the calls on standard output, else those on the input
  const char* once = nullptr;  // a call made exactly once, not repeated
  std::size_t item = 0;        // one item of this many bytes, or 0 for the usual document
};

class Retried : public testing::TestWithParam<std::tuple<Program, RetryCase>> {};

TEST_P(Retried, OutputAsOfCleanRun) {
  const auto& [program, c] = GetParam();
  Fixture fixture = c.item == 0 ? Fixture(program)
                                : Fixture(program, program.single_item(std::string(c.item, 'x')));
  Result result =
      run_injected(program, fixture.input(), c.on_output ? fixture.output() : fixture.input(),
                   c.fault, fixture.output(), fixture.trace());
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(read_file(fixture.output()), fixture.clean());
  // Without an injected failure this would prove nothing.
  std::string trace = read_file(fixture.trace());
  EXPECT_NE(trace.find("(INJECTED)"), std::string::npos);
  if (c.once != nullptr) {
    std::size_t calls = 0;
    for (const std::string& line : lines_at_lf(trace))
      calls += line.find(std::string(" ") + c.once + "(") != std::string::npos;
    EXPECT_EQ(calls, 1u) << trace;
  }
  // Every write(2) to the file asks for a whole block, but the last and its
  // retries: strace's lines are PID write(1, "...", size) = result.
  bool tail = false;
  for (const std::string& line : lines_at_lf(c.on_output ? trace : "")) {
    const std::size_t size_end = line.rfind(") = ");
    if (line.find(" write(") == std::string::npos || size_end == std::string::npos) continue;
    const std::size_t size = std::stoul(line.substr(line.rfind(", ", size_end) + 2));
    EXPECT_TRUE(size < kBlock || (size == kBlock && !tail)) << line;
    tail = tail || size < kBlock;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Calls, Retried,
    testing::Combine(
        testing::ValuesIn(kPrograms),
        // when=1+2: every other call fails, so each one is first refused.
        testing::Values(RetryCase{"ReadEintr", "read:error=EINTR:when=1+2", false},
                        RetryCase{"ReadEagain", "read:error=EAGAIN:when=1+2", false},
                        RetryCase{"WriteEintr", "write:error=EINTR:when=1+2", true},
                        RetryCase{"WriteEagain", "write:error=EAGAIN:when=1+2", true},
                        // A retry that is refused again.
                        RetryCase{"ReadEintrTwice", "read:error=EINTR:when=2..3", false},
                        RetryCase{"ReadEagainTwice", "read:error=EAGAIN:when=2..3", false},
                        RetryCase{"WriteEintrTwice", "write:error=EINTR:when=2..3", true},
                        RetryCase{"WriteEagainTwice", "write:error=EAGAIN:when=2..3", true},
                        // Refused inside one long send: the retry asks for a block again.
                        RetryCase{.name = "WriteEagainInLongItem",
                                  .fault = "write:error=EAGAIN:when=2",
                                  .on_output = true,
                                  .item = 2000},
                        RetryCase{"OpenEintr", "open,openat:error=EINTR:when=1", false},
                        // Linux releases the descriptor also when close fails with EINTR.
                        RetryCase{"CloseEintrNotRepeated", "close:error=EINTR:when=1", false,
                                  "close"})),
    program_and_case<RetryCase>);

// --- A failed write, or one that takes nothing, is error 101 whatever the
// errno; the blocks before it stay, and none is written after it.

struct WriteCase {
  const char* name;
  const char* result;  // error=ERRNO, or retval=0: a write that takes nothing
  When when;
  std::size_t line = 0;  // the length of the one item, or 0 for the usual document
  std::string (*vrex_document)() = nullptr;  // vrex2tab's input instead; tab2vrex skips
  const char* read_fault = nullptr;          // injected into the input's reads too
  bool at_item_write = false;                // the report names main's line that writes
  bool no_read_after = false;                // no read(2) of the input after the failure
};

// Nodes nested 40 deep, each with the text x: the end of block 2 lies among
// the 30 TABs before the 31st item.
std::string deep_document() {
  return outline_model::nested_nodes(40, [] { return "x"; });
}

class WriteFault : public testing::TestWithParam<std::tuple<Program, WriteCase>> {};

TEST_P(WriteFault, StopsWith101AndKeepsEarlierBlocks) {
  const auto& [program, c] = GetParam();
  if (c.vrex_document != nullptr && program.name != std::string("vrex2tab")) GTEST_SKIP();
  Fixture fixture = c.vrex_document != nullptr ? Fixture(program, c.vrex_document())
                    : c.line == 0              ? Fixture(program)
                                  : Fixture(program, program.single_item(std::string(c.line, 'x')));
  ASSERT_GT(fixture.writes(), 2);
  int call = call_number(c.when, fixture.writes());
  std::vector<std::string> more;
  if (c.read_fault != nullptr || c.no_read_after) more = {"-P", fixture.input()};
  if (c.read_fault != nullptr)
    more.insert(more.end(), {"-e", "inject=read:" + std::string(c.read_fault)});
  Result result = run_injected(program, fixture.input(), fixture.output(),
                               "write:" + std::string(c.result) + ":when=" + std::to_string(call),
                               fixture.output(), fixture.trace(), more);
  EXPECT_EQ(result.status, 101);
  expect_report(result.err, 101);
  if (c.at_item_write) expect_report_resolves(program, result.err, program.item_write);
  EXPECT_EQ(read_file(fixture.output()), fixture.clean().substr(0, kBlock * (call - 1)));
  if (c.no_read_after) {
    std::string trace = read_file(fixture.trace());
    std::size_t failed = trace.find("(INJECTED)");
    ASSERT_NE(failed, std::string::npos) << trace;
    EXPECT_EQ(trace.find("read(", failed), std::string::npos) << "read on after the failure:\n"
                                                              << trace;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Results, WriteFault,
    testing::Combine(testing::ValuesIn(kPrograms),
                     testing::Values(WriteCase{"EioFirstBlock", "error=EIO", When::First},
                                     WriteCase{"EnospcSecondBlock", "error=ENOSPC", When::Second},
                                     WriteCase{"EbadfIsNot6", "error=EBADF", When::Second},
                                     WriteCase{"EinvalIsNot218", "error=EINVAL", When::Middle},
                                     WriteCase{"EpipeLastBlockAtExit", "error=EPIPE", When::Last},
                                     WriteCase{"NothingTakenSecondBlock", "retval=0", When::Second},
                                     WriteCase{"NothingTakenAtExit", "retval=0", When::Last},
                                     // One item's text goes out in several blocks at once:
                                     // after the failed one, none of the others.
                                     WriteCase{"EioWithinLongLine", "error=EIO", When::Second,
                                               2000},
                                     // The check after an item completes a block and passes it on.
                                     WriteCase{.name = "EioItemCompletesBlock",
                                               .result = "error=EIO",
                                               .when = When::Second,
                                               .at_item_write = true},
                                     // errno still says EAGAIN from the read: 0 is lost.
                                     WriteCase{.name = "NothingTakenAfterReadRetried",
                                               .result = "retval=0",
                                               .when = When::Second,
                                               .read_fault = "error=EAGAIN:when=1"},
                                     // Block 2 fills inside a run of more than 16 TABs.
                                     WriteCase{.name = "EioInsideLongTabRun",
                                               .result = "error=EIO",
                                               .when = When::Second,
                                               .vrex_document = deep_document,
                                               .at_item_write = true,
                                               .no_read_after = true})),
    program_and_case<WriteCase>);

// --- A failing close comes after the whole document.

struct CloseCase {
  const char* name;
  const char* error;
  unsigned number;
};

class CloseFault : public testing::TestWithParam<std::tuple<Program, CloseCase>> {};

TEST_P(CloseFault, StopsAfterWholeDocument) {
  const auto& [program, c] = GetParam();
  Fixture fixture(program);
  Result result = run_injected(program, fixture.input(), fixture.input(),
                               "close:error=" + std::string(c.error));
  EXPECT_EQ(result.status, static_cast<int>(c.number));
  expect_report(result.err, c.number);
  EXPECT_EQ(result.out, fixture.clean());
}

INSTANTIATE_TEST_SUITE_P(Errnos, CloseFault,
                         testing::Combine(testing::ValuesIn(kPrograms),
                                          // The other errnos: documented_statuses_test.
                                          testing::Values(CloseCase{"Eio", "EIO", 101})),
                         program_and_case<CloseCase>);

// --- Descriptors 0 to 2 are never closed: standard input, and an input that
// opens as descriptor 2 because the caller closed the error stream. A close
// fault injected on the input changes nothing there.

struct KeptCase {
  const char* name;
  bool standard_input;  // else the file by name, with descriptor 2 closed
};

class KeptOpen : public testing::TestWithParam<std::tuple<Program, KeptCase>> {};

TEST_P(KeptOpen, CloseFaultChangesNothing) {
  const auto& [program, c] = GetParam();
  Fixture fixture(program);
  int input = open(fixture.input().c_str(), O_RDONLY | O_CLOEXEC);
  int output = open(fixture.output().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(input, 0);
  ASSERT_GE(output, 0);
  Start child;
  child.argv = traced(
      fixture.trace(),
      {"-f", "-e", "trace=openat,close", "-e", "inject=close:error=EIO", "-P", fixture.input()},
      {program.path(), c.standard_input ? "" : fixture.input()});
  child.fds[0] = c.standard_input ? input : -1;
  child.fds[1] = output;
  child.fds[2] = c.standard_input ? -1 : kClosed;
  Ending ending = wait_for(start(child), 60000);
  close(input);
  close(output);
  EXPECT_EQ(ending.status, 0);
  std::string trace = read_file(fixture.trace());
  if (!c.standard_input) {
    EXPECT_NE(trace.find("= 2\n"), std::string::npos) << trace;
  }
  EXPECT_EQ(trace.find("close("), std::string::npos) << trace;
  std::string expected = fixture.clean();
  if (c.standard_input && std::string(program.name) == "tab2vrex")
    expected = outline_model::tab2vrex_header("") +
               expected.substr(outline_model::tab2vrex_header(fixture.input()).size());
  EXPECT_EQ(read_file(fixture.output()), expected);
}

INSTANTIATE_TEST_SUITE_P(Descriptors, KeptOpen,
                         testing::Combine(testing::ValuesIn(kPrograms),
                                          testing::Values(KeptCase{"StandardInput", true},
                                                          KeptCase{"InputOnDescriptor2", false})),
                         program_and_case<KeptCase>);

// --- An input that cannot be opened is told on standard output, status 0.

struct OpenCase {
  const char* name;
  const char* error;
};

class OpenFault : public testing::TestWithParam<std::tuple<Program, OpenCase>> {};

TEST_P(OpenFault, WritesOpenFailureLine) {
  const auto& [program, c] = GetParam();
  Fixture fixture(program, 4);
  Result result = run_injected(program, fixture.input(), fixture.input(),
                               "open,openat:error=" + std::string(c.error));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "Failed to open " + fixture.input() + " for input\n");
}

INSTANTIATE_TEST_SUITE_P(
    Errnos, OpenFault,
    testing::Combine(testing::ValuesIn(kPrograms),
                     testing::Values(OpenCase{"Enoent", "ENOENT"}, OpenCase{"Eacces", "EACCES"},
                                     OpenCase{"Enametoolong", "ENAMETOOLONG"},
                                     OpenCase{"Emfile", "EMFILE"}, OpenCase{"Eio", "EIO"})),
    program_and_case<OpenCase>);

class ProgramTest : public testing::TestWithParam<Program> {};

TEST_P(ProgramTest, MissingFileIsOpenFailure) {
  TempDir dir;
  Result result = run({GetParam().path(), dir.path("missing")});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "Failed to open " + dir.path("missing") + " for input\n");
}

// --- Standard output on a device that takes nothing: every path that ends
// with a last block to write reports 101; an error already reported keeps
// its number. A file size limit inside a block: the bytes up to it, then 101.

enum class Argument { Document, None, Missing, Directory };

struct FullCase {
  const char* name;
  Argument argument;
  unsigned number;
  int limit_blocks = 0;  // else a file appended to after 3 bytes, with this
                         // limit in 512-byte blocks and SIGXFSZ ignored
};

class FullDevice : public testing::TestWithParam<std::tuple<Program, FullCase>> {};

TEST_P(FullDevice, ReportsLostLastBlock) {
  const auto& [program, c] = GetParam();
  TempDir dir;
  write_file(dir.path("input"), program.document(c.limit_blocks ? 200 : 3));  // 3: one block
  Request request;
  request.argv = {program.path()};
  if (c.limit_blocks != 0) {
    // The coverage build's counters, written at exit, meet the limit too: not a word of that.
    const std::string limited = "trap '' XFSZ; ulimit -f " + std::to_string(c.limit_blocks) +
                                "; GCOV_ERROR_FILE=/dev/null exec \"$0\" \"$1\" >>" +
                                dir.path("out");
    write_file(dir.path("out"), "abc");
    request.argv = {"sh", "-c", limited, program.path()};  // the input follows
  }
  if (c.argument == Argument::Document) request.argv.push_back(dir.path("input"));
  if (c.argument == Argument::Missing) request.argv.push_back(dir.path("missing"));
  if (c.argument == Argument::Directory) request.argv.push_back(dir.path(""));
  if (c.limit_blocks == 0) request.stdout_path = "/dev/full";
  Result result = run(request);
  EXPECT_EQ(result.status, static_cast<int>(c.number));
  expect_report(result.err, c.number);
  if (c.limit_blocks != 0) {
    const std::size_t limit = 512 * static_cast<std::size_t>(c.limit_blocks);
    EXPECT_EQ(read_file(dir.path("out")),
              "abc" + run({program.path(), dir.path("input")}).out.substr(0, limit - 3));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, FullDevice,
    testing::Combine(testing::ValuesIn(kPrograms),
                     testing::Values(FullCase{"Document", Argument::Document, 101},
                                     FullCase{"UsageLine", Argument::None, 101},
                                     FullCase{"OpenFailureLine", Argument::Missing, 101},
                                     FullCase{"DirectoryKeeps5", Argument::Directory, 5},
                                     FullCase{"SizeLimitInsideBlock", Argument::Document, 101, 2})),
    program_and_case<FullCase>);

// --- Standard output on a pipe whose reader has gone.

struct PipeResult : Ending {
  std::string out;  // what the reader took before it went
  std::string err;
};

// Runs `argv` with standard output on a pipe whose reader takes `keep` bytes
// and then closes its end; with `keep` 0 there is no reader from the start.
PipeResult run_reader_gone(const std::vector<std::string>& argv, std::size_t keep,
                           bool ignore_sigpipe) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  if (keep == 0) close(out[0]);
  Start child;
  child.argv = argv;
  child.fds[1] = out[1];
  child.fds[2] = err[1];
  child.ignore_sigpipe = ignore_sigpipe;
  pid_t pid = start(child);
  close(out[1]);
  close(err[1]);
  PipeResult result;
  char buffer[4096];
  if (keep > 0) {
    while (result.out.size() < keep) {
      ssize_t n = read(out[0], buffer, std::min(sizeof buffer, keep - result.out.size()));
      if (n > 0)
        result.out.append(buffer, static_cast<std::size_t>(n));
      else if (n == 0 || errno != EINTR)
        break;
    }
    close(out[0]);
  }
  result.err = read_to_end(err[0]);
  close(err[0]);
  static_cast<Ending&>(result) = wait_for(pid);
  return result;
}

struct PipeCase {
  const char* name;
  int items;         // the document's size
  std::size_t keep;  // bytes the reader takes before it goes
  bool ignore_sigpipe;
};

class ReaderGone : public testing::TestWithParam<std::tuple<Program, PipeCase>> {};

TEST_P(ReaderGone, SigpipeDispositionDecides) {
  const auto& [program, c] = GetParam();
  Fixture fixture(program, c.items);
  if (c.keep > 0) {
    ASSERT_GT(fixture.clean().size(), c.keep + 256 * 1024);  // past any pipe buffer
  }
  PipeResult result = run_reader_gone({program.path(), fixture.input()}, c.keep, c.ignore_sigpipe);
  EXPECT_EQ(result.out, fixture.clean().substr(0, c.keep));
  if (c.ignore_sigpipe) {
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.status, 101);
    expect_report(result.err, 101);
  } else {
    EXPECT_EQ(result.signal, SIGPIPE);
    EXPECT_EQ(result.err, "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Dispositions, ReaderGone,
    testing::Combine(testing::ValuesIn(kPrograms),
                     testing::Values(PipeCase{"IgnoredDuringRun", 24000, 4096, true},
                                     PipeCase{"DefaultDuringRun", 24000, 4096, false},
                                     PipeCase{"IgnoredAtExit", 3, 0, true},
                                     PipeCase{"DefaultAtExit", 3, 0, false})),
    program_and_case<PipeCase>);

// --- A line longer than the memory allowed is error 203, not a crash.

TEST_P(ProgramTest, LineBeyondMemoryIs203) {
  TempDir dir;
  write_file(dir.path("long"), std::string(std::size_t{64} << 20, 'x'));  // no terminator
  Request request;
  // The sanitizer runtime needs far more address space than any useful limit,
  // so there its allocator limit stands in for the address-space limit.
  if (kSanitized)
    request.argv = {"env", "ASAN_OPTIONS=allocator_may_return_null=1:max_allocation_size_mb=16"};
  else
    request.argv = {"prlimit", "--as=" + std::to_string(32 << 20)};
  request.argv.push_back(GetParam().path());
  request.argv.push_back(dir.path("long"));
  Result result = run(request);
  EXPECT_EQ(result.status, 203) << result.err;
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.out, GetParam().preamble(dir.path("long")));
  // The sanitizer warns of the refused allocation in lines of its own.
  std::string report;
  for (const auto& line : lines_at_lf(result.err))
    if (!kSanitized || !line.starts_with("==")) report += line + "\n";
  expect_report(report, 203);
}

// --- Output that must wait: a non-blocking pipe or terminal is waited on
// with poll(2), which returns only once it is ready; a full terminal takes part of a write(2)
// when left non-blocking, or when stopped (Ctrl-Z) and continued, and the
// rest follows: the whole document, status 0.

enum class Waiting { kPipe, kTerminal, kStoppedTerminal };

struct WaitCase {
  const char* name;
  bool on_output;  // standard output waits, else standard input
  Waiting end = Waiting::kPipe;
};

class NonBlockingPipe : public testing::TestWithParam<std::tuple<Program, WaitCase>> {};

TEST_P(NonBlockingPipe, WaitsWithoutSpinning) {
  const auto& [program, c] = GetParam();
  std::string document = program.document(2000);  // more output than the pipe holds
  Result clean = run({program.path(), ""}, document);
  ASSERT_GT(clean.out.size(), 8192u);
  TempDir dir;
  write_file(dir.path("in"), document);
  int pipe[2];
  std::optional<PseudoTerminal> terminal;
  if (c.end == Waiting::kPipe) {
    ASSERT_EQ(pipe2(pipe, O_CLOEXEC | O_NONBLOCK), 0);
    fcntl(pipe[1], F_SETPIPE_SZ, 4096);
  } else {
    terminal.emplace(true);
    pipe[0] = dup(terminal->ours()), pipe[1] = dup(terminal->theirs());
    terminal.reset();
    if (c.end == Waiting::kTerminal) fcntl(pipe[1], F_SETFL, O_NONBLOCK);
  }
  int in = open(dir.path("in").c_str(), O_RDONLY | O_CLOEXEC);
  int out = open(dir.path("out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  int err = open(dir.path("err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  Start child;
  child.argv = {program.path(), ""};
  // Traced where it waits in poll(2); a blocking terminal waits in write(2).
  const bool polls = c.end != Waiting::kStoppedTerminal;
  if (polls) child.argv = traced(dir.path("trace"), {"-e", "trace=poll,ppoll"}, child.argv);
  child.fds[0] = c.on_output ? in : pipe[0];
  child.fds[1] = c.on_output ? pipe[1] : out;
  child.fds[2] = err;
  pid_t pid = start(child);
  close(in);
  close(out);
  close(err);
  close(c.on_output ? pipe[1] : pipe[0]);
  int end = c.on_output ? pipe[0] : pipe[1];
  fcntl(end, F_SETFL, 0);  // only the child's end stays non-blocking
  // The child waits meanwhile: in poll(2) once strace has shown one.
  for (int tries = 0; tries < (polls ? 20'000 : 300); ++tries, usleep(1000))
    if (polls && read_file(dir.path("trace")).find("poll(") != std::string::npos) break;
  if (c.end == Waiting::kStoppedTerminal) kill(pid, SIGSTOP), kill(pid, SIGCONT);
  std::string output;
  if (c.on_output) {
    output = read_to_end(end);  // a terminal ends (EIO) once its last holder has gone
  } else {
    ASSERT_EQ(write(end, document.data(), document.size()), ssize_t(document.size()));
  }
  close(end);
  Ending ending = wait_for(pid);
  if (!c.on_output) output = read_file(dir.path("out"));
  EXPECT_EQ(ending.status, 0);
  EXPECT_EQ(read_file(dir.path("err")), "");
  EXPECT_TRUE(output == clean.out) << output.size() << " bytes";
  // Each wait ends with its descriptor ready: none returns 0, as a poll that spins would.
  std::size_t waits = 0;
  for (const std::string& line : lines_at_lf(polls ? read_file(dir.path("trace")) : "")) {
    waits += line.find("poll(") != std::string::npos;
    EXPECT_EQ(line.find(" = 0"), std::string::npos) << line;
  }
  EXPECT_TRUE(!polls || waits > 0) << "never waited";
}

INSTANTIATE_TEST_SUITE_P(
    Ends, NonBlockingPipe,
    testing::Combine(testing::ValuesIn(kPrograms),
                     testing::Values(WaitCase{"Input", false}, WaitCase{"Output", true},
                                     WaitCase{"TerminalLeftNonBlocking", true, Waiting::kTerminal},
                                     WaitCase{"TerminalStoppedAndContinued", true,
                                              Waiting::kStoppedTerminal})),
    program_and_case<WaitCase>);

// --- The error stream failing does not cost standard output its last block.

TEST_P(ProgramTest, ErrorStreamFailingKeepsOutput) {
  TempDir dir;
  Request request;
  request.argv = {GetParam().path(), dir.path("")};  // a directory: error 5
  request.stdout_path = dir.path("out");
  request.stderr_path = "/dev/full";
  Result result = run(request);
  EXPECT_EQ(result.status, 5);
  EXPECT_EQ(read_file(dir.path("out")), GetParam().preamble(dir.path("")));
}

INSTANTIATE_TEST_SUITE_P(Programs, ProgramTest, testing::ValuesIn(kPrograms), row_name);

}  // namespace
}  // namespace outline_test
