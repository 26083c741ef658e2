// Process environment variables. Values set here reach every child started afterwards.
// (Named GetEnv/SetEnv: the Win32 headers define macros for the longer names.)
#pragma once

#include <optional>
#include <string>

#include "platform/Export.h"

namespace tolvan::platform {

// The variable's value; nullopt when it is not set.
TOLVAN_PLATFORM_API std::optional<std::string> GetEnv(const std::string& name);

// Sets the variable (an empty value sets it to the empty text; it stays defined).
TOLVAN_PLATFORM_API void SetEnv(const std::string& name, const std::string& value);

// Removes the variable.
TOLVAN_PLATFORM_API void UnsetEnv(const std::string& name);

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
