// SPDX-License-Identifier: MIT
// What the line reader's tests and its fuzz target share: a memory file opened
// by name, packet sockets whose reads end where a test says, and the probe of
// what the reader promises of every line.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "block.hpp"
#include "io_check.hpp"
#include "line.hpp"
#include "line_reader.hpp"

namespace outline_test {

// A file in memory, opened by name through /proc/self/fd.
class MemoryFile {
 public:
  MemoryFile() : fd_(memfd_create("outline-test", MFD_CLOEXEC)) {
    if (fd_ < 0) throw std::runtime_error("memfd_create failed");
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemoryFile() { close(fd_); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  // Replaces the contents and rewinds the descriptor's offset.
  void assign(std::string_view bytes) const {
    bool ok = ftruncate(fd_, 0) == 0;
    for (std::size_t at = 0; ok && at < bytes.size();) {
      ssize_t n = pwrite(fd_, bytes.data() + at, bytes.size() - at, static_cast<off_t>(at));
      ok = n > 0;
      at += ok ? static_cast<std::size_t>(n) : 0;
    }
    if (!ok || lseek(fd_, 0, SEEK_SET) != 0) throw std::runtime_error("cannot fill a memory file");
  }
  std::string contents() const {
    struct stat st;
    std::string bytes(fstat(fd_, &st) == 0 ? static_cast<std::size_t>(st.st_size) : 0, '\0');
    for (std::size_t at = 0; at < bytes.size();) {
      ssize_t n = pread(fd_, bytes.data() + at, bytes.size() - at, static_cast<off_t>(at));
      if (n <= 0) throw std::runtime_error("cannot read a memory file");
      at += static_cast<std::size_t>(n);
    }
    return bytes;
  }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

 private:
  int fd_;
  std::string path_;
};

// The size of the read that starts at `at` of `total` bytes: it ends at the
// next of `ends` (ascending offsets) past `at`, or 256 bytes on at the latest.
inline std::size_t next_read_size(std::size_t at, std::size_t total,
                                  const std::vector<std::size_t>& ends) {
  auto end = std::upper_bound(ends.begin(), ends.end(), at);
  std::size_t size = std::min(total - at, outline::kBlock);
  return end == ends.end() ? size : std::min(size, *end - at);
}

// The reading end of a packet socket that holds `bytes`, one read of the
// reader per packet as next_read_size cuts them; -1 when they do not fit.
inline int packet_socket(std::string_view bytes, const std::vector<std::size_t>& ends) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return -1;
  int buffer = 1 << 20;
  setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  fcntl(pair[1], F_SETFL, O_NONBLOCK);
  bool fits = true;
  for (std::size_t at = 0, size = 0; fits && at < bytes.size(); at += size) {
    size = next_read_size(at, bytes.size(), ends);
    fits = write(pair[1], bytes.data() + at, size) == static_cast<ssize_t>(size);
  }
  close(pair[1]);
  if (!fits) close(pair[0]);
  return fits ? pair[0] : -1;
}

// True when a line from the reader keeps its promise: a line end right behind
// it, and kLineSlack bytes from its end that may be read (the sanitizer build
// sees a read past them).
inline bool keeps_slack_promise(std::string_view line) {
  const char* end = line.data() + line.size();  // NOLINT(bugprone-suspicious-stringview-data-usage)
  volatile char last = end[outline::kLineSlack - 1];
  static_cast<void>(last);
  return *end == '\n' || *end == '\r';
}

// Every line the reader hands out from the input `name` (standard input when
// empty), and whether it opened and every line kept the promise.
struct ReadLines {
  std::vector<std::string> lines;
  bool opened = false, promise_kept = true;
};
inline ReadLines read_lines(const char* name) {
  ReadLines read;
  outline::LineReader reader;
  reader.open(name);
  read.opened = outline::take_pending_error() == 0;
  for (std::string_view line; reader.next_line(line); read.lines.emplace_back(line))
    read.promise_kept = keeps_slack_promise(line) && read.promise_kept;
  reader.close();
  return read;
}

}  // namespace outline_test
