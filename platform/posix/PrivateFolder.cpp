#include "platform/PrivateFolder.h"

#include <sys/stat.h>

#include <cerrno>
#include <system_error>

namespace tolvan::platform {

bool CreatePrivateFolder(const std::string& path) {
  // mkdir fails on a name that exists, whatever stands there; the umask can only take bits away.
  if (::mkdir(path.c_str(), 0700) == 0) {
    return true;
  }
  if (errno == EEXIST) {
    return false;
  }
  throw std::system_error(errno, std::generic_category(),
                          "não foi possível criar a pasta privada " + path);
}

}  // namespace tolvan::platform
