// SPDX-License-Identifier: MIT
// The command-line frame both programs run around their conversion.
#pragma once

#include <string_view>

#include "call_chain.hpp"
#include "error_stop.hpp"
#include "line_reader.hpp"
#include "output_stream.hpp"

namespace outline {

// What a program says of itself on its command line.
struct ProgramText {
  std::string_view usage;    // the usage line
  std::string_view version;  // the first line of --version
  std::string_view purpose;  // what it does, for --help, on two lines
  std::string_view manual;   // where to read more, for --help
};

inline constexpr std::string_view kCopyright = "Copyright (c) 2026 The outline-converters authors";
inline constexpr std::string_view kLicence =
    "MIT licence: free to use, copy, change and share, without warranty.";
inline constexpr std::string_view kInputRule = "An empty argument (\"\") reads standard input.";

// Without an argument, writes the usage line and ends the run; with exactly
// --version or --help, writes those and ends the run; if the input named by
// the first argument cannot be opened, writes the open-failure line and ends
// the run. Otherwise returns that argument with `input` open on it. Inlined, so
// that it marks main's frame and its checks count as main's.
[[gnu::always_inline]] inline const char* open_input(int argc, char** argv, const ProgramText& text,
                                                     LineReader& input) {
  record_main_frame(__builtin_frame_address(0), __builtin_return_address(0));
  if (argc < 2) {
    out.write_line(text.usage);
    normal_end();
  }
  const std::string_view argument = argv[1];
  if (argument == "--version") {
    out.write_line(text.version);
    out.write_line(kCopyright);
    out.write_line(kLicence);
    normal_end();
  }
  if (argument == "--help") {
    out.write_line(text.usage);
    out.write_line(text.purpose);
    out.write_line(kInputRule);
    out.write_line(text.manual);
    normal_end();
  }
  const char* name = argv[1];
  input.open(name);
  if (take_pending_error() != 0) {
    out.write("Failed to open ");
    out.write(name);
    out.write_line(" for input");
    normal_end();
  }
  return name;
}

}  // namespace outline
