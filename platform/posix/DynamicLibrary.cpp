#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

#include <cerrno>
#include <system_error>

namespace tolvan::platform {

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::string& name) {
  ::dlerror();
  void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* message = ::dlerror();
    throw std::system_error(std::make_error_code(std::errc::no_such_file_or_directory),
                            "não foi possível carregar \"" + name +
                                "\": " + (message != nullptr ? message : "erro desconhecido"));
  }
  return std::make_unique<DynamicLibrary>(handle);
}

DynamicLibrary::~DynamicLibrary() {
  if (handle_ != nullptr) {
    ::dlclose(handle_);
  }
}

void* DynamicLibrary::Symbol(const std::string& name) const {
  return ::dlsym(handle_, name.c_str());
}

std::string SharedLibraryFileName(const std::string& name, const std::string& abi_version) {
  return "lib" + name + ".so" + (abi_version.empty() ? "" : "." + abi_version);
}

bool ClientLibrariesComeWithTheSystem() {
  return true;
}

void ThrowLastError(const std::string& context) {
  throw std::system_error(errno, std::generic_category(), context);
}

}  // namespace tolvan::platform
