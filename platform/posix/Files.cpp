#include "platform/Files.h"

#include <fcntl.h>
#include <sys/file.h>
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
    ThrowErrno(errno, "não foi possível ler a proteção de \"" + source + "\"");
  }
  if (own.st_uid != replaced.st_uid || own.st_gid != replaced.st_gid) {
    internal::NoteFileCall("fchown", source);
    if (::fchown(fd, replaced.st_uid, replaced.st_gid) != 0) {
      if (errno != EPERM) {
        ThrowErrno(errno,
                   "não foi possível dar a \"" + source + "\" o dono do arquivo que ele substitui");
      }
      // Not allowed to give the file away: the group alone, where the process belongs to it.
      if (::fchown(fd, static_cast<uid_t>(-1), replaced.st_gid) != 0 && errno != EPERM) {
        ThrowErrno(errno, "não foi possível dar a \"" + source +
                              "\" o grupo do arquivo que ele substitui");
      }
    }
    if (::fstat(fd, &own) != 0) {
      ThrowErrno(errno, "não foi possível ler a proteção de \"" + source + "\"");
    }
  }
  mode_t mode = replaced.st_mode & 0777;
  if (own.st_gid != replaced.st_gid) {
    // The rights of the old file's group would go to another group.
    mode &= ~static_cast<mode_t>(070);
  }
  internal::NoteFileCall("fchmod", source);
  if (::fchmod(fd, mode) != 0) {
    ThrowErrno(errno, "não foi possível dar a \"" + source +
                          "\" as permissões do arquivo que ele substitui");
  }
}

void FlushFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    // A folder the process may write in but not read cannot be opened to be flushed.
    if (errno == EACCES) {
      return;
    }
    throw FolderNotFlushed(
        errno, std::generic_category(),
        "não foi possível abrir a pasta \"" + folder + "\" para gravá-la no disco");
  }
  const Descriptor descriptor(fd);
  internal::NoteFileCall("fsync", folder);
  // EINVAL: a file system that keeps no folder to flush.
  if (::fsync(fd) != 0 && errno != EINVAL) {
    throw FolderNotFlushed(errno, std::generic_category(),
                           "não foi possível gravar a pasta \"" + folder + "\" no disco");
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
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
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

FileHold CreateHeldFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    if (errno == EEXIST) {
      return kNoFileHold;
    }
    ThrowErrno(errno, "não foi possível criar \"" + path + "\"");
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      // Another run took it for a leftover between our open and our lock: it is removing it.
      ::close(fd);
      return kNoFileHold;
    }
    // A file system without locks: the file is ours all the same, only not marked as held, and
    // RemoveUnheldFile, unable to lock it either, leaves it alone.
  }
  // Another run may have removed the name just before we locked it.
  struct stat own {};
  struct stat named {};
  if (::fstat(fd, &own) != 0 || ::lstat(path.c_str(), &named) != 0 || own.st_dev != named.st_dev ||
      own.st_ino != named.st_ino) {
    ::close(fd);
    return kNoFileHold;
  }
  return fd;
}

void ReleaseFileHold(FileHold hold) {
  if (hold != kNoFileHold) {
    ::close(static_cast<int>(hold));
  }
}

bool RemoveUnheldFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  const Descriptor descriptor(fd);
  struct stat own {};
  struct stat named {};
  // A read-only file was kept on purpose (MakeReadOnly) or made so by its tool: it stays.
  if (::fstat(fd, &own) != 0 || !S_ISREG(own.st_mode) || (own.st_mode & S_IWUSR) == 0 ||
      ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    return false;
  }
  // Removed while locked, and only if the name still is the file that was locked.
  if (::lstat(path.c_str(), &named) != 0 || own.st_dev != named.st_dev ||
      own.st_ino != named.st_ino) {
    return false;
  }
  return ::unlink(path.c_str()) == 0;
}

void ReleaseFileHoldForRename(FileHold&) {
  // An flock does not keep a file from being renamed: the hold lasts through the rename.
}

bool MakeReadOnly(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::chmod(path.c_str(), info.st_mode & 07555) == 0;
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
    ThrowErrno(errno, "não foi possível abrir \"" + source + "\"");
  }
  {
    const Descriptor descriptor(fd);
    struct stat replaced {};
    if (::lstat(target.c_str(), &replaced) == 0) {
      if (S_ISREG(replaced.st_mode)) {
        TakeProtection(fd, source, replaced);
      }
    } else if (errno != ENOENT) {
      ThrowErrno(errno, "não foi possível ler a proteção de \"" + target + "\"");
    }
    internal::NoteFileCall("fsync", source);
    if (::fsync(fd) != 0) {
      throw FileNotFlushed(errno, std::generic_category(),
                           "não foi possível gravar \"" + source + "\" no disco");
    }
  }
  internal::NoteFileCall("rename", source + " " + target);
  RenameReplacing(source, target);
  FlushFolder(FolderOf(target));
}

}  // namespace tolvan::platform
