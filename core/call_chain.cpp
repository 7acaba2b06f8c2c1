// SPDX-License-Identifier: MIT
#include "call_chain.hpp"

#include <link.h>

#include "processor.hpp"

// The executable's code, from the linker, which names its start.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" const char __executable_start[];
extern "C" const char etext[];

namespace outline {

namespace {

std::uintptr_t load_bias = 0;
void** main_frame = nullptr;
std::uintptr_t main_return = 0;

// True when `fp` is a frame, no lower than `low`, whose chain of saved frame
// pointers climbs to main's frame through return addresses into our code.
bool reaches_main(void** fp, void** low) noexcept {
  for (;;) {
    if (fp < low || fp > main_frame || reinterpret_cast<std::uintptr_t>(fp) % alignof(void*) != 0)
      return false;
    if (fp == main_frame) return true;
    if (!is_own_code(reinterpret_cast<std::uintptr_t>(fp[kRecordReturn]))) return false;
    low = fp + kRecordWords;
    fp = static_cast<void**>(fp[kRecordCaller]);
  }
}

// The signature dl_iterate_phdr calls.
// cppcheck-suppress constParameterCallback
int take_first_object(dl_phdr_info* info, std::size_t /*size*/, void* bias) {
  *static_cast<std::uintptr_t*>(bias) = info->dlpi_addr;
  return 1;  // the first object is the executable
}

}  // namespace

bool is_own_code(std::uintptr_t address) noexcept {
  return address >= reinterpret_cast<std::uintptr_t>(__executable_start) &&
         address < reinterpret_cast<std::uintptr_t>(etext);
}

void measure_load_bias() noexcept {
  dl_iterate_phdr(take_first_object, &load_bias);
}

std::uint32_t code_location(std::uintptr_t address) noexcept {
  if (address == 0) return 0;  // not known on this processor
  return static_cast<std::uint32_t>(address - load_bias);
}

void record_main_frame(void* frame, void* return_address) noexcept {
  main_frame = static_cast<void**>(frame);
  main_return = reinterpret_cast<std::uintptr_t>(return_address);
}

std::size_t walk_call_chain(void* frame, void* floor, std::uintptr_t innermost,
                            std::uintptr_t* chain, std::size_t limit) noexcept {
  void** fp = static_cast<void**>(frame);
  auto* low = static_cast<void**>(floor);
  if (main_frame == nullptr || limit == 0) return 0;
  if (!kFrameRecords) {
    chain[0] = main_return;
    return 1;
  }
  if (!reaches_main(fp, low)) {
    // Interrupted in library code that keeps no frame pointer: take the
    // nearest saved frame pointer above the stack pointer that leads to main.
    fp = low;
    while (fp < main_frame && !reaches_main(fp, fp)) ++fp;
  }
  std::size_t count = 0;
  if (innermost != 0) chain[count++] = innermost;
  while (count < limit) {
    chain[count++] = reinterpret_cast<std::uintptr_t>(fp[kRecordReturn]);
    if (fp == main_frame) break;
    fp = static_cast<void**>(fp[kRecordCaller]);
  }
  return count;
}

}  // namespace outline
