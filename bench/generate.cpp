// SPDX-License-Identifier: MIT
// Writes a well-formed tab outline shaped like a file tree: a seeded walk of
// depths (down one level into a folder, on among siblings, back up a few) and
// names of 1 to 40 bytes; at 4 MiB, 26.2 bytes a line at depth 6.4 on average,
// close to the /usr tree of bench/run (bench/README.md gives its figures). With
// MIN and MAX instead: items of MIN to MAX
// text bytes, all at DEPTH (default 0) after one item at each depth above it.
// The same bytes on every machine for the same arguments.
//
// Usage: generate SEED BYTES [MIN MAX [DEPTH]] > outline
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// xorshift64*: fixed arithmetic, unlike the standard distributions.
struct Random {
  std::uint64_t state;
  std::uint64_t next() {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 0x2545F4914F6CDD1DULL;
  }
  unsigned below(unsigned n) { return static_cast<unsigned>((next() >> 33) % n); }
};

const char kName[] = "abcdefghijklmnopqrstuvwxyz0123456789_-.ABCDEFGHIJKLMNOPQRSTUVWXYZ";

// Items of `min` to `max` text bytes at `depth`, reached one depth at a time.
int fixed_shape(Random& random, std::uint64_t size, unsigned min, unsigned max, unsigned depth) {
  std::string text;
  for (unsigned above = 0; above < depth; ++above) text.append(above, '\t').append("a\n");
  std::string line;
  while (text.size() < size) {
    line.assign(depth, '\t');
    unsigned length = min + random.below(max - min + 1);
    for (unsigned i = 0; i < length; ++i) line += kName[random.below(sizeof kName - 1)];
    text += line += '\n';
  }
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) return 1;
  return std::fclose(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 5 && argc != 6) {
    std::fputs("usage: generate SEED BYTES [MIN MAX [DEPTH]]\n", stderr);
    return 2;
  }
  Random random{std::strtoull(argv[1], nullptr, 10) * 2654435761ULL + 1};
  const std::uint64_t size = std::strtoull(argv[2], nullptr, 10);
  if (argc > 3) {
    const unsigned min = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10));
    const unsigned max = static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10));
    const unsigned depth =
        argc == 6 ? static_cast<unsigned>(std::strtoul(argv[5], nullptr, 10)) : 0;
    return fixed_shape(random, size, min < max ? min : max, max, depth);
  }
  std::string text;
  unsigned depth = 0;
  std::uint64_t written = 0;
  while (written < size) {
    text.assign(depth, '\t');
    // Names: mostly 9 to 28 bytes, now and then 1 to 40.
    unsigned length = random.below(8) == 0 ? 1 + random.below(40) : 9 + random.below(20);
    for (unsigned i = 0; i < length; ++i) text += kName[random.below(sizeof kName - 1)];
    text += '\n';
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) return 1;
    written += text.size();
    // The next line: into a folder, beside this one, or back up a few levels;
    // into folders more often above depth 6, so that depths stay near it.
    unsigned step = random.below(32);
    if (step < (depth < 6 ? 16 : 11))
      ++depth;
    else if (step < 20 && depth > 0)
      depth -= 1 + random.below(depth < 3 ? depth : 3);
  }
  return std::fclose(stdout) == 0 ? 0 : 1;
}
