// The report of who is connected, as the plug-ins read it through the host's toolkit.
#pragma once

#include <string>
#include <vector>

#include "vesk/VeskPack5.h"

namespace tolvan::support {

// Appends the USERNAME of each row of sql, read on the toolkit's default connection inside the
// module's transaction 1 (committed, or rolled back after a failure). Nothing fails the caller:
// a report of who is connected is never worth it, and the lines read so far stay.
void AppendSessionsQuietly(TVeskDMConexao* DM, const std::string& sql,
                           std::vector<std::string>& list);

}  // namespace tolvan::support
