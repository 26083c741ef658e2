#include "platform/Paths.h"

#include <mutex>
#include <optional>

namespace tolvan::platform {
namespace {

std::mutex& OverrideMutex() {
  static std::mutex mutex;
  return mutex;
}

std::optional<std::string>& OverridePath() {
  static std::optional<std::string> path;
  return path;
}

bool IsDelimiter(char c) {
  return c == '/' || c == kPathDelimiter;
}

}  // namespace

std::string ExecutablePath() {
  {
    std::lock_guard lock(OverrideMutex());
    if (OverridePath()) {
      return *OverridePath();
    }
  }
  return RealExecutablePath();
}

std::string ExecutableDirectory() {
  std::string path = ExecutablePath();
  std::size_t end = path.size();
  while (end > 0 && !IsDelimiter(path[end - 1])) {
    --end;
  }
  if (end == 0) {
    // A bare file name: the program lies in the current folder.
    return std::string(".") + kPathDelimiter;
  }
  return path.substr(0, end);
}

ScopedExecutablePathOverride::ScopedExecutablePathOverride(std::string path) {
  std::lock_guard lock(OverrideMutex());
  auto& current = OverridePath();
  had_previous_ = current.has_value();
  if (had_previous_) {
    previous_ = *current;
  }
  current = std::move(path);
}

ScopedExecutablePathOverride::~ScopedExecutablePathOverride() {
  std::lock_guard lock(OverrideMutex());
  auto& current = OverridePath();
  if (had_previous_) {
    current = previous_;
  } else {
    current.reset();
  }
}

}  // namespace tolvan::platform
