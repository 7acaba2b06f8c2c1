// SPDX-License-Identifier: MIT
// The line reader on its own: every line it hands out, empty ones included,
// which neither program's output shows (tab2vrex skips empty lines).
#include "line_reader.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "programs.hpp"
#include "reading.hpp"

namespace outline_test {
namespace {

struct Case {
  const char* name;
  std::string input;
  std::vector<std::string> lines;
};

class Lines : public testing::TestWithParam<Case> {};

TEST_P(Lines, AsTheModelSplitsThem) {
  const Case& c = GetParam();
  TempDir dir;
  write_file(dir.path("in"), c.input);
  const ReadLines read = read_lines(dir.path("in").c_str());
  ASSERT_TRUE(read.opened);
  EXPECT_EQ(read.lines, c.lines);
  EXPECT_EQ(outline_model::split_line_strings(c.input), c.lines);
}

const std::string k255(255, 'x');
const std::string k300(300, 'y');
const std::string k511(511, 'z');

INSTANTIATE_TEST_SUITE_P(
    Terminators, Lines,
    testing::Values(Case{"LfThenCr", "a\n\rb", {"a", "", "b"}},
                    Case{"CrThenCr", "a\r\rb\n", {"a", "", "b"}},
                    Case{"LfThenLf", "a\n\nb", {"a", "", "b"}},
                    Case{"OnlyTerminators", "\n\r\n\r", {"", "", ""}},
                    Case{"LfThenCrAcrossFill", k255 + "\n\rb", {k255, "", "b"}},
                    Case{"LongLineThenLfCr", k300 + "\n\r" + k300, {k300, "", k300}},
                    Case{"LongLineThenCrLfCr", k300 + "\r\n\r", {k300, ""}},
                    // An LF after a line that ends in VT is another line end.
                    Case{"VtThenLfThenLf", "a\x0b\n\nb", {"a\x0b", "", "b"}},
                    // A CR ends one read and its LF starts the next.
                    Case{"CrLfAcrossReadsAfter255", k255 + "\r\nb", {k255, "b"}},
                    Case{"CrLfAcrossReadsAfter511", k511 + "\r\nb", {k511, "b"}}),
    row_name);

// What the reader promises of each line: kLineSlack bytes from its end may be
// read, an LF or CR first. Every line of 240 to 530 and 4,090 to 4,100 bytes
// (and short ones), with each line end, starts at each offset of a 256-byte
// read in a fresh reader: from a file, and from a packet socket whose reads
// end right after the line's end; and long ones also where they move to the
// front of the buffer or make it grow. The sanitizer build sees a read too far.

// Reads of a packet socket end after the line, between its CR and LF, or
// where the line starts, so that every later read ends at another offset.
enum class Delivery { kFile, kPackets, kPacketsCrThenLf, kPacketsFromStart };

struct PromiseCase {
  std::string name;
  std::vector<std::size_t> sizes;
  std::string terminator;  // empty: the line ends the input
  Delivery delivery;
  std::size_t base = 0;  // the line starts at base + 0 to 255
};

// Standard input on a packet socket holding `bytes`, one read per packet, each
// ending at the next of `ends` or 256 bytes on; restored when the object goes.
class PacketInput {
 public:
  PacketInput(const std::string& bytes, const std::vector<std::size_t>& ends)
      : saved_(fcntl(0, F_DUPFD_CLOEXEC, 3)) {
    int socket = packet_socket(bytes, ends);
    EXPECT_GE(socket, 0);
    dup2(socket, 0);
    close(socket);
  }
  ~PacketInput() {
    dup2(saved_, 0);
    close(saved_);
  }
  PacketInput(const PacketInput&) = delete;
  PacketInput& operator=(const PacketInput&) = delete;

 private:
  int saved_;
};

class Promise : public testing::TestWithParam<PromiseCase> {};

TEST_P(Promise, SlackBehindEveryLine) {
  const PromiseCase& c = GetParam();
  MemoryFile file;
  for (std::size_t size : c.sizes) {
    for (std::size_t start = c.base; start < c.base + outline::kBlock; ++start) {
      // A filler line brings the line to `start`; a short line follows it.
      std::string input = start == 0 ? "" : std::string(start - 1, 'x') + "\n";
      input += std::string(size, '\t');
      std::vector<std::size_t> ends = {input.size() + c.terminator.size()};
      if (c.delivery == Delivery::kPacketsCrThenLf) ends = {input.size() + 1};
      if (c.delivery == Delivery::kPacketsFromStart) ends = {start};
      input += c.terminator;
      if (!c.terminator.empty()) input += "q\n";
      ReadLines read;
      if (c.delivery == Delivery::kFile) {
        file.assign(input);
        read = read_lines(file.path().c_str());
      } else {
        PacketInput packets(input, ends);
        read = read_lines("");
      }
      ASSERT_TRUE(read.opened && read.promise_kept) << size << " bytes at offset " << start;
      ASSERT_EQ(read.lines, outline_model::split_line_strings(input))
          << size << " bytes at offset " << start;
    }
  }
}

std::vector<PromiseCase> promise_cases() {
  const std::pair<const char*, std::vector<std::size_t>> groups[] = {
      {"Short", span(0, 40)}, {"Of240To530", span(240, 530)}, {"Of4090To4100", span(4090, 4100)}};
  const std::pair<const char*, std::string> terminators[] = {
      {"Lf", "\n"}, {"Cr", "\r"}, {"CrLf", "\r\n"}, {"AtEnd", ""}};
  std::vector<PromiseCase> cases;
  for (const auto& [group, sizes] : groups) {
    for (const auto& [name, terminator] : terminators) {
      cases.push_back({std::string(group) + "InFile" + name, sizes, terminator, Delivery::kFile});
      cases.push_back(
          {std::string(group) + "InPackets" + name, sizes, terminator, Delivery::kPackets});
    }
    cases.push_back(
        {std::string(group) + "InPacketsCrThenLf", sizes, "\r\n", Delivery::kPacketsCrThenLf});
  }
  // From 128 bytes before the middle and from the last block of the first
  // buffer, and after a filler line that made it grow, where a line's start
  // moves.
  constexpr std::size_t kFirst = outline::LineReader::kFirstCapacity;
  std::vector<std::size_t> near_blocks = span(250, 262);
  for (std::size_t size : span(506, 518)) near_blocks.push_back(size);
  const std::pair<const char*, std::vector<std::size_t>> long_groups[] = {
      {"Near256And512", near_blocks}, groups[2]};
  for (const auto& [group, sizes] : long_groups)
    for (const auto& [where, base] : {std::pair{"PastMiddle", kFirst / 2 - 128},
                                      {"NearEnd", kFirst - outline::kBlock},
                                      {"AfterLongLine", kFirst + kFirst / 2 - 128}})
      for (const auto& [name, terminator] : {terminators[0], terminators[2], terminators[3]})
        for (const auto& [how, delivery] : {std::pair{"InFile", Delivery::kFile},
                                            {"InPackets", Delivery::kPackets},
                                            {"InPacketsFromStart", Delivery::kPacketsFromStart}})
          cases.push_back(
              {std::string(group) + where + how + name, sizes, terminator, delivery, base});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(ReadEdges, Promise, testing::ValuesIn(promise_cases()), row_name);

}  // namespace
}  // namespace outline_test
