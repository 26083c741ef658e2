#include "platform/DynamicLibrary.h"

#include <algorithm>

#include "win32/Win32.h"

namespace tolvan::platform {

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::string& name) {
  std::wstring wide = internal::Widen(name);
  HMODULE module;
  if (wide.find_first_of(L"\\/") != std::wstring::npos) {
    // A path: its own folder is searched for its dependencies. That search wants backslashes.
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    module = ::LoadLibraryExW(wide.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  } else {
    module = ::LoadLibraryW(wide.c_str());
  }
  if (module == nullptr) {
    internal::ThrowWin32Error(::GetLastError(), "não foi possível carregar \"" + name + "\"");
  }
  return std::make_unique<DynamicLibrary>(static_cast<void*>(module));
}

DynamicLibrary::~DynamicLibrary() {
  if (handle_ != nullptr) {
    ::FreeLibrary(static_cast<HMODULE>(handle_));
  }
}

void* DynamicLibrary::Symbol(const std::string& name) const {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), name.c_str()));
}

std::string SharedLibraryFileName(const std::string& name, const std::string&) {
  return name + ".dll";
}

bool ClientLibrariesComeWithTheSystem() {
  return false;
}

void ThrowLastError(const std::string& context) {
  internal::ThrowWin32Error(::GetLastError(), context);
}

}  // namespace tolvan::platform
