#include "platform/Text.h"

#include <climits>

#include "common/Utf8.h"
#include "win32/Win32.h"

namespace tolvan::platform {

std::string FromSystemCodePage(std::string_view bytes) {
  if (bytes.empty()) {
    return {};
  }
  int size = static_cast<int>(bytes.size() > INT_MAX ? INT_MAX : bytes.size());
  int length = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, wide.data(), length);
  return internal::Narrow(wide);
}

std::string DecodeToolOutput(std::string_view bytes) {
  if (internal::IsValidUtf8(bytes)) {
    return std::string(bytes);
  }
  return FromSystemCodePage(bytes);
}

std::optional<std::string> UseUtf8CharacterType() {
  return std::nullopt;
}

Utf8CharacterTypeScope::Utf8CharacterTypeScope() = default;
Utf8CharacterTypeScope::~Utf8CharacterTypeScope() = default;

}  // namespace tolvan::platform
