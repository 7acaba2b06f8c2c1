// SPDX-License-Identifier: MIT
#include "process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "reading.hpp"

namespace outline_test {

namespace {

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

}  // namespace

pid_t start(const Start& request) {
  pid_t pid = fork();
  check(pid >= 0, "fork");
  if (pid != 0) return pid;
  int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  // Copied above 2 first, so that no dup2 below overwrites a source still needed.
  int fds[3];
  for (int i = 0; i < 3; ++i)
    fds[i] = fcntl(request.fds[i] >= 0 ? request.fds[i] : null, F_DUPFD_CLOEXEC, 3);
  for (int i = 0; i < 3; ++i) dup2(fds[i], i);
  for (int i = 0; i < 3; ++i)
    if (request.fds[i] == kClosed) close(i);
  const rlimit file_limit = {CHILD_FILE_LIMIT, CHILD_FILE_LIMIT};
  setrlimit(RLIMIT_FSIZE, &file_limit);
  signal(SIGPIPE, request.ignore_sigpipe ? SIG_IGN : SIG_DFL);
  if (request.mask != nullptr) sigprocmask(SIG_SETMASK, request.mask, nullptr);
  std::vector<char*> argv;
  for (const auto& arg : request.argv) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  _exit(127);
}

Ending wait_for(pid_t pid, int limit_ms) {
  bool killed = false;
  for (int waited = 0; limit_ms >= 0; ++waited) {
    siginfo_t info = {};
    if (waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid) break;
    if (waited >= limit_ms) {
      kill(pid, SIGKILL);
      killed = true;
      break;
    }
    usleep(1000);
  }
  int status;
  rusage usage = {};
  while (wait4(pid, &status, 0, &usage) < 0) check(errno == EINTR, "wait4");
  Ending ending;
  ending.killed = killed;
  ending.max_rss_kb = usage.ru_maxrss;
  if (WIFEXITED(status)) ending.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) ending.signal = WTERMSIG(status);
  return ending;
}

namespace {

// A file opened for writing, or -1 for none; an open failure stops the test.
int open_output(const std::string& path) {
  if (path.empty()) return -1;
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  check(fd >= 0, path.c_str());
  return fd;
}

}  // namespace

Result run(const Request& request) {
  int in[2], out[2], err[2];
  // A packet pipe gives each write to one read, whole when it is no larger.
  const int in_flags = request.read_ends.empty() ? O_CLOEXEC : O_CLOEXEC | O_DIRECT;
  check(pipe2(in, in_flags) == 0 && pipe2(out, O_CLOEXEC) == 0 && pipe2(err, O_CLOEXEC) == 0,
        "pipe");
  int out_file = open_output(request.stdout_path), err_file = open_output(request.stderr_path);
  Start child;
  child.argv = request.argv;
  child.fds[0] = in[0];
  child.fds[1] = out_file >= 0 ? out_file : out[1];
  child.fds[2] = err_file >= 0 ? err_file : err[1];
  child.ignore_sigpipe = request.ignore_sigpipe;
  pid_t pid = start(child);
  if (out_file >= 0) close(out_file);
  if (err_file >= 0) close(err_file);
  close(in[0]);
  close(out[1]);
  close(err[1]);

  // Feed standard input and drain both outputs together, so no pipe fills up.
  Result result;
  std::size_t written = 0;
  int to_child = in[1];
  if (request.input.empty()) close(to_child), to_child = -1;
  struct sigaction ignore = {}, saved;
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &saved);
  pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {to_child, POLLOUT, 0}};
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    fds[2].fd = to_child;
    if (poll(fds, 3, -1) < 0) {
      check(errno == EINTR, "poll");
      continue;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[65536];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(buffer, n);
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
      }
    }
    if (to_child >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      std::size_t size = request.read_ends.empty()
                             ? request.input.size() - written
                             : next_read_size(written, request.input.size(), request.read_ends);
      ssize_t n = write(to_child, request.input.data() + written, size);
      if (n > 0) written += n;
      if (n < 0 || written == request.input.size()) close(to_child), to_child = -1;
    }
  }
  if (to_child >= 0) close(to_child);
  sigaction(SIGPIPE, &saved, nullptr);
  static_cast<Ending&>(result) = wait_for(pid);
  return result;
}

Result run(std::vector<std::string> argv, std::string input) {
  Request request;
  request.argv = std::move(argv);
  request.input = std::move(input);
  return run(request);
}

PseudoTerminal::PseudoTerminal(bool raw) {
  ours_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (ours_ < 0 || grantpt(ours_) != 0 || unlockpt(ours_) != 0)
    throw std::runtime_error("no pseudo-terminal");
  theirs_ = open(ptsname(ours_), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios settings;
  if (theirs_ < 0 || tcgetattr(theirs_, &settings) != 0)
    throw std::runtime_error("no terminal settings");
  if (raw)
    cfmakeraw(&settings);
  else
    settings.c_lflag &= ~ECHO;
  tcsetattr(theirs_, TCSANOW, &settings);
}

PseudoTerminal::~PseudoTerminal() {
  close(ours_);
  close_theirs();
}

void PseudoTerminal::close_theirs() {
  if (theirs_ >= 0) close(theirs_);
  theirs_ = -1;
}

std::vector<std::string> traced(const std::string& log, const std::vector<std::string>& options,
                                const std::vector<std::string>& argv) {
  const char* asan = std::getenv("ASAN_OPTIONS");
  std::string sanitizer = std::string(asan ? asan : "") + (asan && *asan ? ":" : "");
  std::vector<std::string> command = {"strace", "-o", log, "-E",
                                      "ASAN_OPTIONS=" + sanitizer + "detect_leaks=0"};
  command.insert(command.end(), options.begin(), options.end());
  command.insert(command.end(), argv.begin(), argv.end());
  return command;
}

std::string tab2vrex_path() {
  return TAB2VREX_PATH;
}
std::string vrex2tab_path() {
  return VREX2TAB_PATH;
}

std::string source_path(const std::string& name) {
  return std::string(SOURCE_DIR) + "/" + name;
}

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  check(file.good(), "write_file");
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "outline-test-XXXXXX").string();
  check(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
  dir_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::vector<std::size_t> span(std::size_t first, std::size_t last) {
  std::vector<std::size_t> values;
  for (std::size_t value = first; value <= last; ++value) values.push_back(value);
  return values;
}

std::string read_to_end(int fd, const std::function<std::size_t()>& chunk) {
  std::string bytes;
  std::vector<char> buffer;
  for (pollfd ready{fd, POLLIN, 0}; poll(&ready, 1, 10'000) > 0;) {
    buffer.resize(chunk());
    ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n <= 0) break;
    bytes.append(buffer.data(), n);
  }
  return bytes;
}

std::vector<std::string> lines_at_lf(const std::string& text) {
  std::vector<std::string> result;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    result.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return result;
}

}  // namespace outline_test
