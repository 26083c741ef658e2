#include <string>

#include "Console.h"

namespace tolvan::cli {

std::optional<std::string> ReadLineWithoutEnd(std::istream& in) {
  std::string line;
  if (!std::getline(in, line)) {
    return std::nullopt;
  }
  if (!line.empty() && line.back() == '\r') {
    line.pop_back();
  }
  return line;
}

}  // namespace tolvan::cli
