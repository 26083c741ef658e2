// This machine and the processes that run on it: what a run leaves behind names itself by them,
// so that a later run can tell one that is still working from one that is gone.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Export.h"

namespace tolvan::platform {

// The machine's name as the system gives it (the host name; on Windows the computer's DNS host
// name), UTF-8; empty when the system does not say.
TOLVAN_PLATFORM_API std::string MachineName();

// The running program's process id.
TOLVAN_PLATFORM_API std::uint64_t CurrentProcessId();

// True when a process of that id exists on this machine now, including one this program may not
// look into (another user's). False for an id no process has, and for 0 and ids beyond the
// system's range.
TOLVAN_PLATFORM_API bool ProcessExists(std::uint64_t id);

}  // namespace tolvan::platform
