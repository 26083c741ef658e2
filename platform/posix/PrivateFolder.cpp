#include "platform/PrivateFolder.h"

#include <stdlib.h>

#include <cerrno>
#include <system_error>

namespace tolvan::platform {

std::string CreatePrivateFolder(const std::string& parent, const std::string& prefix) {
  std::string pattern = parent;
  if (!pattern.empty() && pattern.back() != '/') {
    pattern += '/';
  }
  pattern += prefix + "XXXXXX";
  // mkdtemp makes the folder with mode 0700 and never reuses an existing name.
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(),
                            "não foi possível criar uma pasta privada em " + parent);
  }
  return pattern;
}

}  // namespace tolvan::platform
