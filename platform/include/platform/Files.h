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

// True when anything stands at the path, of whatever kind: a file, a folder, a device, a pipe,
// or a link (dangling or not; the link itself is looked at, never followed).
TOLVAN_PLATFORM_API bool PathEntryExists(const std::string& path);

// True when the path itself (not followed through a link) is a plain file.
TOLVAN_PLATFORM_API bool IsPlainFile(const std::string& path);

// True when the path is a link (symbolic link, or a reparse point on Windows), dangling or not.
TOLVAN_PLATFORM_API bool IsLink(const std::string& path);

// Creates an empty file that did not exist before (O_EXCL, CREATE_NEW). False when something
// stands at the path already; throws std::system_error for any other failure.
TOLVAN_PLATFORM_API bool CreateNewFile(const std::string& path);

// Renames source over target in one step: a target that exists (a file, or a link, which is
// replaced and not followed) is replaced. Throws std::system_error on failure.
TOLVAN_PLATFORM_API void RenameReplacing(const std::string& source, const std::string& target);

}  // namespace tolvan::platform
