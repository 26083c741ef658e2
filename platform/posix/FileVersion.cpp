#include "platform/FileVersion.h"

namespace tolvan::platform {

std::optional<std::string> ReadVersionResource(const std::string& /*path*/) {
  return std::nullopt;
}

}  // namespace tolvan::platform
