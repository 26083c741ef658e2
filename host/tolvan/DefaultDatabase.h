// The embedded database the Firebird plug-in works on when no --database is given.
#pragma once

#include <string>

#include "platform/DynamicLibrary.h"

namespace tolvan::cli {

// $XDG_DATA_HOME/tolvan, else $HOME/.local/share/tolvan, else %LOCALAPPDATA%/tolvan. Throws when
// none of them is set.
std::string DataDirectory();

std::string DefaultDatabasePath();

// The embedded engine keeps its lock files in FIREBIRD_LOCK; the system's default folder is not
// writable for ordinary users, so one of ours is used when the variable is unset.
void EnsureFirebirdLockFolder();

// The plug-ins' log entries are also appended to tolvan.log in the data folder (made when
// missing), as the host program keeps its log; returns that file, empty when there is no data
// folder.
std::string KeepLogInDataDirectory();

// Creates the default database (and its folder) when nothing stands at its path yet, always the
// same way: through the Firebird plug-in's CriarDataBase, so that it holds the plug-in's
// declarations whichever command is the first. The creation's notes go to the log alone; the
// database is made under a name of its own and takes the default name only once whole (a
// creation that fails or is killed leaves no half-made default behind), never over one that
// another run made meanwhile. Throws with the plug-in's message when the creation fails.
// Returns the path.
std::string CreateDefaultDatabaseWhenMissing(const tolvan::platform::DynamicLibrary& firebird,
                                             const std::string& user, const std::string& password);

}  // namespace tolvan::cli
