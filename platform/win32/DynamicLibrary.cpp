#include "platform/DynamicLibrary.h"

#include <algorithm>
#include <cstdlib>
#include <set>

#include "win32/Win32.h"

#include <psapi.h>

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

void DynamicLibrary::KeepLoadedUntilExit() const {
  HMODULE pinned = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       static_cast<LPCWSTR>(handle_), &pinned);
}

std::vector<std::unique_ptr<DynamicLibrary>> LoadedLibrariesExporting(const std::string& name) {
  std::vector<HMODULE> modules(256);
  DWORD needed = 0;
  while (::K32EnumProcessModules(::GetCurrentProcess(), modules.data(),
                                 static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed) &&
         needed > modules.size() * sizeof(HMODULE)) {
    modules.resize(needed / sizeof(HMODULE));
  }
  modules.resize(std::min<std::size_t>(modules.size(), needed / sizeof(HMODULE)));
  const HMODULE program = ::GetModuleHandleW(nullptr);
  std::vector<std::unique_ptr<DynamicLibrary>> found;
  for (const HMODULE module : modules) {
    HMODULE held = nullptr;
    // A reference of its own, given back by the DynamicLibrary.
    if (module == program || ::GetProcAddress(module, name.c_str()) == nullptr ||
        !::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                              reinterpret_cast<LPCWSTR>(module), &held)) {
      continue;
    }
    found.push_back(std::make_unique<DynamicLibrary>(static_cast<void*>(held)));
  }
  return found;
}

void RunAtExitBeforeLoadedLibraries(void (*work)()) {
  // Never unloaded from now on, so that work runs at exit and not when its library goes. The
  // runtime runs a library's exit work when the library is detached, at the process's end.
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(work), &module);
  std::atexit(work);
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
