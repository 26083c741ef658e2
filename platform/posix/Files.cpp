#include "platform/Files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace tolvan::platform {

void CopyFileOverwriting(const std::string& source, const std::string& target) {
  std::error_code error;
  std::filesystem::copy_file(source, target, std::filesystem::copy_options::overwrite_existing,
                             error);
  if (error) {
    throw std::system_error(error, "cannot copy \"" + source + "\" to \"" + target + "\"");
  }
}

bool RemoveFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace tolvan::platform
