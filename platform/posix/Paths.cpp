#include "platform/Paths.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include "platform/Environment.h"

namespace tolvan::platform {

std::string RealExecutablePath() {
  std::vector<char> buffer(256);
  for (;;) {
    ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) {
      throw std::system_error(errno, std::generic_category(),
                              "não foi possível ler o caminho do programa (/proc/self/exe)");
    }
    if (static_cast<std::size_t>(length) < buffer.size()) {
      return std::string(buffer.data(), static_cast<std::size_t>(length));
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::string TemporaryDirectory() {
  std::string folder = GetEnv("TMPDIR").value_or("");
  if (folder.empty()) {
    folder = "/tmp";
  }
  if (folder.back() != kPathDelimiter) {
    folder += kPathDelimiter;
  }
  return folder;
}

}  // namespace tolvan::platform
