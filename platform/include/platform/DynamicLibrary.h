// Loading a shared library by name and looking its symbols up.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/Export.h"

namespace tolvan::platform {

class TOLVAN_PLATFORM_API DynamicLibrary {
 public:
  // Loads the library: a bare name goes through the system's search order, a path is loaded from
  // there (on Windows with the library's own folder searched for its dependencies). Throws
  // std::system_error with the loader's message when it cannot be loaded.
  static std::unique_ptr<DynamicLibrary> Load(const std::string& name);

  ~DynamicLibrary();  // unloads
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // The symbol's address, or nullptr when the library has no such symbol.
  void* Symbol(const std::string& name) const;

  template <typename F>
  F Function(const std::string& name) const {
    return reinterpret_cast<F>(Symbol(name));
  }

  // From now on the library stays loaded until the process ends, whatever unloads it: this
  // object's end as much as anyone else's.
  void KeepLoadedUntilExit() const;

  explicit DynamicLibrary(void* handle) : handle_(handle) {}

 private:
  void* handle_;
};

// Every library loaded in the process that exports a function of that name, once each (a copy of
// a library loaded under another name or from another folder is one more), the program itself
// left out. Each holds its library loaded for as long as it lives.
TOLVAN_PLATFORM_API std::vector<std::unique_ptr<DynamicLibrary>> LoadedLibrariesExporting(
    const std::string& name);

// Runs work when the process exits, and never earlier: the library that holds work stays loaded
// until the process ends, whoever unloads it meanwhile. On POSIX it runs before the exit work of
// every library loaded until now (exit work runs in the reverse order of its registration, and a
// library registers its own as it loads); on Windows when the library that holds it is detached.
TOLVAN_PLATFORM_API void RunAtExitBeforeLoadedLibraries(void (*work)());

// A shared library's file name in this system's form: "fbclient" with ABI version "2" is
// fbclient.dll on Windows and libfbclient.so.2 elsewhere; without an ABI version, libname.so.
TOLVAN_PLATFORM_API std::string SharedLibraryFileName(const std::string& name,
                                                      const std::string& abi_version = "");

// Whether a client library that is not in the program's folder is found in the system's own
// library folders, where its packages install it (POSIX). A Windows program carries its own.
TOLVAN_PLATFORM_API bool ClientLibrariesComeWithTheSystem();

// Raises the operating system's last error (errno / GetLastError) as std::system_error with the
// given context.
[[noreturn]] TOLVAN_PLATFORM_API void ThrowLastError(const std::string& context);

}  // namespace tolvan::platform
