// Loading a shared library by name and looking its symbols up.
#pragma once

#include <memory>
#include <string>

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

  explicit DynamicLibrary(void* handle) : handle_(handle) {}

 private:
  void* handle_;
};

// Raises the operating system's last error (errno / GetLastError) as std::system_error with the
// given context.
[[noreturn]] TOLVAN_PLATFORM_API void ThrowLastError(const std::string& context);

}  // namespace tolvan::platform
