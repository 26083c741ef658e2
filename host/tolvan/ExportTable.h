// What each export takes on tolvan's command line: the options that fill its arguments, the ones
// it cannot do without, and one line that says what it does. The same table checks a command line
// before anything runs and writes a plug-in's help.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Plugin.h"

namespace tolvan::cli {

struct OptionHelp {
  const char* name;     // "--file"
  const char* value;    // "ARQUIVO", or nullptr for a flag
  const char* meaning;  // in Portuguese
};

// Every option tolvan has, in the order the help shows them. The first ones build the connection.
const std::vector<OptionHelp>& AllOptions();
bool IsConnectionOption(const std::string& option);
// The options every export takes: they change what tolvan shows, not what the export gets.
const std::vector<std::string>& EverywhereOptions();

// `tolvan <plug-in> backups --file <name>` lists the dated backups of a name; it is tolvan's own,
// no export of the plug-in.
inline constexpr const char* kListBackups = "backups";
// Throws UsageError when the listing lacks --file or is given an option it does not take.
void CheckListingOptions(const std::vector<std::string>& given);

struct ExportOptions {
  std::string description;
  bool connection = true;  // takes the connection options
  std::vector<std::string> required;
  std::vector<std::string> optional;

  bool Takes(const std::string& option) const;
};

// The options of an export of the family for a plug-in of that kind (a plug-in that reads fewer
// arguments than the family's list takes fewer options). nullopt for a name outside the family.
std::optional<ExportOptions> OptionsOf(PluginKind kind, const std::string& export_name);

// The candidate nearest to a word (case is not counted): "Backp" among the exports gives
// "Backup", "versao" gives "Versao", "databse" among the options "database". nullopt when none
// is near enough to be meant.
std::optional<std::string> Nearest(const std::string& word,
                                   const std::vector<std::string>& candidates);

// Checks the options given on a command line (their long names) against the export: throws
// UsageError naming the first required option missing, or the first one that does not apply.
void CheckOptions(PluginKind kind, const std::string& export_name,
                  const std::vector<std::string>& given);

}  // namespace tolvan::cli
