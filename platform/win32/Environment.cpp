#include "platform/Environment.h"

#include <cwctype>
#include <vector>

#include "common/EnvironmentOverlay.h"
#include "win32/Win32.h"

namespace tolvan::platform {

namespace internal {
std::string EnvironmentKey(const std::string& name) {
  std::string key = name;
  for (char& c : key) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return key;
}
}  // namespace internal

std::optional<std::string> GetEnv(const std::string& name) {
  if (auto entry = internal::OverlayLookup(name)) {
    return entry->value;
  }
  std::wstring wide_name = internal::Widen(name);
  std::vector<wchar_t> buffer(256);
  for (;;) {
    ::SetLastError(ERROR_SUCCESS);
    DWORD length = ::GetEnvironmentVariableW(wide_name.c_str(), buffer.data(),
                                             static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
        return std::nullopt;
      }
      return std::string();
    }
    if (length < buffer.size()) {
      return internal::Narrow(std::wstring_view(buffer.data(), length));
    }
    buffer.resize(length);
  }
}

void SetEnv(const std::string& name, const std::string& value) {
  internal::CheckVariable(name, &value);
  if (internal::OverlaySet(name, value)) {
    return;
  }
  if (!::SetEnvironmentVariableW(internal::Widen(name).c_str(), internal::Widen(value).c_str())) {
    internal::ThrowWin32Error(::GetLastError(),
                              "não foi possível definir a variável de ambiente " + name);
  }
}

void UnsetEnv(const std::string& name) {
  internal::CheckVariable(name, nullptr);
  if (internal::OverlaySet(name, std::nullopt)) {
    return;
  }
  if (!::SetEnvironmentVariableW(internal::Widen(name).c_str(), nullptr) &&
      ::GetLastError() != ERROR_ENVVAR_NOT_FOUND) {
    internal::ThrowWin32Error(::GetLastError(),
                              "não foi possível remover a variável de ambiente " + name);
  }
}

std::optional<std::pair<std::string, std::string>> Utf8LocaleForChildren() {
  return std::nullopt;
}

}  // namespace tolvan::platform
