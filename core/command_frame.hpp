// The command-line frame both programs run around their conversion.
#pragma once

#include <string_view>

#include "call_chain.hpp"
#include "error_stop.hpp"
#include "line_reader.hpp"
#include "output_stream.hpp"

namespace outline {

// Without an argument, writes `usage` and ends the run; if the input named by
// the first argument cannot be opened, writes the open-failure line and ends
// the run. Otherwise returns that argument with `input` open on it. Inlined, so
// that it marks main's frame and its checks count as main's.
[[gnu::always_inline]] inline const char* open_input(int argc, char** argv, std::string_view usage,
                                                     LineReader& input) {
  record_main_frame(__builtin_frame_address(0), __builtin_return_address(0));
  if (argc < 2) {
    out.write_line(usage);
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
