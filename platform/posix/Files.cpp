#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace tolvan::platform {

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

}  // namespace tolvan::platform
