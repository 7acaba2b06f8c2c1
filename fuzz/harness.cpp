// SPDX-License-Identifier: MIT
#include "harness.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <random>

#include "fault_signals.hpp"
#include "io_check.hpp"
#include "output_stream.hpp"
#include "process_end.hpp"

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t max_size);

namespace outline {

void end_process(int status) {
  throw fuzz::RunEnded{status};
}

}  // namespace outline

namespace fuzz {

namespace {

using outline::kFaultSignals;
struct sigaction sanitizer_actions[std::size(kFaultSignals)];
int real_stdout = -1;

// Runs before the C++ start-up of the core, which installs the programs' own
// fault handlers: keeps the sanitizer's handlers so that a fault is reported
// as a crash rather than turned into a run-time error stop.
[[gnu::constructor(101)]] void keep_sanitizer_handlers() {
  for (std::size_t i = 0; i < std::size(kFaultSignals); ++i)
    sigaction(kFaultSignals[i], nullptr, &sanitizer_actions[i]);
}

// What a failed check prints, on its way to abort: nothing is done if it fails.
void print(std::string_view text) {
  static_cast<void>(std::fwrite(text.data(), 1, text.size(), stderr));
}

void print_escaped(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string escaped;
  for (unsigned char c : bytes) {
    if (c == '\\')
      escaped += "\\\\";
    else if (c >= 32 && c < 127)
      escaped += static_cast<char>(c);
    else if (c == '\n')
      escaped += "\\n\n";
    else
      escaped += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
  }
  print(escaped + "\n");
}

}  // namespace

void fail(std::string_view what, std::string_view detail) {
  print("FUZZ CHECK FAILED: " + std::string(what) + "\n");
  if (!detail.empty()) print_escaped(detail);
  std::abort();
}

namespace {

MemoryFile& input_file() {
  static MemoryFile file;
  return file;
}

MemoryFile& output_file() {
  static MemoryFile file;
  return file;
}

}  // namespace

const std::string& input_path() {
  return input_file().path();
}

int lowest_free_fd() {
  int fd = fcntl(0, F_DUPFD, 0);
  check(fd >= 0, "no free descriptor");
  ::close(fd);
  return fd;
}

Run run_main(MainRoutine main_routine, const char* program, std::string_view input) {
  input_file().assign(input);
  output_file().assign({});
  int next_fd = lowest_free_fd();
  check(dup2(output_file().fd(), 1) == 1, "cannot redirect standard output");

  outline::pending_error = 0;
  std::destroy_at(&outline::out);
  std::construct_at(&outline::out, 1, outline::buffering_of(1));
  std::destroy_at(&outline::err);
  std::construct_at(&outline::err, 2, outline::buffering_of(2));

  std::string name = program;
  std::string path = input_path();
  int status = -1;
  try {
    char* argv[] = {name.data(), path.data(), nullptr};
    main_routine(2, argv);
  } catch (const RunEnded& end) {
    status = end.status;
  }
  check(dup2(real_stdout, 1) == 1, "cannot restore standard output");
  check(status >= 0, "the main routine returned instead of ending the run");

  // The input stays open when a run-time error stops the run.
  bool left_open = fcntl(next_fd, F_GETFD) != -1;
  if (left_open) ::close(next_fd);
  check(status != 0 || !left_open, "the input is still open after a normal end");
  check(lowest_free_fd() == next_fd, "the run left a descriptor open");
  return {status, output_file().contents()};
}

}  // namespace fuzz

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // Descriptors 0 to 2 stay taken, so that an input never opens as one of them.
  for (int fd = 0; fd <= 2; ++fd)
    if (fcntl(fd, F_GETFD) == -1) fuzz::check(open("/dev/null", O_RDWR) == fd, "no /dev/null");
  for (std::size_t i = 0; i < std::size(outline::kFaultSignals); ++i)
    sigaction(outline::kFaultSignals[i], &fuzz::sanitizer_actions[i], nullptr);
  fuzz::real_stdout = fcntl(1, F_DUPFD_CLOEXEC, 3);
  fuzz::check(fuzz::real_stdout >= 0, "cannot keep standard output");
  return 0;
}

// Every target's mutation: half the time one of libFuzzer's own, else a run
// of one byte (mostly a TAB) whose length is within 8 of a whole number of
// 256-byte reads, put in at a random place. Lines that fill a read exactly are
// where the line stores meet their limits, and libFuzzer's mutations seldom
// make one.
extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t max_size, unsigned seed) {
  std::minstd_rand random(seed);
  if (random() % 2 == 0) return LLVMFuzzerMutate(data, size, max_size);
  // The length: often exactly whole reads, else up to 8 bytes off.
  std::size_t blocks = random() % 8 == 0 ? 16 : 1 + random() % 3;
  std::size_t length = blocks * outline::kBlock + (random() % 2 == 0 ? 0 : random() % 17 - 8);
  static constexpr std::string_view kEnds[] = {"", "\r", "\n", "\r\n"};
  std::string_view end = kEnds[random() % 4];
  if (size + length + end.size() > max_size) return LLVMFuzzerMutate(data, size, max_size);
  // The place: the start of a line, so that the run is a whole line, or any.
  std::size_t at = random() % (size + 1);
  if (random() % 4 != 0)
    while (at > 0 && data[at - 1] != '\n' && data[at - 1] != '\r') --at;
  static constexpr std::uint8_t kBytes[] = {'\t', '\t', '\t', 'x', ' '};
  std::memmove(data + at + length + end.size(), data + at, size - at);
  std::memset(data + at, kBytes[random() % sizeof kBytes], length);
  std::memcpy(data + at + length, end.data(), end.size());
  return size + length + end.size();
}
