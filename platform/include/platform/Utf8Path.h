// Paths held as UTF-8 text, as every text inside the system is, to and from std::filesystem: on
// Windows the library reads and writes a plain std::string in a narrow code page that cannot hold
// every name ("Açaí" would be another folder), so both ways go through u8string.
#pragma once

#include <filesystem>
#include <string>

namespace tolvan::platform {

inline std::filesystem::path Utf8Path(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string Utf8Text(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace tolvan::platform
