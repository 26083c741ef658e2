// A folder of the current user's alone, for a run's scratch files.
#pragma once

#include <string>

#include "platform/Export.h"

namespace tolvan::platform {

// Creates the folder at path, which no other user may list, enter or change: mode 0700 on POSIX;
// on Windows a protected access list that grants the current user alone full control (nothing
// inherited from its parent). Never takes a folder that stood there before: false when anything
// stands at path. Throws std::system_error for any other failure (a missing parent, no right).
TOLVAN_PLATFORM_API bool CreatePrivateFolder(const std::string& path);

}  // namespace tolvan::platform
