// Runs a program as a child process and collects what it wrote and how it ended.
#pragma once

#include <string>
#include <vector>

namespace outline_test {

struct Run {
  std::vector<std::string> argv;  // program and arguments; argv[0] is searched in PATH
  std::string input;              // written to standard input, which is then closed
  std::string stdout_path;        // if set, standard output goes to this file instead
  bool ignore_sigpipe = false;    // start the child with SIGPIPE ignored
};

struct Result {
  std::string out;
  std::string err;
  int status = -1;      // exit status, or -1 if ended by a signal
  int signal = 0;       // the signal that ended it, if any
  long max_rss_kb = 0;  // peak resident size of the child, in KiB
};

Result run(const Run& run);
Result run(std::vector<std::string> argv, std::string input = {});

// Paths of the programs under test, from the build.
std::string tab2vrex_path();
std::string vrex2tab_path();

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

// The lines of `text` split at LF (a last line without LF included).
std::vector<std::string> lines(const std::string& text);

}  // namespace outline_test
