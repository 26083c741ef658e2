// A folder of the current user's alone, for a run's scratch files.
#pragma once

#include <string>

#include "platform/Export.h"

namespace tolvan::platform {

// Creates a new folder inside parent, named prefix followed by random characters, that no other
// user may list, enter or change: mode 0700 on POSIX; on Windows a protected access list that
// grants the current user alone full control (nothing inherited from parent). Never takes a
// folder that stood there before. Returns its path; throws std::system_error when it cannot be
// made.
TOLVAN_PLATFORM_API std::string CreatePrivateFolder(const std::string& parent,
                                                    const std::string& prefix);

}  // namespace tolvan::platform
