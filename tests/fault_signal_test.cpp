// SPDX-License-Identifier: MIT
// Fault signals. While a program waits on its input, each of the four is
// turned into a run-time error report and its error number as the exit
// status, also when the parent blocked them or two come at once; any other
// signal ends the process by the signal, with no report. Once a stop has
// begun, later fault signals change nothing of it. One that comes at a
// write(2) of standard output, or at any moment of a run, leaves standard
// output a byte prefix of the document, every byte once.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <stdexcept>
#include <thread>

#include "programs.hpp"

namespace outline_test {
namespace {

// Where the program is left waiting: in open(2) of a FIFO that no one writes
// to yet, or in read(2) of a FIFO with a writer that writes nothing.
enum class Wait { kOpen, kRead };

// The system call `pid` is blocked in, as /proc/<pid>/syscall shows it: the
// number and the arguments; empty while it runs.
std::vector<unsigned long> blocked_call(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/syscall");
  std::string first;
  if (!(file >> first) || first == "running") return {};
  std::vector<unsigned long> call = {std::stoul(first)};
  std::string word;
  while (file >> word) call.push_back(std::stoul(word, nullptr, 16));
  return call;
}

// The NUL-terminated string at `address` in the memory of `pid`.
std::string string_at(pid_t pid, unsigned long address, std::size_t max) {
  int mem = open(("/proc/" + std::to_string(pid) + "/mem").c_str(), O_RDONLY | O_CLOEXEC);
  if (mem < 0) return {};
  std::string text(max, '\0');
  ssize_t n = pread(mem, text.data(), max, static_cast<off_t>(address));
  close(mem);
  text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return text.substr(0, text.find('\0'));
}

std::string fd_target(pid_t pid, unsigned long fd) {
  char target[4096];
  std::string link = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
  ssize_t n = readlink(link.c_str(), target, sizeof target);
  return n > 0 ? std::string(target, n) : std::string();
}

// True once `pid` is blocked opening `fifo` or reading it. The C library's
// open() is the openat system call on every Linux target.
bool waits_on(pid_t pid, Wait wait, const std::string& fifo) {
  std::vector<unsigned long> call = blocked_call(pid);
  if (call.size() < 3) return false;
  if (wait == Wait::kRead) return call[0] == SYS_read && fd_target(pid, call[1]) == fifo;
  return call[0] == SYS_openat && string_at(pid, call[2], fifo.size() + 1) == fifo;
}

// Waits, boundedly, until `blocked` holds; false if `pid` ended before.
bool wait_until(pid_t pid, const std::function<bool()>& blocked) {
  for (int tries = 0; tries < 60000; ++tries) {
    if (blocked()) return true;
    siginfo_t info = {};
    if (waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid)
      return false;
    usleep(1000);
  }
  return false;
}

// A FIFO as the input. With a writer, which has put `bytes` in it, the
// reader's open does not wait but its read does once the bytes are taken;
// without one the reader waits in open(2).
class Fifo {
 public:
  Fifo(const TempDir& dir, bool with_writer, const std::string& bytes = {})
      : path_(dir.path("fifo")) {
    if (mkfifo(path_.c_str(), 0600) != 0) throw std::runtime_error("mkfifo");
    if (!with_writer) return;
    writer_ = open(path_.c_str(), O_RDWR | O_CLOEXEC);
    if (writer_ < 0 || write(writer_, bytes.data(), bytes.size()) != ssize_t(bytes.size()))
      throw std::runtime_error("FIFO writer");
  }
  ~Fifo() { close_writer(); }
  Fifo(const Fifo&) = delete;
  Fifo& operator=(const Fifo&) = delete;
  // Ends the input after the bytes.
  void close_writer() {
    if (writer_ >= 0) close(writer_);
    writer_ = -1;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int writer_ = -1;
};

// The signals blocked in `pid`, as /proc/<pid>/status shows them.
unsigned long long blocked_signals(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(file, line))
    if (line.starts_with("SigBlk:")) return std::stoull(line.substr(7), nullptr, 16);
  return ~0ull;
}

unsigned long long as_bits(const sigset_t& set) {
  unsigned long long bits = 0;
  for (int signal = 1; signal <= 64; ++signal)
    if (sigismember(&set, signal) == 1) bits |= 1ull << (signal - 1);
  return bits;
}

// Delivers `signal` to `pid` with the si_code of a fault the kernel detected,
// which no process can send to another, and with `x87_flags` set in the x87
// status word: both are rewritten under ptrace at its delivery.
bool deliver_as_fault(pid_t pid, int signal, unsigned x87_flags = 0) {
  if (ptrace(PTRACE_SEIZE, pid, 0, 0) != 0) return false;
  kill(pid, signal);
  int status;
  if (waitpid(pid, &status, __WALL) != pid || !WIFSTOPPED(status) || WSTOPSIG(status) != signal)
    return false;
  siginfo_t info;
  if (ptrace(PTRACE_GETSIGINFO, pid, 0, &info) != 0) return false;
  info.si_code = SEGV_MAPERR;
#if defined(__x86_64__)
  user_fpregs_struct fpu;
  if (ptrace(PTRACE_GETFPREGS, pid, 0, &fpu) != 0) return false;
  fpu.swd = static_cast<unsigned short>(fpu.swd | x87_flags);
  if (ptrace(PTRACE_SETFPREGS, pid, 0, &fpu) != 0) return false;
#endif
  return ptrace(PTRACE_SETSIGINFO, pid, 0, &info) == 0 &&
         ptrace(PTRACE_DETACH, pid, 0, signal) == 0;
}

struct Case {
  Program program;
  Wait wait;
  const char* signal_name;
  int signal;
  int error;               // the error number reported; 0 for a signal that is not handled
  bool parent_blocks;      // the parent blocked the four, SIGPIPE and SIGUSR1
  unsigned x87_flags = 0;  // set in the x87 status word at the signal
  int also = 0;            // a second fault signal, sent with the first while the run is stopped
  std::size_t item = 1;    // the length of the item read before the signal
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.program.name << " waiting in " << (c.wait == Wait::kOpen ? "open" : "read") << ", "
      << c.signal_name << (c.parent_blocks ? ", signals blocked by the parent" : "") << ", x87 "
      << c.x87_flags;
}

class FaultSignal : public testing::TestWithParam<Case> {};

// Starts the program on a FIFO, waits until it blocks there and sends the
// signal. Waiting in read, it has read one item.
TEST_P(FaultSignal, EndsTheRunAsItShould) {
  const Case& c = GetParam();
#if !defined(__x86_64__)
  if (c.x87_flags != 0) GTEST_SKIP() << "the x87 status word is set through ptrace on x86-64 only";
#endif
  sigset_t mask;
  sigemptyset(&mask);
  for (int signal : {SIGFPE, SIGSEGV, SIGBUS, SIGILL, SIGPIPE, SIGUSR1}) sigaddset(&mask, signal);
  TempDir dir;
  const std::string item(c.item, 'a');
  Fifo fifo(dir, c.wait == Wait::kRead, c.program.single_item(item));
  Start child;
  child.argv = {c.program.path(), fifo.path()};
  int out = open(dir.path("out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  int err = open(dir.path("err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  child.fds[1] = out;
  child.fds[2] = err;
  if (c.parent_blocks) child.mask = &mask;
  pid_t pid = start(child);
  close(out);
  close(err);
  bool blocked = wait_until(pid, [&] { return waits_on(pid, c.wait, fifo.path()); });
  EXPECT_TRUE(blocked) << c.program.name << " never waited on its input";
  unsigned long long blocked_mask = blocked_signals(pid);
  if (c.x87_flags != 0 && blocked) {
    EXPECT_TRUE(deliver_as_fault(pid, c.signal, c.x87_flags)) << std::strerror(errno);
  } else if (c.also != 0 && blocked) {
    // Both pending at once: one stop, by the one the kernel delivers first.
    siginfo_t stopped;
    kill(pid, SIGSTOP);
    waitid(P_PID, pid, &stopped, WSTOPPED | WNOWAIT);
    kill(pid, c.signal), kill(pid, c.also), kill(pid, SIGCONT);
  } else {
    kill(pid, blocked ? c.signal : SIGKILL);
  }
  Ending ending = wait_for(pid, 10'000);
  EXPECT_FALSE(ending.killed) << "the signal did not end the run";
  std::string out_text = read_file(dir.path("out")), err_text = read_file(dir.path("err"));

  if (c.parent_blocks) {
    // The four are unblocked; every other signal keeps the mask it inherited.
    for (int signal : {SIGFPE, SIGSEGV, SIGBUS, SIGILL}) sigdelset(&mask, signal);
    EXPECT_EQ(blocked_mask, as_bits(mask)) << std::hex << blocked_mask;
  }
  if (c.error == 0) {
    EXPECT_EQ(ending.signal, c.signal) << "exit status " << ending.status;
    EXPECT_EQ(err_text, "");
    return;
  }
  EXPECT_EQ(ending.status, c.error) << "signal " << ending.signal;
  expect_report(err_text, c.error, false);
  if (c.wait == Wait::kRead) expect_report_resolves(c.program, err_text, c.program.line_read);
  // Exactly what was written before the signal, buffered bytes included.
  EXPECT_EQ(out_text, c.wait == Wait::kOpen
                          ? ""
                          : c.program.preamble(fifo.path()) + c.program.item_output(item));
}

std::vector<Case> cases() {
  struct Signal {
    const char* name;
    int number, error;
  };
  std::vector<Case> all;
  for (const Program& program : kPrograms)
    for (Wait wait : {Wait::kOpen, Wait::kRead})
      for (bool parent_blocks : {false, true})
        for (Signal signal : {Signal{"SIGSEGV", SIGSEGV, 216}, Signal{"SIGBUS", SIGBUS, 214},
                              Signal{"SIGILL", SIGILL, 216}, Signal{"SIGFPE", SIGFPE, 200},
                              Signal{"SIGTERM", SIGTERM, 0}})
          if (!parent_blocks || wait == Wait::kRead)
            all.push_back({program, wait, signal.name, signal.number, signal.error, parent_blocks});
  // The x87 flags, each alone: invalid, denormal, zero divide, overflow,
  // underflow, precision, stack fault.
  constexpr int kFlagErrors[] = {207, 216, 200, 205, 206, 207, 207};
  for (const Program& program : kPrograms)
    for (unsigned bit = 0; bit < 7; ++bit)
      all.push_back({program, Wait::kRead, "SIGFPE", SIGFPE, kFlagErrors[bit], false, 1u << bit});
  // SIGBUS, the lower number, comes first. An item longer than a block is
  // sent straight from the line, and its line end buffered after it.
  for (const Program& program : kPrograms) {
    all.push_back({program, Wait::kRead, "SIGSEGV", SIGSEGV, 214, false, 0, SIGBUS});
    all.push_back({program, Wait::kRead, "SIGSEGV", SIGSEGV, 216, false, 0, 0, 600});
  }
  return all;
}

INSTANTIATE_TEST_SUITE_P(Signals, FaultSignal, testing::ValuesIn(cases()), [](const auto& info) {
  return std::string(info.param.program.name) +
         (info.param.wait == Wait::kOpen ? "_InOpen_" : "_InRead_") + info.param.signal_name +
         (info.param.parent_blocks ? "_BlockedByParent" : "") +
         (info.param.x87_flags ? "_X87Flag" + std::to_string(info.param.x87_flags) : "") +
         (info.param.also ? "_AndSIGBUS" : "") + (info.param.item > 1 ? "_AfterLongItem" : "");
});

// --- The handlers are installed in a fixed order, then the four unblocked.

class Handlers : public testing::TestWithParam<Program> {};

TEST_P(Handlers, InstalledInOrderThenUnblocked) {
  TempDir dir;
  Request request;
  request.argv =
      traced(dir.path("log"), {"-e", "trace=rt_sigaction,rt_sigprocmask"}, {GetParam().path()});
  ASSERT_EQ(run(request).status, 0);
  std::vector<std::string> calls = lines_at_lf(read_file(dir.path("log")));
  // The last calls that set a handler of the four (a sanitizer runtime sets
  // its own before), up to the unblocking of the four.
  auto unblock = std::find_if(calls.begin(), calls.end(), [](const std::string& call) {
    return call.starts_with("rt_sigprocmask(SIG_UNBLOCK, [ILL BUS FPE SEGV], ");
  });
  ASSERT_NE(unblock, calls.end()) << read_file(dir.path("log"));
  std::vector<std::string> installed;
  for (auto call = calls.begin(); call != unblock; ++call)
    for (const char* name : {"SIGFPE", "SIGSEGV", "SIGBUS", "SIGILL"})
      if (call->starts_with("rt_sigaction(" + std::string(name) + ", {sa_handler=0x"))
        installed.push_back(
            name + std::string(call->find("SA_SIGINFO") != std::string::npos ? " SA_SIGINFO" : ""));
  ASSERT_GE(installed.size(), 4u);
  installed.erase(installed.begin(), installed.end() - 4);
  EXPECT_EQ(installed, (std::vector<std::string>{"SIGFPE SA_SIGINFO", "SIGSEGV SA_SIGINFO",
                                                 "SIGBUS SA_SIGINFO", "SIGILL SA_SIGINFO"}));
}

INSTANTIATE_TEST_SUITE_P(Programs, Handlers, testing::ValuesIn(kPrograms), row_name);

// --- Fault signals while a stop is under way change nothing of it: bursts of
// them sent from outside, and a fault as the kernel reports one.

// A pipe whose buffer is full: a write to it waits until the pipe is drained.
class FullPipe {
 public:
  FullPipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe");
    read_ = fds[0], write_ = fds[1];
    fcntl(write_, F_SETPIPE_SZ, 4096);
    char filler[4096] = {};
    for (ssize_t n; (n = ::write(write_, filler, sizeof filler)) > 0;) filled_ += n;
    fcntl(read_, F_SETFL, 0);
    fcntl(write_, F_SETFL, 0);  // shared with the child, whose writes must wait
  }
  ~FullPipe() {
    close(read_);
    close_writer();
  }
  FullPipe(const FullPipe&) = delete;
  FullPipe& operator=(const FullPipe&) = delete;
  int writer() const { return write_; }
  void close_writer() {
    if (write_ >= 0) close(write_);
    write_ = -1;
  }
  // What was written after the filler, up to the end of the pipe or a 10 s pause.
  std::string drain() {
    std::string bytes = read_to_end(read_);
    return bytes.substr(std::min(filled_, bytes.size()));
  }

 private:
  int read_ = -1, write_ = -1;
  std::size_t filled_ = 0;
};

// A pseudo-terminal in raw mode whose output is stopped: a write to it waits
// until the output is restarted.
class StoppedTerminal {
 public:
  StoppedTerminal() { tcflow(terminal_.theirs(), TCOOFF); }
  int slave() const { return terminal_.theirs(); }
  // Restarts the output and reads the screen until every holder has gone or
  // nothing comes for 10 s.
  std::string restart_and_read() {
    tcflow(terminal_.theirs(), TCOON);
    terminal_.close_theirs();
    return read_to_end(terminal_.ours());
  }

 private:
  PseudoTerminal terminal_{true};
};

// True while `pid` waits in write(2) on its descriptor `fd`.
bool waits_in_write(pid_t pid, unsigned long fd) {
  std::vector<unsigned long> call = blocked_call(pid);
  return call.size() >= 2 && call[0] == SYS_write && call[1] == fd;
}

// Each of the four fault signals, a hundred times over.
void burst(pid_t pid) {
  for (int round = 0; round < 100; ++round) {
    for (int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE}) kill(pid, signal);
    usleep(100);
  }
}

// The stop under way: the normal end, an error stop (a directory as input),
// or the stop of a SIGBUS sent while the program waits in read.
enum class Stop { kNormalEnd, kErrorStop, kFaultStop };
// Where the stop is held: writing standard output to a full pipe, or the first
// line of the report to a stopped terminal, with standard output still buffered.
enum class Held { kOutput, kReport };

struct StopCase {
  const char* name;
  Stop stop;
  Held held;
  bool real_fault;  // a fault as the kernel reports it, instead of the bursts
};

class StopUnderWay : public testing::TestWithParam<std::tuple<Program, StopCase>> {};

TEST_P(StopUnderWay, KeepsFirstReportOutputAndStatus) {
  const auto& [program, c] = GetParam();
  TempDir dir;
  Fifo fifo(dir, true, program.single_item("a"));
  FullPipe pipe;
  StoppedTerminal terminal;
  int file = open(dir.path("file").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  Start child;
  child.argv = {program.path(), c.stop == Stop::kErrorStop ? dir.path("") : fifo.path()};
  child.fds[1] = c.held == Held::kOutput ? pipe.writer() : file;
  child.fds[2] = c.held == Held::kReport ? terminal.slave() : file;
  pid_t pid = start(child);
  close(file);
  pipe.close_writer();

  std::string expected_out =
      program.preamble(c.stop == Stop::kErrorStop ? dir.path("") : fifo.path());
  int expected_status = 5;
  if (c.stop != Stop::kErrorStop) {
    EXPECT_TRUE(wait_until(pid, [&] { return waits_on(pid, Wait::kRead, fifo.path()); }));
    expected_out += program.item_output("a");
    expected_status = c.stop == Stop::kNormalEnd ? 0 : 214;
    if (c.stop == Stop::kNormalEnd) fifo.close_writer(), expected_out += program.trailer;
    if (c.stop == Stop::kFaultStop) kill(pid, SIGBUS);
  }
  unsigned long held_fd = c.held == Held::kOutput ? 1 : 2;
  bool held = wait_until(pid, [&] { return waits_in_write(pid, held_fd); });
  EXPECT_TRUE(held) << "the stop was not held";
  if (held && c.real_fault) {
    EXPECT_TRUE(deliver_as_fault(pid, SIGSEGV)) << std::strerror(errno);
  } else if (held) {
    burst(pid);
    EXPECT_TRUE(wait_until(pid, [&] { return waits_in_write(pid, held_fd); }));
  }
  std::string held_bytes = c.held == Held::kOutput ? pipe.drain() : terminal.restart_and_read();
  Ending ending = wait_for(pid, 10'000);
  EXPECT_FALSE(ending.killed) << "the stop never ended";
  std::string file_bytes = read_file(dir.path("file"));
  const std::string& out = c.held == Held::kOutput ? held_bytes : file_bytes;
  const std::string& err = c.held == Held::kReport ? held_bytes : file_bytes;

  EXPECT_EQ(ending.status, expected_status) << "signal " << ending.signal;
  EXPECT_EQ(out, expected_out);
  if (c.real_fault && c.held == Held::kOutput) {
    // The report was whole before standard output was held: it is written once.
    expect_report(err, 214, false);
  } else if (c.real_fault) {
    // The report's first line was held and the fault ends the run: nothing of it came out.
    EXPECT_EQ(err, "");
  } else if (c.stop == Stop::kNormalEnd) {
    EXPECT_EQ(err, "");
  } else if (c.stop == Stop::kErrorStop) {
    expect_report(err, 5);
  } else {
    expect_report(err, 214, false);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Stops, StopUnderWay,
    testing::Combine(
        testing::ValuesIn(kPrograms),
        testing::Values(StopCase{"NormalEndOutputHeld", Stop::kNormalEnd, Held::kOutput, false},
                        StopCase{"ErrorStopReportHeld", Stop::kErrorStop, Held::kReport, false},
                        StopCase{"FaultStopOutputHeld", Stop::kFaultStop, Held::kOutput, false},
                        StopCase{"FaultStopReportHeld", Stop::kFaultStop, Held::kReport, false},
                        StopCase{"RealFaultInErrorReport", Stop::kErrorStop, Held::kReport, true},
                        StopCase{"RealFaultInFaultReport", Stop::kFaultStop, Held::kReport, true},
                        StopCase{"RealFaultInFaultOutput", Stop::kFaultStop, Held::kOutput, true})),
    program_and_case<StopCase>);

// --- A fault signal at a block's write(2): standard output is the document up
// to the end of the write statements stored with that block, no block twice.
// strace delivers the signal as the call returns, after the kernel took the
// block; on a full pipe it cuts the waiting call short before it took anything.

// The end of the write statements stored together with the byte at `at` of
// `document`, a clean run's output: a line's, but tab2vrex stores the DONE
// records before an item with the item's line.
std::size_t statements_end(const std::string& document, std::size_t at) {
  for (std::size_t end = document.find('\n', at); end != std::string::npos;
       end = document.find('\n', end + 1)) {
    std::size_t start = document.rfind('\n', end - 1) + 1;  // npos + 1 is 0
    bool done = document.compare(start, end - start, "DONE") == 0;
    if (!done ||
        !(document.compare(end + 1, 5, "DONE\n") == 0 || document.compare(end + 1, 4, "NODE") == 0))
      return end + 1;
  }
  return document.size();
}

// A stalled terminal is left non-blocking and full: a write(2) takes part of
// a statement and the rest waits in poll(2), where the signal comes.
enum class Sink { kFile, kPipe, kSocket, kFullPipe, kStalledTerminal };
// The block whose write(2) the signal comes at: the first, the third or the
// fourth, one in the middle, the last during the run, or the rest at the
// normal end, a stop under way.
enum class Block { kFirst, kThird, kFourth, kMiddle, kLast, kAtExit };

// Standard output of a child: a file, a pipe or a stream socket, with the path
// strace knows its descriptor by.
class Output {
 public:
  Output(Sink sink, const TempDir& dir) {
    int fds[2] = {-1, -1};
    if (sink == Sink::kFile) {
      path_ = dir.path("out");
      fds[1] = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      path_ = std::filesystem::canonical(path_).string();
    } else if (sink == Sink::kPipe ? pipe2(fds, O_CLOEXEC) != 0
                                   : socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
      throw std::runtime_error("no pipe or socket pair");
    }
    reader_ = fds[0], writer_ = fds[1];
    struct stat st;
    if (writer_ < 0 || fstat(writer_, &st) != 0) throw std::runtime_error("no output");
    if (sink != Sink::kFile)
      path_ = (sink == Sink::kPipe ? "pipe:[" : "socket:[") + std::to_string(st.st_ino) + "]";
  }
  ~Output() {
    if (reader_ >= 0) close(reader_);
    close_writer();
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  int writer() const { return writer_; }
  const std::string& path() const { return path_; }
  void close_writer() {
    if (writer_ >= 0) close(writer_);
    writer_ = -1;
  }
  // Everything the child wrote, read as read_to_end reads.
  std::string read_all(const std::function<std::size_t()>& chunk = kWholeChunks) {
    return reader_ < 0 ? read_file(path_) : read_to_end(reader_, chunk);
  }

 private:
  std::string path_;
  int reader_ = -1, writer_ = -1;
};

struct WriteSignalCase {
  const char* name;
  Sink sink;
  Block block;
  const char* signal_name;
  int signal, error;
  std::size_t item = 0;  // one item of this many bytes, in several blocks at once
  // A tracer stops the program at this address (a label of the write call's
  // window, or inside a function), at the block's write(2), and sends the
  // signal there.
  const char* edge = nullptr;
};

class SignalInWrite : public testing::TestWithParam<std::tuple<Program, WriteSignalCase>> {};

TEST_P(SignalInWrite, OutputEndsWithTheBlocksStatements) {
  const auto& [program, c] = GetParam();
#if !defined(__x86_64__)
  if (c.edge != nullptr) GTEST_SKIP() << "the rows stopped by gdb run on x86-64 only";
#endif
  TempDir dir;
  const std::string input = dir.path("input");
  const bool stalled = c.sink == Sink::kStalledTerminal;
  // 6000 items: more than a terminal holds.
  write_file(input, c.item ? program.single_item(std::string(c.item, 'x'))
                           : program.document(stalled ? 6000 : 200));
  const std::string clean = run({program.path(), input}).out;
  const std::size_t blocks = (clean.size() + kBlock - 1) / kBlock;
  ASSERT_GT(blocks, 4u);
  std::size_t block = c.block == Block::kFirst    ? 1
                      : c.block == Block::kThird  ? 3
                      : c.block == Block::kFourth ? 4
                      : c.block == Block::kMiddle ? blocks / 2
                      : c.block == Block::kLast   ? blocks - 1
                                                  : blocks;

  Output output(c.sink == Sink::kFullPipe || stalled ? Sink::kFile : c.sink, dir);
  FullPipe full;
  PseudoTerminal terminal(true);
  int err = open(dir.path("err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  Start child;
  child.argv = {program.path(), input};
  const std::string call = stalled ? "poll" : "write", when = stalled ? "1" : std::to_string(block);
  if (c.sink != Sink::kFullPipe)
    child.argv = traced(dir.path("trace"),
                        {"-qq", "-e", "trace=write,poll", "-P",
                         stalled ? fd_target(getpid(), terminal.theirs()) : output.path(), "-e",
                         "inject=" + call + ":signal=" + c.signal_name + ":when=" + when},
                        child.argv);
  fcntl(terminal.theirs(), F_SETFL, O_NONBLOCK);
  child.fds[1] = c.sink == Sink::kFullPipe ? full.writer()
                 : stalled                 ? terminal.theirs()
                                           : output.writer();
  child.fds[2] = err;
  if (c.edge != nullptr) {
    child.argv = {"gdb",
                  "-nx",
                  "-batch",
                  "-ex",
                  "break *" + std::string(c.edge),
                  "-ex",
                  "ignore 1 " + std::to_string(block - 1),
                  "-ex",
                  "run " + input + " > " + output.path() + " 2> " + dir.path("err"),
                  "-ex",
                  "delete",
                  "-ex",
                  "signal " + std::string(c.signal_name),
                  "-ex",
                  "quit $_exitcode",
                  "--args",
                  program.path()};
    child.fds[1] = child.fds[2] = -1;
  }
  pid_t pid = start(child);
  close(err);
  output.close_writer();
  full.close_writer();
  terminal.close_theirs();
  std::string out;
  if (stalled) {
    // Read once the signal has come: the child fills the terminal and waits.
    for (int tries = 0; tries < 20'000; ++tries, usleep(1000))
      if (read_file(dir.path("trace")).find("--- SIG") != std::string::npos) break;
    out = read_to_end(terminal.ours());
  } else if (c.sink == Sink::kFullPipe) {
    bool held = wait_until(pid, [&] { return waits_in_write(pid, 1); });
    EXPECT_TRUE(held) << "the first block's write never waited";
    kill(pid, held ? c.signal : SIGKILL);
    out = full.drain();
  } else if (c.sink != Sink::kFile) {
    out = output.read_all();
  }
  Ending ending = wait_for(pid, 20'000);
  if (c.sink == Sink::kFile) out = output.read_all();

  EXPECT_EQ(ending.status, c.error) << "signal " << ending.signal;
  if (c.error != 0) expect_report(read_file(dir.path("err")), c.error, false);
  // A signal in poll(2) interrupts the C library, whose code has no line information.
  if (c.error != 0 && !stalled)
    expect_report_resolves(program, read_file(dir.path("err")), program.item_write);
  std::string expected =
      block == blocks ? clean : clean.substr(0, statements_end(clean, block * kBlock));
  // The long item's text goes out in one send, before its line end is stored.
  if (c.item != 0) expected.pop_back();
  bool split = true;
  if (stalled) {
    // The statement in flight when the signal came had a part taken before
    // the wait: every byte of it once, and nothing after it.
    std::vector<std::string> trace = lines_at_lf(read_file(dir.path("trace")));
    auto wait = std::find_if(trace.begin(), trace.end(),
                             [](const std::string& line) { return line.starts_with("poll("); });
    // strace's lines: write(1, "...", count)   = result
    auto result = [](const std::string& line) {
      return std::stol(line.substr(line.rfind(" = ") + 3));
    };
    auto part = std::find_if(std::make_reverse_iterator(wait), trace.rend(),
                             [&](const std::string& line) { return result(line) >= 0; });
    ASSERT_NE(part, trace.rend()) << "no write before the wait";
    EXPECT_TRUE(out.ends_with('\n') && out.size() < clean.size()) << out.size() << " bytes";
    expected = clean.substr(0, out.size());
    split = result(*part) < std::stol(part->substr(part->rfind(", ", part->rfind(')')) + 2));
  }
  if (c.error == 0) {
    EXPECT_EQ(read_file(dir.path("err")), "");
  }
  EXPECT_EQ(out, expected) << out.size() << " bytes, not " << expected.size();
  // Rarely the terminal fills at a statement's end: nothing was split then.
  if (!split) GTEST_SKIP() << "the write before the wait took all its bytes";
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, SignalInWrite,
    testing::Combine(
        testing::ValuesIn(kPrograms),
        testing::Values(
            WriteSignalCase{"FileFirst", Sink::kFile, Block::kFirst, "SIGSEGV", SIGSEGV, 216},
            WriteSignalCase{"FileMiddle", Sink::kFile, Block::kMiddle, "SIGBUS", SIGBUS, 214},
            WriteSignalCase{"FileLast", Sink::kFile, Block::kLast, "SIGFPE", SIGFPE, 200},
            // The normal end under way keeps its status and writes its block once.
            WriteSignalCase{"FileAtExit", Sink::kFile, Block::kAtExit, "SIGSEGV", SIGSEGV, 0},
            WriteSignalCase{"PipeFirst", Sink::kPipe, Block::kFirst, "SIGILL", SIGILL, 216},
            WriteSignalCase{"PipeMiddle", Sink::kPipe, Block::kMiddle, "SIGSEGV", SIGSEGV, 216},
            WriteSignalCase{"PipeLast", Sink::kPipe, Block::kLast, "SIGBUS", SIGBUS, 214},
            WriteSignalCase{"SocketFirst", Sink::kSocket, Block::kFirst, "SIGFPE", SIGFPE, 200},
            WriteSignalCase{"SocketMiddle", Sink::kSocket, Block::kMiddle, "SIGILL", SIGILL, 216},
            WriteSignalCase{"SocketLast", Sink::kSocket, Block::kLast, "SIGSEGV", SIGSEGV, 216},
            WriteSignalCase{"FullPipeCutShort", Sink::kFullPipe, Block::kFirst, "SIGSEGV", SIGSEGV,
                            216},
            // The third write(2) is the second of the item's: the first one counts.
            WriteSignalCase{"FileInsideLongItem", Sink::kFile, Block::kThird, "SIGSEGV", SIGSEGV,
                            216, 2000},
            // The fourth: both before it count.
            WriteSignalCase{"FileFourthInsideLongItem", Sink::kFile, Block::kFourth, "SIGSEGV",
                            SIGSEGV, 216, 2000},
            // The count not yet added, and just added.
            WriteSignalCase{"FileAtWindowStart", Sink::kFile, Block::kThird, "SIGSEGV", SIGSEGV,
                            216, 0, "outline_write_returned"},
            WriteSignalCase{"FileAtWindowEnd", Sink::kFile, Block::kThird, "SIGBUS", SIGBUS, 214, 0,
                            "outline_write_counted"},
            // In the stream's own code as it passes the block on, its frame
            // record made (push %rbp, mov %rsp, %rbp: 4 bytes). Quoted whole,
            // gdb finds it without debug information (a Release build).
            WriteSignalCase{"FileAsBlockPassedOn", Sink::kFile, Block::kThird, "SIGSEGV", SIGSEGV,
                            216, 0, "'outline::OutputStream::pass_block_on()'+4"},
            WriteSignalCase{"StalledTerminalBetweenParts", Sink::kStalledTerminal, Block::kFirst,
                            "SIGBUS", SIGBUS, 214})),
    program_and_case<WriteSignalCase>);

// --- A fault signal at a random moment of a run writing to a pipe read at
// random speeds, or to a file: whatever it interrupts, standard output is a
// prefix of the document, and the status and report are the signal's. The
// input, a FIFO, ends only after the signal: every run is under way when it comes.

class SignalAnyMoment : public testing::TestWithParam<std::tuple<Program, Sink>> {};

TEST_P(SignalAnyMoment, LeavesAPrefix) {
  const auto& [program, sink] = GetParam();
  TempDir dir;
  const std::string input = dir.path("input"), document = program.document(60'000);
  write_file(input, document);
  const std::string clean = run({program.path(), input}).out;
  std::minstd_rand random(testing::UnitTest::GetInstance()->random_seed());
  constexpr int kSignals[][2] = {{SIGSEGV, 216}, {SIGBUS, 214}, {SIGILL, 216}, {SIGFPE, 200}};
  for (int attempt = 1; attempt <= 12; ++attempt) {
    std::filesystem::remove(input);
    ASSERT_EQ(mkfifo(input.c_str(), 0600), 0);
    Output output(sink, dir);
    int err = open(dir.path("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    Start child;
    child.argv = {program.path(), input};
    child.fds[1] = output.writer();
    child.fds[2] = err;
    pid_t pid = start(child);
    close(err);
    output.close_writer();
    const auto& [signal, error] = kSignals[random() % 4];
    // The program converts the last of what came while the rest of its input lies unread.
    const std::size_t fed = random() % document.size();
    std::thread sender([&, pid, signal = signal] {
      int fifo = open(input.c_str(), O_WRONLY | O_CLOEXEC);
      for (std::size_t sent = 0; sent < fed;) {
        ssize_t n = write(fifo, document.data() + sent, fed - sent);
        if (n > 0) sent += static_cast<std::size_t>(n);
        if (n < 0 && errno != EINTR) break;
      }
      kill(pid, signal);  // a zombie until waited for below: never another process
      close(fifo);
    });
    std::string out = output.read_all([&] { return 1 + random() % 8192; });
    sender.join();
    Ending ending = wait_for(pid, 20'000);
    if (sink == Sink::kFile) out = read_file(output.path());
    ASSERT_TRUE(clean.starts_with(out))
        << "not a prefix: " << out.size() << " bytes, run " << attempt;
    ASSERT_EQ(ending.status, error) << "signal " << ending.signal << ", run " << attempt;
    expect_report(read_file(dir.path("err")), error, false);
  }
}

INSTANTIATE_TEST_SUITE_P(Sinks, SignalAnyMoment,
                         testing::Combine(testing::ValuesIn(kPrograms),
                                          testing::Values(Sink::kPipe, Sink::kFile)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) == Sink::kPipe ? "_Pipe" : "_File");
                         });

}  // namespace
}  // namespace outline_test
