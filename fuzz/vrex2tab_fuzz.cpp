// vrex2tab on any bytes against a recursive node walker: the main routine
// reads the top level, and each NODE below it opens one call of the walker.
// Inputs with more than 1000 NODE records only run, to keep the walker's
// recursion small.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "harness.hpp"

int vrex2tab_main(int argc, char** argv);

namespace {

constexpr std::size_t kNodeLimit = 1000;

class Walker {
 public:
  explicit Walker(std::string_view document) : lines_(fuzz::split_lines(document)) {}

  std::string convert() {
    while (next_ < lines_.size()) {
      std::string_view line = lines_[next_++];
      if (line.size() < 4) continue;
      if (line.starts_with("STOP")) break;
      if (line.starts_with("NODE")) walk();  // a root: its text is not written
    }
    return tab_outline_;
  }

  std::size_t nodes() const {
    std::size_t count = 0;
    for (std::string_view line : lines_) count += line.starts_with("NODE");
    return count;
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  fuzz::Run run = fuzz::run_main(vrex2tab_main, "vrex2tab", input);
  fuzz::check(run.status == 0, "vrex2tab stopped with a run-time error");

  Walker walker(input);
  if (walker.nodes() > kNodeLimit) return 0;
  fuzz::check(run.output == walker.convert(), "vrex2tab output differs", run.output);
  return 0;
}
