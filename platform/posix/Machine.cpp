#include "platform/Machine.h"

#include <signal.h>
#include <sys/types.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

namespace tolvan::platform {

std::string MachineName() {
  struct utsname names {};
  if (::uname(&names) != 0) {
    return {};
  }
  return names.nodename;
}

std::uint64_t CurrentProcessId() {
  return static_cast<std::uint64_t>(::getpid());
}

bool ProcessExists(std::uint64_t id) {
  // 0 and negative ids would name process groups.
  if (id == 0 || id > static_cast<std::uint64_t>(std::numeric_limits<pid_t>::max())) {
    return false;
  }
  return ::kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM;
}

}  // namespace tolvan::platform
