#include "tolvan/support/Quoting.h"

#include <stdexcept>

namespace tolvan::support {

std::string QuoteArgument(std::string_view argument, Quote when) {
  if (when == Quote::WhenNeeded && !argument.empty() &&
      argument.find_first_of(" \t\"") == std::string_view::npos) {
    return std::string(argument);
  }
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      quoted.append(2 * backslashes + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  quoted += '"';
  return quoted;
}

void RefuseDoubleQuote(std::string_view path, const std::string& message) {
  if (path.find('"') != std::string_view::npos) {
    throw std::runtime_error(message);
  }
}

}  // namespace tolvan::support
