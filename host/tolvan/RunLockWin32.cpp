#include <windows.h>

#include <system_error>

#include "RunLock.h"

namespace tolvan::cli {
namespace {

std::wstring Widen(const std::string& text) {
  const int length =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
  return wide;
}

}  // namespace

std::unique_ptr<RunLock> RunLock::TryTake(const std::string& path) {
  const std::string lock_path = LockPath(path);
  // Shared with nobody: a second run's open fails while this one holds it. The system removes the
  // file when the handle closes, also when the process is killed.
  const HANDLE file =
      ::CreateFileW(Widen(lock_path).c_str(), GENERIC_READ | DELETE, 0, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    // A file that the run before is removing refuses every open for a moment.
    const bool being_removed =
        error == ERROR_ACCESS_DENIED &&
        ::GetFileAttributesW(Widen(lock_path).c_str()) != INVALID_FILE_ATTRIBUTES;
    if (error == ERROR_SHARING_VIOLATION || being_removed) {
      return nullptr;
    }
    throw std::system_error(static_cast<int>(error), std::system_category(),
                            "não foi possível criar a trava " + lock_path);
  }
  return std::unique_ptr<RunLock>(new RunLock(lock_path, reinterpret_cast<std::intptr_t>(file)));
}

RunLock::~RunLock() {
  ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

}  // namespace tolvan::cli
