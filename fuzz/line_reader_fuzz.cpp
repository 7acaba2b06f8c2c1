// SPDX-License-Identifier: MIT
// The line reader against a direct split at LF, CR and CR LF. Byte 0 of the
// fuzz input is the length of a padding line put in front, so that every byte
// of the rest meets every position of a 256-byte fill. Byte 1 picks the
// descriptor: even, a memory file opened by name, read in whole blocks; odd, a
// packet socket on standard input (empty name), whose reads end after 1 to 256
// bytes as byte 1 seeds.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "harness.hpp"
#include "io_check.hpp"
#include "line_reader.hpp"
#include "models.hpp"

namespace {

std::vector<std::string> read_lines(const char* name) {
  outline::pending_error = 0;
  std::vector<std::string> lines;
  try {
    outline::LineReader reader;
    reader.open(name);
    fuzz::check(outline::take_pending_error() == 0, "the input did not open");
    std::string_view line;
    while (reader.next_line(line)) {
      const char* end = line.data() + line.size();
      fuzz::check(*end == '\n' || *end == '\r', "no line end after the line");
      // The last byte the reader promises may be read: a sanitizer sees it.
      volatile char last = end[outline::kLineSlack - 1];
      static_cast<void>(last);
      lines.emplace_back(line);
    }
    reader.close();
  } catch (const fuzz::RunEnded&) {
    fuzz::fail("a run-time error stopped the reading");
  }
  return lines;
}

std::vector<std::string> read_from_memory_file(std::string_view text) {
  static fuzz::MemoryFile file;
  file.assign(text);
  int next_fd = fuzz::lowest_free_fd();
  std::vector<std::string> lines = read_lines(file.path().c_str());
  fuzz::check(fuzz::lowest_free_fd() == next_fd, "the input was not closed");
  return lines;
}

// Each packet is one read of the reader; none is empty, which would read as
// end of file. Empty when the socket cannot hold all the packets.
std::optional<std::vector<std::string>> read_from_socket(std::string_view text, std::uint8_t seed) {
  int ends[2];
  fuzz::check(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) == 0,
              "socketpair failed");
  fcntl(ends[1], F_SETFL, O_NONBLOCK);
  std::uint32_t state = 0x9E3779B9u ^ seed;
  bool fits = true;
  while (fits && !text.empty()) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    std::size_t size = std::min<std::size_t>(1 + state % 256, text.size());
    ssize_t n = ::write(ends[1], text.data(), size);
    if (n < 0) fuzz::check(errno == EAGAIN, "send on the socket failed");
    fits = n == static_cast<ssize_t>(size);
    text.remove_prefix(size);
  }
  ::close(ends[1]);
  std::optional<std::vector<std::string>> lines;
  if (fits) {
    static const int real_stdin = fcntl(0, F_DUPFD_CLOEXEC, 3);
    fuzz::check(dup2(ends[0], 0) == 0, "cannot put the socket on standard input");
    lines = read_lines("");
    fuzz::check(fcntl(0, F_GETFD) == 0, "standard input was closed");
    fuzz::check(dup2(real_stdin, 0) == 0, "cannot restore standard input");
  }
  ::close(ends[0]);
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  std::size_t padding = data[0];
  std::uint8_t split = data[1];
  std::string text;
  if (padding > 0) text.assign(padding - 1, 'x').push_back('\n');
  text.append(reinterpret_cast<const char*>(data) + 2, size - 2);

  std::optional<std::vector<std::string>> lines;
  if (split % 2 != 0) lines = read_from_socket(text, split);
  if (!lines) lines = read_from_memory_file(text);

  std::vector<std::string_view> expected = outline_model::split_lines(text);
  fuzz::check(lines->size() == expected.size(), "wrong number of lines from", text);
  for (std::size_t i = 0; i < expected.size(); ++i)
    fuzz::check((*lines)[i] == expected[i], "wrong line from", text);
  return 0;
}

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t max_size, unsigned seed) {
  return fuzz::mutate_with_block_runs(data, size, max_size, seed);
}
