// libFuzzer target: the command-line splitter on any text, and the round trip of quoting: the
// arguments of one input, quoted by the toolkit's QuoteArgument and joined, split back into the
// same arguments.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Process.h"
#include "tolvan/support/Quoting.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> split = tolvan::platform::SplitCommandLine(input);

  // The round trip, with a fixed program (whose reading has no backslash rules) and the input's
  // NUL-separated pieces as arguments.
  std::vector<std::string> arguments{"C:\\Program Files\\Tool\\tool.exe"};
  std::size_t begin = 0;
  for (std::size_t i = 0; i <= input.size(); ++i) {
    if (i == input.size() || input[i] == '\0') {
      arguments.emplace_back(input.substr(begin, i - begin));
      begin = i + 1;
    }
  }
  std::string line = "\"" + arguments[0] + "\"";
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    line += ' ';
    line += tolvan::support::QuoteArgument(arguments[i]);
  }
  if (tolvan::platform::SplitCommandLine(line) != arguments) {
    std::abort();
  }
  return 0;
}
