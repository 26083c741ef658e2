#include "platform/Text.h"

#include "common/Utf8.h"

namespace tolvan::platform {

std::string FromSystemCodePage(std::string_view bytes) {
  if (internal::IsValidUtf8(bytes)) {
    return std::string(bytes);
  }
  // Not UTF-8: read every byte as Latin-1, so nothing is lost.
  std::string text;
  text.reserve(bytes.size() * 2);
  for (char c : bytes) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      text += c;
    } else {
      text += static_cast<char>(0xC0 | (byte >> 6));
      text += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return text;
}

std::string DecodeToolOutput(std::string_view bytes) {
  return SanitizeUtf8(bytes);
}

}  // namespace tolvan::platform
