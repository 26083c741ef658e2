// Reading a string value of the Windows registry. POSIX has no registry: the few values the
// system reads map to environment variables (see the table in the POSIX implementation):
// HKLM "SOFTWARE\Firebird Project\Firebird Server\Instances" "DefaultInstance" -> FIREBIRD.
#pragma once

#include <optional>
#include <string>

#include "platform/Export.h"

namespace tolvan::platform {

enum class RegistryRoot { LocalMachine, CurrentUser };

// The value as text, or nullopt when the key or value is missing, is not a string, or cannot be
// read. On POSIX an unset or empty mapped variable counts as a failed read.
TOLVAN_PLATFORM_API std::optional<std::string> ReadRegistryString(RegistryRoot root,
                                                                  const std::string& key,
                                                                  const std::string& value_name);

// For tests: while alive, ReadRegistryString answers value (nullopt: a missing value) for this
// value of this key, on every platform. Overrides nest.
class TOLVAN_PLATFORM_API ScopedRegistryValueOverride {
 public:
  ScopedRegistryValueOverride(RegistryRoot root, std::string key, std::string value_name,
                              std::optional<std::string> value);
  ~ScopedRegistryValueOverride();
  ScopedRegistryValueOverride(const ScopedRegistryValueOverride&) = delete;
  ScopedRegistryValueOverride& operator=(const ScopedRegistryValueOverride&) = delete;
};

}  // namespace tolvan::platform
