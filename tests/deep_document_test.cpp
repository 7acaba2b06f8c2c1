// SPDX-License-Identifier: MIT
// vrex2tab on a document nested 20 000 deep: it converts on a small stack and
// its memory does not grow with the depth.
#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "models.hpp"
#include "process.hpp"
#include "sanitizer.hpp"

namespace outline_test {
namespace {

// Each item's text: long enough that keeping one line per open node would show
// plainly in the peak resident size.
const std::string kText(500, 'x');

// A root, then `depth` NODE records each inside the one before, then as many
// DONE records, which close them all but the root, and one more item.
void write_nested_document(const std::string& path, int depth) {
  std::string document = outline_model::nested_nodes(depth, [] { return kText; });
  for (int i = 0; i < depth; ++i) document += "DONE\n";
  write_file(path, document + "NODE y\n");
}

// Converts with the stack limited to 256 KiB, standard output to `out`.
Result convert_on_small_stack(const std::string& in, const std::string& out) {
  Request command;
  command.argv = {"sh", "-c", "ulimit -s 256; exec \"$0\" \"$1\"", vrex2tab_path(), in};
  command.stdout_path = out;
  return run(command);
}

// Checks the output file piece by piece against the expected lines: line k has
// k TABs and the text, then the closing y at depth 0.
::testing::AssertionResult holds_nested_lines(const std::string& path, long long depth) {
  std::ifstream file(path, std::ios::binary);
  std::vector<char> chunk(1 << 20);
  const long long text_length = static_cast<long long>(kText.size());
  long long line = 0, column = 0, offset = 0;
  bool at_end = false;
  while (file) {
    file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    for (std::streamsize i = 0; i < file.gcount(); ++i, ++offset) {
      if (at_end) return ::testing::AssertionFailure() << "bytes after the last line at " << offset;
      char expected;
      if (line == depth) {
        expected = "y\n"[column];
      } else {
        expected = column < line ? '\t' : column < line + text_length ? 'x' : '\n';
      }
      if (chunk[i] != expected) {
        return ::testing::AssertionFailure()
               << "byte " << offset << " (line " << line << ", column " << column << ") is "
               << static_cast<int>(static_cast<unsigned char>(chunk[i])) << ", expected "
               << static_cast<int>(expected);
      }
      ++column;
      if (expected == '\n') {
        at_end = line == depth;
        ++line, column = 0;
      }
    }
  }
  if (!at_end) return ::testing::AssertionFailure() << "output ends in line " << line;
  return ::testing::AssertionSuccess();
}

TEST(DeepDocument, ConvertsOnSmallStackInBoundedMemory) {
  constexpr int kShallow = 10, kDeep = 20'000;
  TempDir dir;
  write_nested_document(dir.path("shallow.vrex"), kShallow);
  write_nested_document(dir.path("deep.vrex"), kDeep);
  // Both runs after both documents, from the same state of this process: a
  // child's peak resident size includes what it inherited from the fork.
  Result shallow = convert_on_small_stack(dir.path("shallow.vrex"), dir.path("shallow"));
  Result deep = convert_on_small_stack(dir.path("deep.vrex"), dir.path("deep"));

  ASSERT_EQ(shallow.status, 0) << shallow.err << " signal " << shallow.signal;
  ASSERT_EQ(deep.status, 0) << deep.err << " signal " << deep.signal;
  EXPECT_EQ(deep.err, "");
  // The peak includes the shell and the memory inherited from this process,
  // the same in both runs. The sanitizer runtime's shadow memory makes its figure coarser.
  constexpr long kMarginKb = (outline::kSanitized ? 4 : 2) * 1024;
  EXPECT_LE(deep.max_rss_kb, shallow.max_rss_kb + kMarginKb)
      << "depth " << kShallow << ": " << shallow.max_rss_kb << " KiB";

  EXPECT_TRUE(holds_nested_lines(dir.path("shallow"), kShallow));
  EXPECT_TRUE(holds_nested_lines(dir.path("deep"), kDeep));
}

}  // namespace
}  // namespace outline_test
