// SPDX-License-Identifier: MIT
// The vrex outline file format: keywords, header pieces and field positions.
#pragma once

#include <cstddef>
#include <string_view>

namespace outline {

inline constexpr std::string_view kNote = "NOTE";
inline constexpr std::string_view kNode = "NODE";
inline constexpr std::string_view kDone = "DONE";
inline constexpr std::string_view kStop = "STOP";

// A written NODE record: keyword and separator, then the item's text.
inline constexpr std::string_view kNodePrefix = "NODE ";
// A DONE record with its line end.
inline constexpr std::string_view kDoneLine = "DONE\n";

inline constexpr std::string_view kCreatedFrom = "NOTE Created from ";
inline constexpr std::string_view kByTab2vrex = " by tab2vrex";

// Keyword in bytes 1 to 4, record text from byte 6; shorter lines are no records.
inline constexpr std::size_t kKeywordLength = 4;
inline constexpr std::size_t kTextOffset = 5;

// A tab outline's level of depth, as a piece of text and as a byte.
inline constexpr std::string_view kIndent = "\t";
inline constexpr char kTab = kIndent[0];

}  // namespace outline
