// Helpers of the Windows implementation: UTF-8 <-> UTF-16 and errors of GetLastError().
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <system_error>

namespace tolvan::platform::internal {

std::wstring Widen(std::string_view text);
std::string Narrow(std::wstring_view text);

// Error codes of GetLastError(), with FormatMessage's text as their message.
const std::error_category& Win32Category();

// std::system_error for the given (or the last) Win32 error.
[[noreturn]] void ThrowWin32Error(DWORD error, const std::string& context);

}  // namespace tolvan::platform::internal
