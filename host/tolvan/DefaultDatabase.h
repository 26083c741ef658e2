// The embedded database the Firebird plug-in works on when no --database is given.
#pragma once

#include <string>

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

// Creates the default database (and its folder) when it does not exist yet; returns its path.
std::string EnsureDefaultDatabase(const std::string& client_library);

}  // namespace tolvan::cli
