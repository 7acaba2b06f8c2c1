// Fault signals sent from outside while a program waits on its input: each of
// the four is turned into a run-time error report and its error number as the
// exit status; any other signal ends the process by the signal, with no report.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "fault_support.hpp"

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

struct Ending {
  int status = -1;  // exit status, or -1 if ended by a signal
  int signal = 0;
  std::string out, err;
};

// Starts `program` on a FIFO, waits until it blocks there and sends `signal`.
Ending signal_while_waiting(const std::string& program, Wait wait, int signal) {
  TempDir dir;
  std::string fifo = dir.path("fifo");
  Ending ending;
  if (mkfifo(fifo.c_str(), 0600) != 0) {
    ADD_FAILURE() << "mkfifo: " << std::strerror(errno);
    return ending;
  }
  // Opened for reading and writing, the FIFO has a writer at once and its
  // reader's open does not wait.
  int writer = wait == Wait::kRead ? open(fifo.c_str(), O_RDWR | O_CLOEXEC) : -1;
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_RDONLY);
    int out = open(dir.path("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(dir.path("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(null, 0);
    dup2(out, 1);
    dup2(err, 2);
    execl(program.c_str(), program.c_str(), fifo.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  // A bounded wait, only so that a program that never blocks cannot hang the test.
  bool blocked = false, ended = false;
  int status = 0;
  for (int tries = 0; tries < 60000 && !blocked && !ended; ++tries) {
    blocked = waits_on(pid, wait, fifo);
    ended = !blocked && waitpid(pid, &status, WNOHANG) == pid;
    if (!blocked && !ended) usleep(1000);
  }
  EXPECT_TRUE(blocked) << program << " never waited on its input";
  if (!ended) {
    kill(pid, blocked ? signal : SIGKILL);
    waitpid(pid, &status, 0);
  }
  if (writer >= 0) close(writer);
  if (WIFEXITED(status)) ending.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) ending.signal = WTERMSIG(status);
  ending.out = read_file(dir.path("out"));
  ending.err = read_file(dir.path("err"));
  return ending;
}

struct Case {
  const char* program_name;
  std::string (*program)();
  Wait wait;
  const char* signal_name;
  int signal;
  int error;  // the error number reported; 0 for a signal that is not handled
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.program_name << " waiting in " << (c.wait == Wait::kOpen ? "open" : "read") << ", "
      << c.signal_name;
}

class FaultSignal : public testing::TestWithParam<Case> {};

TEST_P(FaultSignal, EndsTheRunAsItShould) {
  const Case& c = GetParam();
  Ending ending = signal_while_waiting(c.program(), c.wait, c.signal);
  if (c.error == 0) {
    EXPECT_EQ(ending.signal, c.signal) << "exit status " << ending.status;
    EXPECT_EQ(ending.err, "");
    return;
  }
  EXPECT_EQ(ending.status, c.error) << "signal " << ending.signal;
  // The error line, the location line, the call chain and an empty line.
  std::vector<std::string> report = lines(ending.err);
  ASSERT_GE(report.size(), 3u) << ending.err;
  ASSERT_TRUE(ending.err.ends_with("\n\n")) << ending.err;
  std::string first = "Runtime error " + std::to_string(c.error) + " at $";
  ASSERT_TRUE(report[0].starts_with(first)) << ending.err;
  std::string location = report[0].substr(first.size());
  EXPECT_TRUE(is_location(location)) << ending.err;
  EXPECT_EQ(report[1], "  $" + location);
  // At least the return from the main routine is an active call.
  EXPECT_GE(report.size() - 3, 1u) << "no call-chain line:\n" << ending.err;
  EXPECT_LE(report.size() - 3, 257u);
  for (std::size_t i = 2; i + 1 < report.size(); ++i)
    EXPECT_TRUE(report[i].starts_with("  $") && is_location(report[i].substr(3))) << report[i];
  EXPECT_EQ(report.back(), "");
  // Standard output holds at most what was already buffered: nothing, or the
  // header of tab2vrex.
  std::string header = "NOTE\nNOTE Created from ";
  EXPECT_TRUE(ending.out.empty() || (c.program == tab2vrex_path && ending.out.starts_with(header)))
      << ending.out;
}

std::vector<Case> cases() {
  struct Program {
    const char* name;
    std::string (*path)();
  };
  struct Signal {
    const char* name;
    int number, error;
  };
  std::vector<Case> all;
  for (Program program : {Program{"tab2vrex", tab2vrex_path}, Program{"vrex2tab", vrex2tab_path}})
    for (Wait wait : {Wait::kOpen, Wait::kRead})
      for (Signal signal : {Signal{"SIGSEGV", SIGSEGV, 216}, Signal{"SIGBUS", SIGBUS, 214},
                            Signal{"SIGILL", SIGILL, 216}, Signal{"SIGFPE", SIGFPE, 200},
                            Signal{"SIGTERM", SIGTERM, 0}})
        all.push_back({program.name, program.path, wait, signal.name, signal.number, signal.error});
  return all;
}

INSTANTIATE_TEST_SUITE_P(Signals, FaultSignal, testing::ValuesIn(cases()), [](const auto& info) {
  return std::string(info.param.program_name) +
         (info.param.wait == Wait::kOpen ? "_InOpen_" : "_InRead_") + info.param.signal_name;
});

}  // namespace
}  // namespace outline_test
