#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "common/FileCalls.h"

namespace tolvan::platform {
namespace {

[[noreturn]] void ThrowErrno(int error, const std::string& what) {
  throw std::system_error(error, std::generic_category(), what);
}

// Closes the descriptor on every way out.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Gives the new file the owner, group and permission bits of the file it replaces. Set-id and
// sticky bits are not carried over: a backup is never a program.
void TakeProtection(int fd, const std::string& source, const struct stat& replaced) {
  struct stat own {};
  if (::fstat(fd, &own) != 0) {
    ThrowErrno(errno, "cannot read the mode of \"" + source + "\"");
  }
  if (own.st_uid != replaced.st_uid || own.st_gid != replaced.st_gid) {
    internal::NoteFileCall("fchown", source);
    if (::fchown(fd, replaced.st_uid, replaced.st_gid) != 0) {
      if (errno != EPERM) {
        ThrowErrno(errno, "cannot give \"" + source + "\" the owner of the file it replaces");
      }
      // Not allowed to give the file away: the group alone, where the process belongs to it.
      if (::fchown(fd, static_cast<uid_t>(-1), replaced.st_gid) != 0 && errno != EPERM) {
        ThrowErrno(errno, "cannot give \"" + source + "\" the group of the file it replaces");
      }
    }
    if (::fstat(fd, &own) != 0) {
      ThrowErrno(errno, "cannot read the mode of \"" + source + "\"");
    }
  }
  mode_t mode = replaced.st_mode & 0777;
  if (own.st_gid != replaced.st_gid) {
    // The rights of the old file's group would go to another group.
    mode &= ~static_cast<mode_t>(070);
  }
  internal::NoteFileCall("fchmod", source);
  if (::fchmod(fd, mode) != 0) {
    ThrowErrno(errno, "cannot give \"" + source + "\" the mode of the file it replaces");
  }
}

void FlushFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    // A folder the process may write in but not read cannot be opened to be flushed.
    if (errno == EACCES) {
      return;
    }
    throw FolderNotFlushed(errno, std::generic_category(),
                           "cannot open the folder \"" + folder + "\" to flush it");
  }
  const Descriptor descriptor(fd);
  internal::NoteFileCall("fsync", folder);
  // EINVAL: a file system that keeps no folder to flush.
  if (::fsync(fd) != 0 && errno != EINVAL) {
    throw FolderNotFlushed(errno, std::generic_category(),
                           "cannot flush the folder \"" + folder + "\" to the disk");
  }
}

}  // namespace

void CopyFileOverwriting(const std::string& source, const std::string& target) {
  std::error_code error;
  std::filesystem::copy_file(source, target, std::filesystem::copy_options::overwrite_existing,
                             error);
  if (error) {
    throw std::system_error(error,
                            "não foi possível copiar \"" + source + "\" para \"" + target + "\"");
  }
}

bool RemoveFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool PathEntryExists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

bool IsPlainFile(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool IsLink(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool CreateNewFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) {
    if (errno == EEXIST) {
      return false;
    }
    throw std::system_error(errno, std::generic_category(),
                            "não foi possível criar \"" + path + "\"");
  }
  ::close(fd);
  return true;
}

void RenameReplacing(const std::string& source, const std::string& target) {
  if (std::rename(source.c_str(), target.c_str()) != 0) {
    throw std::system_error(errno, std::generic_category(),
                            "não foi possível renomear \"" + source + "\" para \"" + target + "\"");
  }
}

void ReplaceDurably(const std::string& source, const std::string& target) {
  // Read-only is enough for fsync, fchmod and fchown here, and works on a file a tool made
  // read-only.
  const int fd = ::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    ThrowErrno(errno, "cannot open \"" + source + "\"");
  }
  {
    const Descriptor descriptor(fd);
    struct stat replaced {};
    if (::lstat(target.c_str(), &replaced) == 0) {
      if (S_ISREG(replaced.st_mode)) {
        TakeProtection(fd, source, replaced);
      }
    } else if (errno != ENOENT) {
      ThrowErrno(errno, "cannot read the mode of \"" + target + "\"");
    }
    internal::NoteFileCall("fsync", source);
    if (::fsync(fd) != 0) {
      ThrowErrno(errno, "cannot flush \"" + source + "\" to the disk");
    }
  }
  internal::NoteFileCall("rename", source + " " + target);
  RenameReplacing(source, target);
  FlushFolder(FolderOf(target));
}

}  // namespace tolvan::platform
