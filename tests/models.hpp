// SPDX-License-Identifier: MIT
// Plain models of line splitting, of tab2vrex's header and of vrex2tab, which
// the tests and the fuzz targets compare the programs with.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace outline_model {

// Lines end at LF, CR or CR LF; a last line needs no terminator.
inline std::vector<std::string_view> split_lines(std::string_view bytes) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.push_back(bytes.substr(start));
      break;
    }
    lines.push_back(bytes.substr(start, end - start));
    start = end + (bytes.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  return lines;
}

// The same, each line a string of its own.
inline std::vector<std::string> split_line_strings(std::string_view bytes) {
  std::vector<std::string_view> lines = split_lines(bytes);
  return {lines.begin(), lines.end()};
}

// Draws as every generator of random documents draws: the same on every
// machine for a seed. A number below `n`:
inline int pick(std::mt19937& random, std::size_t n) {
  return static_cast<int>(random() % n);
}
// `length` bytes from `alphabet`:
inline std::string random_text(std::mt19937& random, std::size_t length,
                               std::string_view alphabet) {
  std::string text(length, ' ');
  for (char& c : text) c = alphabet[random() % alphabet.size()];
  return text;
}
// A line end by `mode`: LF (0), CR (1), CR LF (2) or any of them (3); after
// the `last` line, one time in three none.
inline std::string line_end(std::mt19937& random, int mode, bool last) {
  if (last && pick(random, 3) == 0) return "";
  const int end = mode == 3 ? pick(random, 3) : mode;
  return end == 0 ? "\n" : end == 1 ? "\r" : "\r\n";
}

// The number of TABs that start `line`.
inline std::size_t leading_tabs(std::string_view line) {
  return std::min(line.find_first_not_of('\t'), line.size());
}

// The four header lines tab2vrex writes for an input named `name`, whose LF
// and CR bytes it writes as '?'.
inline std::string tab2vrex_header(std::string_view name) {
  std::string shown(name);
  for (char& c : shown)
    if (c == '\n' || c == '\r') c = '?';
  return "NOTE\nNOTE Created from " + shown + " by tab2vrex\nNOTE\nNODE\n";
}

// A root and `depth` NODE records, each inside the one before, with the texts
// `text` gives.
inline std::string nested_nodes(std::size_t depth, const std::function<std::string()>& text) {
  std::string document = "NODE\n";
  for (std::size_t i = 0; i < depth; ++i) document += "NODE " + text() + "\n";
  return document;
}

// An outline item: its depth and its text.
struct Item {
  std::size_t depth;
  std::string text;
};

// The DONE records tab2vrex writes before an item at `depth` that follows one
// at `previous` (-1 before the first).
inline std::size_t dones_before(std::int64_t previous, std::size_t depth) {
  auto count = previous - static_cast<std::int64_t>(depth) + 1;
  return count > 0 ? static_cast<std::size_t>(count) : 0;
}

// These items as a tab outline, an LF after each.
inline std::string tab_outline(const std::vector<Item>& items) {
  std::string text;
  for (const Item& item : items) text += std::string(item.depth, '\t') + item.text + "\n";
  return text;
}

// tab2vrex's records for these items after the header, up to the last DONE.
inline std::string tab2vrex_records(const std::vector<Item>& items) {
  std::string vrex;
  std::int64_t previous = -1;
  for (const Item& item : items) {
    for (std::size_t done = dones_before(previous, item.depth); done > 0; --done) vrex += "DONE\n";
    vrex += "NODE " + item.text + "\n";
    previous = static_cast<std::int64_t>(item.depth);
  }
  return vrex + "DONE\n";
}

// tab2vrex's whole output for these lines of an input named `name`.
template <class Lines>
std::string tab2vrex_document(std::string_view name, const Lines& lines) {
  std::vector<Item> items;
  for (std::string_view line : lines) {
    if (line.empty()) continue;
    std::size_t tabs = leading_tabs(line);
    items.push_back({tabs, std::string(line.substr(tabs))});
  }
  return tab2vrex_header(name) + tab2vrex_records(items) + "STOP\n";
}

// vrex2tab as a recursive node walker over the whole document in memory: the
// main routine reads the top level, and each open node is one call of the
// walker, all of them sharing the nesting depth.
class RecursiveWalker {
 public:
  explicit RecursiveWalker(std::string_view document) : lines_(split_lines(document)) {}

  std::string convert() {
    while (next_ < lines_.size()) {
      std::string_view line = lines_[next_++];
      if (line.size() < 4) continue;
      if (line.starts_with("STOP")) break;
      if (line.starts_with("NODE")) walk();  // a root: its text is not written
    }
    return tab_outline_;
  }

 private:
  void walk() {
    while (next_ < lines_.size()) {
      std::string_view line = lines_[next_++];
      if (line.size() < 4) continue;
      if (line.starts_with("DONE")) return;
      if (line.starts_with("NODE")) {
        tab_outline_.append(depth_, '\t');
        if (line.size() > 5) tab_outline_.append(line.substr(5));
        tab_outline_.push_back('\n');
        ++depth_;
        walk();
        --depth_;
      }
    }
  }

  std::vector<std::string_view> lines_;
  std::size_t next_ = 0;
  std::size_t depth_ = 0;
  std::string tab_outline_;
};

}  // namespace outline_model
