#include "platform/DynamicLibrary.h"

#include <dlfcn.h>
#include <link.h>

#include <cerrno>
#include <cstdlib>
#include <set>
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

void DynamicLibrary::KeepLoadedUntilExit() const {
  link_map* map = nullptr;
  if (::dlinfo(handle_, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr &&
      map->l_name[0] != '\0') {
    ::dlopen(map->l_name, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
  }
}

std::vector<std::unique_ptr<DynamicLibrary>> LoadedLibrariesExporting(const std::string& name) {
  std::vector<std::string> paths;
  ::dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        if (info->dlpi_name != nullptr && info->dlpi_name[0] != '\0') {
          static_cast<std::vector<std::string>*>(data)->emplace_back(info->dlpi_name);
        }
        return 0;
      },
      &paths);
  std::vector<std::unique_ptr<DynamicLibrary>> found;
  std::set<void*> seen;
  for (const std::string& path : paths) {
    // Only a library already loaded.
    void* handle = ::dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle == nullptr) {
      continue;
    }
    auto library = std::make_unique<DynamicLibrary>(handle);
    // A look-up by handle searches the library's dependencies too: what it finds must be its own.
    void* function = library->Symbol(name);
    Dl_info info{};
    if (function != nullptr && ::dladdr(function, &info) != 0 && info.dli_fname != nullptr &&
        path == info.dli_fname && seen.insert(function).second) {
      found.push_back(std::move(library));
    }
  }
  return found;
}

void RunAtExitBeforeLoadedLibraries(void (*work)()) {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(work), &info) != 0 && info.dli_fname != nullptr) {
    // Never unloaded from now on, so that work runs at exit and not when its library goes.
    ::dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
  }
  std::atexit(work);
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
