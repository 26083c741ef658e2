#include "win32/Win32.h"

#include <climits>

namespace tolvan::platform::internal {
namespace {

class Win32ErrorCategory : public std::error_category {
 public:
  const char* name() const noexcept override { return "win32"; }

  std::string message(int code) const override {
    wchar_t* buffer = nullptr;
    DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (length != 0 && buffer != nullptr) {
      text = Narrow(std::wstring_view(buffer, length));
    }
    if (buffer != nullptr) {
      ::LocalFree(buffer);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
      text.pop_back();
    }
    if (text.empty()) {
      text = "erro " + std::to_string(static_cast<DWORD>(code));
    }
    return text;
  }

  std::error_condition default_error_condition(int code) const noexcept override {
    switch (static_cast<DWORD>(code)) {
      case ERROR_FILE_NOT_FOUND:
      case ERROR_PATH_NOT_FOUND:
      case ERROR_MOD_NOT_FOUND:
        return std::errc::no_such_file_or_directory;
      case ERROR_ACCESS_DENIED:
        return std::errc::permission_denied;
      case ERROR_FILE_EXISTS:
      case ERROR_ALREADY_EXISTS:
        return std::errc::file_exists;
      case ERROR_SHARING_VIOLATION:
        return std::errc::device_or_resource_busy;
      case ERROR_INVALID_PARAMETER:
        return std::errc::invalid_argument;
      default:
        return std::error_condition(code, *this);
    }
  }
};

}  // namespace

std::wstring Widen(std::string_view text) {
  if (text.empty()) {
    return {};
  }
  int size = static_cast<int>(text.size() > INT_MAX ? INT_MAX : text.size());
  int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::string Narrow(std::wstring_view text) {
  if (text.empty()) {
    return {};
  }
  int size = static_cast<int>(text.size() > INT_MAX ? INT_MAX : text.size());
  int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), length, nullptr, nullptr);
  return narrow;
}

const std::error_category& Win32Category() {
  static const Win32ErrorCategory category;
  return category;
}

void ThrowWin32Error(DWORD error, const std::string& context) {
  throw std::system_error(static_cast<int>(error), Win32Category(), context);
}

}  // namespace tolvan::platform::internal
