#include "platform/Files.h"

#include "win32/Win32.h"

namespace tolvan::platform {

void CopyFileOverwriting(const std::string& source, const std::string& target) {
  if (!::CopyFileW(internal::Widen(source).c_str(), internal::Widen(target).c_str(), FALSE)) {
    internal::ThrowWin32Error(::GetLastError(),
                              "não foi possível copiar \"" + source + "\" para \"" + target + "\"");
  }
}

bool RemoveFile(const std::string& path) {
  return ::DeleteFileW(internal::Widen(path).c_str()) != 0;
}

bool FileExists(const std::string& path) {
  DWORD attributes = ::GetFileAttributesW(internal::Widen(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool PathEntryExists(const std::string& path) {
  // The attributes of a link are its own; the call does not follow it.
  return ::GetFileAttributesW(internal::Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsPlainFile(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(internal::Widen(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes &
          (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
}

bool IsLink(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(internal::Widen(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool CreateNewFile(const std::string& path) {
  const HANDLE file = ::CreateFileW(internal::Widen(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
      return false;
    }
    internal::ThrowWin32Error(error, "não foi possível criar \"" + path + "\"");
  }
  ::CloseHandle(file);
  return true;
}

void RenameReplacing(const std::string& source, const std::string& target) {
  if (!::MoveFileExW(internal::Widen(source).c_str(), internal::Widen(target).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    internal::ThrowWin32Error(
        ::GetLastError(), "não foi possível renomear \"" + source + "\" para \"" + target + "\"");
  }
}

}  // namespace tolvan::platform
