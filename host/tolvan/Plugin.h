// Finding a plug-in library from the command line's first word, and what it offers.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/DynamicLibrary.h"

namespace tolvan::cli {

// Bad input on the command line: reported with the usage, exit status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class PluginKind { Firebird, PostgreSQL, Oracle, MSSQL, Unknown };

struct PluginRef {
  std::string path;
  PluginKind kind = PluginKind::Unknown;
};

// "firebird", "postgresql", "oracle", "mssql": Tolvan<Name> in exe_dir (which ends with the path
// delimiter); anything holding a path delimiter or ending in the library suffix: that file, its
// kind read from its name. Throws UsageError for any other word.
PluginRef ResolvePlugin(const std::string& word, const std::string& exe_dir);

// The driver a plug-in's connection goes through; empty for an unknown kind.
std::string DriverNameFor(PluginKind kind);

// The family's names the library really exports, in the family's order.
std::vector<std::string> OfferedExports(const tolvan::platform::DynamicLibrary& library);

bool IsFamilyName(const std::string& name);

}  // namespace tolvan::cli
