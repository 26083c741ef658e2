// File copy, delete and existence, and putting a finished file in place for good.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

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

// Creates an empty file that did not exist before (O_EXCL, CREATE_NEW), readable and writable by
// its owner alone on POSIX (0600; on Windows the folder's inherited security). False when
// something stands at the path already; throws std::system_error for any other failure.
TOLVAN_PLATFORM_API bool CreateNewFile(const std::string& path);

// A file that this process creates (with CreateNewFile's protection) and holds while its work
// writes it, so that another run can tell it from one left by a process that is gone: on POSIX an
// flock on it (released when the process ends, however it ends). On Windows the hold is a handle
// without data access, so that it never stands in the way of the tool's own sharing; there a file
// is held while a process (the tool writing it) has it open without delete sharing. Other
// programs may still open, write and truncate it. Returns the hold, or kNoFileHold when something
// stands at the path already; throws std::system_error for any other failure.
using FileHold = std::intptr_t;
inline constexpr FileHold kNoFileHold = -1;
TOLVAN_PLATFORM_API FileHold CreateHeldFile(const std::string& path);
// Lets go of the file (it stays where it is). kNoFileHold is ignored.
TOLVAN_PLATFORM_API void ReleaseFileHold(FileHold hold);
// Where the hold would keep the file from being renamed (Windows), lets go of it and sets hold to
// kNoFileHold; elsewhere leaves it.
TOLVAN_PLATFORM_API void ReleaseFileHoldForRename(FileHold& hold);
// Takes every write right off the file (POSIX permission bits, the Windows read-only attribute).
// False when it could not.
TOLVAN_PLATFORM_API bool MakeReadOnly(const std::string& path);
// Removes the plain file at path when no process holds it (see CreateHeldFile); a file that is
// held, read-only, not a plain file, or cannot be checked stays. True when it was removed.
TOLVAN_PLATFORM_API bool RemoveUnheldFile(const std::string& path);

// Renames source over target in one step: a target that exists (a file, or a link, which is
// replaced and not followed) is replaced. Throws std::system_error on failure.
TOLVAN_PLATFORM_API void RenameReplacing(const std::string& source, const std::string& target);

// Puts the file at source in place of target for good, so that after a power cut target holds
// either its old content or source's, whole:
// 1. source's data is flushed to the disk;
// 2. it takes the protection of the plain file it replaces: on POSIX its permission bits and,
//    where the process may set them, its owner and group (when the group cannot be kept, the new
//    file gives no group any right); on Windows its security and attributes. A new target (or a
//    link, which is replaced and not followed) keeps the mode source was made with, the one a
//    tool gives a new file (0666 less the umask; on Windows the folder's inherited security);
// 3. it is renamed over target in one step;
// 4. target's folder is flushed, so that the rename itself is on the disk (on Windows where the
//    folder's file system allows it).
// Throws std::system_error when a step fails; up to step 3, target is then as it was and source
// is still at its own name. FileNotFlushed says that step 1 failed, FolderNotFlushed that only
// step 4 did.
TOLVAN_PLATFORM_API void ReplaceDurably(const std::string& source, const std::string& target);

// Thrown by ReplaceDurably when source's data could not be flushed to the disk (step 1): what it
// holds may not be what the disk keeps.
class TOLVAN_PLATFORM_API FileNotFlushed : public std::system_error {
 public:
  using std::system_error::system_error;
};

// Thrown by ReplaceDurably when the file is in place but its folder could not be flushed: the
// rename may not survive a power cut.
class TOLVAN_PLATFORM_API FolderNotFlushed : public std::system_error {
 public:
  using std::system_error::system_error;
};

// For tests: while alive, ReplaceDurably notes each step it took, as "<call> <path>" (the
// system's own call names: "fsync", "fchmod", "rename", "FlushFileBuffers", "ReplaceFileW", ...).
class TOLVAN_PLATFORM_API ScopedFileCallRecorder {
 public:
  ScopedFileCallRecorder();
  ~ScopedFileCallRecorder();
  ScopedFileCallRecorder(const ScopedFileCallRecorder&) = delete;
  ScopedFileCallRecorder& operator=(const ScopedFileCallRecorder&) = delete;

  std::vector<std::string> Calls() const;
};

}  // namespace tolvan::platform
