// SPDX-License-Identifier: MIT
// Code locations as a report shows them: addresses in the executable as it
// was linked (a position-independent one's less its load address), and the
// chain of return addresses up to main.
#pragma once

#include <cstddef>
#include <cstdint>

namespace outline {

// Measures where the executable was loaded. Runs once before main.
void measure_load_bias() noexcept;

// True when `address` lies in the executable's code.
bool is_own_code(std::uintptr_t address) noexcept;

// `address` as the executable's link-time address, cut to 32 bits.
std::uint32_t code_location(std::uintptr_t address) noexcept;

// Marks the frame of the main routine and its return into the start-up code,
// where every chain ends.
void record_main_frame(void* frame, void* return_address) noexcept;

// Stores at most `limit` return addresses into `chain`, innermost first:
// `innermost` unless 0, the return of a call that keeps no frame record, then
// those found by following frame pointers from `frame` up to main's frame.
// Reads nothing below `floor` or above main's frame. Returns how many it
// stored. Where frame records are not known, the chain is main's return alone.
std::size_t walk_call_chain(void* frame, void* floor, std::uintptr_t innermost,
                            std::uintptr_t* chain, std::size_t limit) noexcept;

}  // namespace outline
