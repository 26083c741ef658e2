#include "platform/Files.h"

#include "win32/Win32.h"

namespace tolvan::platform {

void CopyFileOverwriting(const std::string& source, const std::string& target) {
  if (!::CopyFileW(internal::Widen(source).c_str(), internal::Widen(target).c_str(), FALSE)) {
    internal::ThrowWin32Error(::GetLastError(),
                              "cannot copy \"" + source + "\" to \"" + target + "\"");
  }
}

bool RemoveFile(const std::string& path) {
  return ::DeleteFileW(internal::Widen(path).c_str()) != 0;
}

bool FileExists(const std::string& path) {
  DWORD attributes = ::GetFileAttributesW(internal::Widen(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace tolvan::platform
