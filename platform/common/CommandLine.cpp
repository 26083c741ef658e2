#include <string>
#include <string_view>
#include <vector>

#include "platform/Process.h"

namespace tolvan::platform {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> arguments;
  std::size_t i = 0;
  const std::size_t n = line.size();
  while (i < n && IsBlank(line[i])) {
    ++i;
  }
  if (i == n) {
    return arguments;
  }

  // The program: quotes only group, backslashes are path delimiters.
  std::string program;
  bool in_quotes = false;
  for (; i < n && (in_quotes || !IsBlank(line[i])); ++i) {
    if (line[i] == '"') {
      in_quotes = !in_quotes;
    } else {
      program += line[i];
    }
  }
  arguments.push_back(std::move(program));

  for (;;) {
    while (i < n && IsBlank(line[i])) {
      ++i;
    }
    if (i == n) {
      break;
    }
    std::string argument;
    in_quotes = false;
    while (i < n && (in_quotes || !IsBlank(line[i]))) {
      std::size_t backslashes = 0;
      while (i < n && line[i] == '\\') {
        ++backslashes;
        ++i;
      }
      if (i < n && line[i] == '"') {
        argument.append(backslashes / 2, '\\');
        if (backslashes % 2 == 1) {
          argument += '"';
          ++i;
        } else if (in_quotes && i + 1 < n && line[i + 1] == '"') {
          // "" inside quotes: a literal quote, still inside.
          argument += '"';
          i += 2;
        } else {
          in_quotes = !in_quotes;
          ++i;
        }
        continue;
      }
      argument.append(backslashes, '\\');
      if (i == n || (!in_quotes && IsBlank(line[i]))) {
        break;
      }
      argument += line[i++];
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

}  // namespace tolvan::platform
