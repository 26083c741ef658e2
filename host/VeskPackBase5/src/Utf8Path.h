// Texts inside the system are UTF-8; std::filesystem reads a plain std::string in the system's
// narrow code page on Windows, so paths are always built from UTF-8 explicitly.
#pragma once

#include <filesystem>
#include <string>

namespace vesk::detail {

inline std::filesystem::path Utf8Path(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

}  // namespace vesk::detail
