// libFuzzer target: the script splitter on any text. It may refuse a script with its message,
// and must otherwise give statements that stand in the script in order, on lines that never go
// back, and commands the runner knows.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "firebird/IBComponents.h"
#include "vesk/VeskPack5.h"

// The driver error's one out-of-line member, defined with the connection objects in the library,
// which this target does not build.
TVeskDriverError::~TVeskDriverError() = default;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view script(reinterpret_cast<const char*>(data), size);
  try {
    std::size_t from = 0;
    std::size_t line = 1;
    const std::size_t lines =
        1 + static_cast<std::size_t>(std::count(script.begin(), script.end(), '\n'));
    for (const auto& statement : vesk::firebird::SplitScript(script)) {
      const std::size_t at = script.find(statement.text, from);
      if (statement.text.empty() || statement.bare.empty() || at == std::string_view::npos ||
          statement.line < line || statement.line > lines) {
        std::abort();
      }
      from = at + statement.text.size();
      line = statement.line;
      vesk::firebird::ClassifyStatement(statement.bare);
    }
  } catch (const TVeskDriverError&) {
    // A script that ends inside a comment or a text, or a SET TERM without a terminator.
  }
  return 0;
}
