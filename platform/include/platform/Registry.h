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

}  // namespace tolvan::platform
