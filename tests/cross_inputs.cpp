// SPDX-License-Identifier: MIT
// Writes generated inputs for the cross-architecture check: tab outlines and
// vrex outline files with every line end (LF, CR, CR LF, LF CR, none at the
// end), NUL, 0xFF and other raw bytes, lines around the 255-byte chunk and
// 256-byte buffer sizes, long lines, and deep nesting.
// Usage: cross_inputs <directory> <count> [seed]
#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "models.hpp"

namespace {

using namespace std::string_literals;

std::mt19937 random_bits;

using outline_model::pick;

std::string text(std::size_t length) {
  static const std::string alphabet = "abcXYZ019 \t\0\x1a\xff\x80\x7f.-"s;
  return outline_model::random_text(random_bits, length, alphabet);
}

std::size_t text_length() {
  static const std::size_t boundaries[] = {0, 1, 3, 4, 5, 254, 255, 256, 257, 510, 511, 4096};
  std::size_t roll = pick(random_bits, 40);
  if (roll == 0) return 100000 + pick(random_bits, 1000);
  if (roll < 6) return boundaries[pick(random_bits, std::size(boundaries))];
  return pick(random_bits, 30);
}

std::string line_end(bool last) {
  switch (pick(random_bits, last ? 6 : 5)) {
    case 0:
    case 1:
      return "\n";
    case 2:
      return "\r";
    case 3:
      return "\r\n";
    case 4:
      return "\n\r";  // two terminators: an empty line between
    default:
      return "";  // a last line without terminator
  }
}

std::string tab_outline(std::size_t lines, std::size_t max_depth) {
  std::string file;
  std::size_t depth = 0;
  for (std::size_t i = 0; i < lines; ++i) {
    switch (pick(random_bits, 4)) {
      case 0:
        depth = pick(random_bits, depth + 1);
        break;  // back out
      case 1:
        depth = std::min(max_depth, depth + 1);
        break;  // one deeper
      case 2:
        depth = std::min(max_depth, depth + pick(random_bits, 6));
        break;  // a jump
      default:
        break;
    }
    file += std::string(depth, '\t') + text(text_length()) + line_end(i + 1 == lines);
  }
  return file;
}

std::string vrex_file(std::size_t records) {
  static const char* keywords[] = {"NODE ", "NODE ", "NODE ", "DONE", "DONE ", "NOTE ",
                                   "STOP",  "NODEx", "node ", "DON",  ""};
  std::string file = pick(random_bits, 4) == 0 ? "" : "NOTE\nNODE\n";
  for (std::size_t i = 0; i < records; ++i)
    file += keywords[pick(random_bits, std::size(keywords))] + text(text_length()) +
            line_end(i + 1 == records);
  return file;
}

// A vrex outline file nested `depth` deep, closed again or left open.
std::string deep_vrex(std::size_t depth) {
  std::string file =
      "NOTE\n" + outline_model::nested_nodes(depth, [] { return text(pick(random_bits, 5)); });
  if (pick(random_bits, 2) == 0)
    for (std::size_t i = 0; i < depth; ++i) file += "DONE\r\n";
  return file + "STOP\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: cross_inputs <directory> <count> [seed]\n");
    return 2;
  }
  std::string directory = argv[1];
  int count = std::stoi(argv[2]);
  random_bits.seed(argc > 3 ? std::stoul(argv[3]) : 8u);
  for (int i = 0; i < count; ++i) {
    std::string input;
    switch (i % 8) {
      case 0:
        input = deep_vrex(1 + pick(random_bits, 2000));
        break;
      case 1:
        input = tab_outline(1 + pick(random_bits, 40), 1 + pick(random_bits, 3000));
        break;
      case 2:
      case 3:
      case 4:
        input = tab_outline(pick(random_bits, 60), 8);
        break;
      default:
        input = vrex_file(pick(random_bits, 60));
        break;
    }
    char name[32];
    std::snprintf(name, sizeof name, "/input-%03d", i);
    std::ofstream(directory + name, std::ios::binary) << input;
  }
  return 0;
}
