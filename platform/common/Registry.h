// The registry read of each system, behind the tests' overrides.
#pragma once

#include <optional>
#include <string>

#include "platform/Registry.h"

namespace tolvan::platform::internal {

// The value as the system holds it (the registry; on POSIX the mapped environment variable).
std::optional<std::string> ReadSystemRegistryString(RegistryRoot root, const std::string& key,
                                                    const std::string& value_name);

// Registry names compare without regard to case, as on Windows.
bool SameRegistryName(const std::string& a, const std::string& b);

}  // namespace tolvan::platform::internal
