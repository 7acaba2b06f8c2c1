// SPDX-License-Identifier: MIT
// Runs a program as a child process and collects what it wrote and how it ended.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace outline_test {

// What to run, and how: a request to run().
struct Request {
  std::vector<std::string> argv;  // program and arguments; argv[0] is searched in PATH
  std::string input;              // written to standard input, which is then closed
  std::string stdout_path;        // if set, standard output goes to this file instead
  std::string stderr_path;        // if set, the error stream goes to this file instead
  bool ignore_sigpipe = false;    // start the child with SIGPIPE ignored
  // If set, standard input is a packet pipe and every read of the child ends
  // at the next of these offsets into `input`, or 256 bytes on at the latest.
  std::vector<std::size_t> read_ends;
};

// How a child ended.
struct Ending {
  int status = -1;      // exit status, or -1 if ended by a signal
  int signal = 0;       // the signal that ended it, if any
  long max_rss_kb = 0;  // peak resident size of the child, in KiB
  bool killed = false;  // still running at the time limit, and killed then
};

struct Result : Ending {
  std::string out;
  std::string err;
};

Result run(const Request& request);
Result run(std::vector<std::string> argv, std::string input = {});

// A descriptor the child starts without.
inline constexpr int kClosed = -2;

// A child started on descriptors of the caller's choice.
struct Start {
  std::vector<std::string> argv;   // argv[0] is searched in PATH
  int fds[3] = {-1, -1, -1};       // its descriptors 0, 1 and 2; -1 for /dev/null, kClosed
  bool ignore_sigpipe = false;     // SIGPIPE ignored, else at its default
  const sigset_t* mask = nullptr;  // the signal mask it starts with, else the caller's
};

// Starts the child; the caller's descriptors stay open in the caller.
pid_t start(const Start& start);
// Waits until `pid` has ended; one still running after `limit_ms` is killed.
Ending wait_for(pid_t pid, int limit_ms = -1);

// A pseudo-terminal: ours() is the screen and keyboard, theirs() the terminal
// a child is given. Raw, it passes every byte through unchanged; else it
// gives a line a read, without echo. Throws std::runtime_error without one.
class PseudoTerminal {
 public:
  explicit PseudoTerminal(bool raw);
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;
  int ours() const { return ours_; }
  int theirs() const { return theirs_; }
  // Closes this process's copy of theirs(): reading ours() ends (EIO) once
  // every child holding it has gone.
  void close_theirs();

 private:
  int ours_ = -1, theirs_ = -1;
};

// strace in front of `argv`, its log to `log`, with `options` (-e, -P and
// the like). LeakSanitizer cannot run under ptrace: it is turned off for the
// traced program, whose other sanitizer options are kept.
std::vector<std::string> traced(const std::string& log, const std::vector<std::string>& options,
                                const std::vector<std::string>& argv);

// Paths of the programs under test, from the build.
std::string tab2vrex_path();
std::string vrex2tab_path();

// A file of the source tree, by its path from the top.
std::string source_path(const std::string& name);

// Reads or writes a whole file.
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);

// A fresh empty directory, removed with its contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

// The numbers `first` to `last`, both included: sizes and offsets for tables.
std::vector<std::size_t> span(std::size_t first, std::size_t last);

// What `fd` gives until its end (for a terminal, the end of its last holder)
// or until nothing comes for 10 s; `chunk` gives the size of each read.
inline const std::function<std::size_t()> kWholeChunks = [] { return std::size_t{4096}; };
std::string read_to_end(int fd, const std::function<std::size_t()>& chunk = kWholeChunks);

// The lines of `text` split at LF (a last line without LF included).
std::vector<std::string> lines_at_lf(const std::string& text);

}  // namespace outline_test
