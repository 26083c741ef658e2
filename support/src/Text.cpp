#include "tolvan/support/Text.h"

#include <algorithm>
#include <system_error>

namespace tolvan::support {

bool IsBlankChar(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

std::string Trim(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlankChar(text[begin])) {
    ++begin;
  }
  while (end > begin && IsBlankChar(text[end - 1])) {
    --end;
  }
  return std::string(text.substr(begin, end - begin));
}

bool IsBlank(std::string_view text) {
  for (const char c : text) {
    if (!IsBlankChar(c)) {
      return false;
    }
  }
  return true;
}

namespace {

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) {
      return false;
    }
  }
  return true;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    c = LowerAscii(c);
  }
  return out;
}

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    c = UpperAscii(c);
  }
  return out;
}

std::string Doubled(std::string_view text, char quote) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    out.push_back(c);
    if (c == quote) {
      out.push_back(c);
    }
  }
  return out;
}

std::string EndedWithLineBreak(std::string text) {
  if (!text.empty() && text.back() != '\n') {
    text += "\r\n";
  }
  return text;
}

std::string DottedVersion(int64_t number) {
  std::string text = std::to_string(number);
  for (const std::size_t position : {3u, 8u, 11u}) {
    text.insert(std::min<std::size_t>(position - 1, text.size()), 1, '.');
  }
  return text;
}

std::filesystem::path Utf8Path(std::string_view text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string PathText(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

bool IsFolder(std::string_view path) {
  std::error_code error;
  return std::filesystem::is_directory(Utf8Path(path), error);
}

}  // namespace tolvan::support
