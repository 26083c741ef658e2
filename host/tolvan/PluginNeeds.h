// What the plug-ins other than Firebird's need that this machine does not give them, as the tour
// says it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tolvan::cli {

struct MachineOffer {
  // pg_dump and pg_restore in the application folder's PostgreSQL/.
  bool postgres_tools = false;
  // The installed ODBC drivers; nothing when this tolvan is built without the ODBC driver.
  std::optional<std::vector<std::string>> odbc_drivers;
};

// What this machine offers: the tools beside the program in app_dir, the ODBC drivers installed.
MachineOffer ThisMachine(const std::string& app_dir);

// One sentence: what each of the PostgreSQL, Oracle and SQL Server plug-ins still needs.
std::string OtherPluginNeeds(const MachineOffer& offer);

}  // namespace tolvan::cli
