// What a backup run to a file of this machine takes around it: the lock of its final name, so
// that two runs never write one name at once, and with --keep the dated name it writes under and
// the rotation of that name's backups once it succeeded. Also the listing of those backups.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "Options.h"
#include "Plugin.h"

namespace tolvan::cli {

// The file a backup export of the command line puts in place on this machine (the operator's
// name, before any date is added); nothing for a run that writes no file here (another export, a
// backup the service manager of another host writes there).
std::optional<std::string> LocalBackupName(PluginKind kind, const Options& o);

// Runs body under the lock of final_name: waits for a run that holds it, or with --no-wait
// returns kExitBusy at once. With --keep, run.file is set to the next dated name first, and once
// body returned 0 the backups of the name beyond --keep are removed and a line says which.
// `interrupted` gives the status of a run interrupted while it waited.
int RunBackupSeries(const std::string& final_name, Options& run, std::ostream& err,
                    const std::function<int()>& body, const std::function<int()>& interrupted);

// `tolvan <plug-in> backups --file <name>`: the dated backups of the name on out, one line each.
int ListBackups(const Options& o, std::ostream& out, std::ostream& err);

}  // namespace tolvan::cli
