// The version a program or library file declares to the operating system.
#pragma once

#include <optional>
#include <string>

#include "platform/Export.h"

namespace tolvan::platform {

// Windows: the FileVersion of the file's version resource (VS_FIXEDFILEINFO) as "a.b.c.d".
// nullopt when the file is missing, carries no version resource or cannot be read, and always on
// POSIX, whose files carry no such resource.
TOLVAN_PLATFORM_API std::optional<std::string> ReadVersionResource(const std::string& path);

}  // namespace tolvan::platform
