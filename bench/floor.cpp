// SPDX-License-Identifier: MIT
// The floor of a conversion: the same read(2) and write(2) calls, with the
// same sizes in the same order, and no other work.
//
//   floor --record < TRACE > SCHEDULE   turns an strace log of a program's
//                                       reads (fd 3) and writes (fd 1) into a schedule
//   floor SCHEDULE INPUT                opens INPUT and replays the schedule
//
// A schedule is one 16-bit word a call: the size asked for, with the top bit
// set for a write. It is mapped and faulted in before the first call, and the
// buffers are static, so that the replay does nothing but the calls.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

namespace {

constexpr std::uint16_t kWrite = 0x8000;

int record() {
  std::string line;
  unsigned long count = 0;
  while (std::getline(std::cin, line)) {
    bool is_read = line.rfind("read(3,", 0) == 0;
    bool is_write = line.rfind("write(1,", 0) == 0;
    if (!is_read && !is_write) continue;
    // "read(3, ""..., 256)   = 256": the size asked for ends the arguments.
    std::size_t close = line.rfind(')');
    std::size_t comma = line.rfind(", ", close);
    if (close == std::string::npos || comma == std::string::npos) return 1;
    unsigned long size = std::strtoul(line.c_str() + comma + 2, nullptr, 10);
    if (size >= kWrite) return 1;
    std::uint16_t word = static_cast<std::uint16_t>(size | (is_write ? kWrite : 0));
    std::fwrite(&word, sizeof word, 1, stdout);
    ++count;
  }
  return count == 0;
}

char buffer[1 << 15];

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--record") == 0) return record();
  if (argc != 3) {
    std::fputs("usage: floor --record < TRACE > SCHEDULE | floor SCHEDULE INPUT\n", stderr);
    return 2;
  }
  int schedule_fd = open(argv[1], O_RDONLY);
  struct stat status;
  if (schedule_fd < 0 || fstat(schedule_fd, &status) != 0) return 1;
  std::size_t count = static_cast<std::size_t>(status.st_size) / sizeof(std::uint16_t);
  void* mapped = count == 0 ? nullptr
                            : mmap(nullptr, static_cast<std::size_t>(status.st_size), PROT_READ,
                                   MAP_PRIVATE | MAP_POPULATE, schedule_fd, 0);
  if (mapped == MAP_FAILED) return 1;
  const auto* calls = static_cast<const std::uint16_t*>(mapped);
  std::memset(buffer, '\n', sizeof buffer);

  int input = open(argv[2], O_RDONLY);
  if (input < 0) return 1;
  for (std::size_t i = 0; i < count; ++i) {
    std::uint16_t call = calls[i];
    if (call & kWrite) {
      if (write(1, buffer, call & ~kWrite) < 0) return 1;
    } else if (read(input, buffer, call) < 0) {
      return 1;
    }
  }
  close(input);
  return 0;
}
