#include "platform/Paths.h"

#include <vector>

#include "common/EnvironmentOverlay.h"
#include "platform/Environment.h"
#include "win32/Win32.h"

namespace tolvan::platform {

std::string RealExecutablePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      internal::ThrowWin32Error(::GetLastError(),
                                "não foi possível ler o caminho do programa (GetModuleFileName)");
    }
    if (length < buffer.size()) {
      return internal::Narrow(std::wstring_view(buffer.data(), length));
    }
    buffer.resize(buffer.size() * 2);
  }
}

namespace {

// The folder GetTempPath names, read through the environment functions while a test's overlay
// has changed one of the variables it reads (TMP, then TEMP, then USERPROFILE): GetTempPath sees
// the real environment only, and a tool started meanwhile sees the overlay, so the two would name
// different folders. Empty when no overlay touched them.
std::string TemporaryDirectoryOfOverlay() {
  static constexpr const char* kVariables[] = {"TMP", "TEMP", "USERPROFILE"};
  bool touched = false;
  for (const char* name : kVariables) {
    touched = touched || internal::OverlayLookup(name).has_value();
  }
  if (touched) {
    for (const char* name : kVariables) {
      if (std::string value = GetEnv(name).value_or(""); !value.empty()) {
        return value;
      }
    }
  }
  return "";
}

}  // namespace

std::string TemporaryDirectory() {
  std::string folder = TemporaryDirectoryOfOverlay();
  if (folder.empty()) {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    DWORD length = ::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length > buffer.size()) {
      buffer.resize(length);
      length = ::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    }
    if (length == 0) {
      internal::ThrowWin32Error(
          ::GetLastError(), "não foi possível ler a pasta de arquivos temporários (GetTempPath)");
    }
    folder = internal::Narrow(std::wstring_view(buffer.data(), length));
  }
  if (folder.back() != '\\' && folder.back() != '/') {
    folder += kPathDelimiter;
  }
  return folder;
}

}  // namespace tolvan::platform
