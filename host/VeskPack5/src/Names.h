// Small text helpers shared by the connection objects and the drivers.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vesk::detail {

inline char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

inline bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(x) == AsciiLower(y);
         });
}

inline std::string_view TrimBlanks(std::string_view text) {
  auto is_blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && is_blank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && is_blank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

// A parameter line "name=value": the name (blanks around it ignored) and the value as written.
// A line without "=" is a name with an empty value.
inline std::pair<std::string_view, std::string_view> SplitParam(std::string_view line) {
  auto eq = line.find('=');
  if (eq == std::string_view::npos) {
    return {TrimBlanks(line), {}};
  }
  return {TrimBlanks(line.substr(0, eq)), line.substr(eq + 1)};
}

// The value of the first line of params whose name is name, in any letter case; empty when none.
inline std::string ParamOf(const std::vector<std::string>& params, std::string_view name) {
  for (const auto& line : params) {
    auto [key, value] = SplitParam(line);
    if (EqualsIgnoringCase(key, name)) {
      return std::string(value);
    }
  }
  return {};
}

}  // namespace vesk::detail
