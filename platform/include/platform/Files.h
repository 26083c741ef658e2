// File copy, delete and existence.
#pragma once

#include <string>

#include "platform/Export.h"

namespace tolvan::platform {

// Copies source to target, replacing a target that exists. Throws std::system_error on failure.
TOLVAN_PLATFORM_API void CopyFileOverwriting(const std::string& source, const std::string& target);

// Deletes the file. Returns false when it could not be deleted (missing included).
TOLVAN_PLATFORM_API bool RemoveFile(const std::string& path);

// True when a file (not a folder) exists at the path.
TOLVAN_PLATFORM_API bool FileExists(const std::string& path);

}  // namespace tolvan::platform
