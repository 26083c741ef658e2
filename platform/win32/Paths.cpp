#include "platform/Paths.h"

#include <vector>

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

std::string TemporaryDirectory() {
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  DWORD length = ::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
  if (length > buffer.size()) {
    buffer.resize(length);
    length = ::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
  }
  if (length == 0) {
    internal::ThrowWin32Error(::GetLastError(),
                              "não foi possível ler a pasta de arquivos temporários (GetTempPath)");
  }
  std::string folder = internal::Narrow(std::wstring_view(buffer.data(), length));
  if (folder.back() != '\\' && folder.back() != '/') {
    folder += kPathDelimiter;
  }
  return folder;
}

}  // namespace tolvan::platform
