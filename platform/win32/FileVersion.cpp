#include "platform/FileVersion.h"

#include <vector>

#include "win32/Win32.h"

#include <winver.h>

namespace tolvan::platform {

std::optional<std::string> ReadVersionResource(const std::string& path) {
  const std::wstring wide = internal::Widen(path);
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(wide.c_str(), &ignored);
  if (size == 0) {
    return std::nullopt;
  }
  std::vector<unsigned char> data(size);
  if (!::GetFileVersionInfoW(wide.c_str(), 0, size, data.data())) {
    return std::nullopt;
  }
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) ||
      info == nullptr || length < sizeof(VS_FIXEDFILEINFO) || info->dwSignature != 0xFEEF04BD) {
    return std::nullopt;
  }
  return std::to_string(HIWORD(info->dwFileVersionMS)) + "." +
         std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(info->dwFileVersionLS)) + "." +
         std::to_string(LOWORD(info->dwFileVersionLS));
}

}  // namespace tolvan::platform
