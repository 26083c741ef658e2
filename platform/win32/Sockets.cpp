// Windows gives a program no list of its own sockets: a library's connections cannot be found,
// and the connection limit shuts nothing down there.
#include "common/Sockets.h"

namespace tolvan::platform::internal {

std::set<uint64_t> OpenSockets() {
  return {};
}

void ShutDownSocketsExcept(const std::set<uint64_t>&) {}

}  // namespace tolvan::platform::internal
