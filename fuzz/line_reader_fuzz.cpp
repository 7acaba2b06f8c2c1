// SPDX-License-Identifier: MIT
// The line reader against a direct split at LF, CR and CR LF. Byte 0 of the
// fuzz input is the length of a padding line put in front, so that every byte
// of the rest meets every position of a 256-byte fill. Byte 1 picks the
// descriptor: even, a memory file opened by name, read in whole blocks; odd, a
// packet socket on standard input (empty name), whose reads end after 1 to 256
// bytes as byte 1 seeds.
#include <fcntl.h>
#include <unistd.h>

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
  try {
    outline_test::ReadLines read = outline_test::read_lines(name);
    fuzz::check(read.opened, "the input did not open");
    fuzz::check(read.promise_kept, "no line end after a line");
    return read.lines;
  } catch (const fuzz::RunEnded&) {
    fuzz::fail("a run-time error stopped the reading");
  }
}

std::vector<std::string> read_from_memory_file(std::string_view text) {
  static fuzz::MemoryFile file;
  file.assign(text);
  int next_fd = fuzz::lowest_free_fd();
  std::vector<std::string> lines = read_lines(file.path().c_str());
  fuzz::check(fuzz::lowest_free_fd() == next_fd, "the input was not closed");
  return lines;
}

// Each packet is one read of the reader, of 1 to 256 bytes as `seed` says;
// none is empty, which would read as end of file. Empty when the socket
// cannot hold all the packets.
std::optional<std::vector<std::string>> read_from_socket(std::string_view text, std::uint8_t seed) {
  std::vector<std::size_t> ends;
  std::uint32_t state = 0x9E3779B9u ^ seed;
  for (std::size_t end = 0; end < text.size(); ends.push_back(end += 1 + state % outline::kBlock)) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
  }
  int socket = outline_test::packet_socket(text, ends);
  if (socket < 0) return std::nullopt;
  static const int real_stdin = fcntl(0, F_DUPFD_CLOEXEC, 3);
  fuzz::check(dup2(socket, 0) == 0, "cannot put the socket on standard input");
  std::vector<std::string> lines = read_lines("");
  fuzz::check(fcntl(0, F_GETFD) == 0, "standard input was closed");
  fuzz::check(dup2(real_stdin, 0) == 0, "cannot restore standard input");
  ::close(socket);
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

  fuzz::check(*lines == outline_model::split_line_strings(text), "wrong lines from", text);
  return 0;
}
