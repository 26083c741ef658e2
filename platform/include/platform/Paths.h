// The running program's path and the path delimiter.
#pragma once

#include <string>

#include "platform/Export.h"

namespace tolvan::platform {

#if defined(_WIN32)
inline constexpr char kPathDelimiter = '\\';
inline constexpr const char* kExecutableSuffix = ".exe";
#else
inline constexpr char kPathDelimiter = '/';
inline constexpr const char* kExecutableSuffix = "";
#endif

// Full path of the running process's main executable (not of a library loaded into it).
TOLVAN_PLATFORM_API std::string ExecutablePath();

// Full path of the main executable as the operating system reports it, whatever override is in
// force (for tests that look for programs built beside themselves).
TOLVAN_PLATFORM_API std::string RealExecutablePath();

// Folder of ExecutablePath(), with the path delimiter at the end.
TOLVAN_PLATFORM_API std::string ExecutableDirectory();

// The system's folder for temporary files, with the path delimiter at the end.
TOLVAN_PLATFORM_API std::string TemporaryDirectory();

// For tests: while alive, ExecutablePath() answers the given path. Overrides nest.
class TOLVAN_PLATFORM_API ScopedExecutablePathOverride {
 public:
  explicit ScopedExecutablePathOverride(std::string path);
  ~ScopedExecutablePathOverride();
  ScopedExecutablePathOverride(const ScopedExecutablePathOverride&) = delete;
  ScopedExecutablePathOverride& operator=(const ScopedExecutablePathOverride&) = delete;

 private:
  std::string previous_;
  bool had_previous_;
};

}  // namespace tolvan::platform
