// Process environment variables. Values set here reach every child started afterwards.
// (Named GetEnv/SetEnv: the Win32 headers define macros for the longer names.)
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "platform/Export.h"

namespace tolvan::platform {

// The variable's value; nullopt when it is not set.
TOLVAN_PLATFORM_API std::optional<std::string> GetEnv(const std::string& name);

// Sets the variable (an empty value sets it to the empty text; it stays defined).
TOLVAN_PLATFORM_API void SetEnv(const std::string& name, const std::string& value);

// Removes the variable.
TOLVAN_PLATFORM_API void UnsetEnv(const std::string& name);

// The variable a child needs so that it reads the UTF-8 texts of its command line as UTF-8: on
// POSIX, LC_ALL=C.UTF-8 when the locale the environment gives (LC_ALL, else LC_CTYPE, else LANG) is
// not a UTF-8 one, nothing otherwise; nothing on Windows, where children get their command line in
// UTF-16.
TOLVAN_PLATFORM_API std::optional<std::pair<std::string, std::string>> Utf8LocaleForChildren();

// For tests: while alive, SetEnv and UnsetEnv write to a private overlay instead of the real
// environment; GetEnv reads the overlay first and falls through to the real environment for names
// the overlay has not touched; children started meanwhile get the real environment with the
// overlay applied. The real environment is never changed.
class TOLVAN_PLATFORM_API ScopedEnvironmentOverride {
 public:
  ScopedEnvironmentOverride();
  ~ScopedEnvironmentOverride();
  ScopedEnvironmentOverride(const ScopedEnvironmentOverride&) = delete;
  ScopedEnvironmentOverride& operator=(const ScopedEnvironmentOverride&) = delete;
};

}  // namespace tolvan::platform
