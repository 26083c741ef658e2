// The work behind the Firebird plug-in's exports. TolvanFirebird.cpp only forwards to these.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "vesk/VeskPack5.h"

namespace tolvan::firebird {

inline constexpr std::string_view kOdsSql =
    "select MON$ODS_MAJOR||'.'||MON$ODS_MINOR ODS from MON$DATABASE";

inline constexpr std::string_view kAttachmentsSql =
    "select trim(MON$USER) || ' em ' || trim(MON$REMOTE_ADDRESS) || ' no ' || "
    "trim(MON$REMOTE_PROCESS) USERNAME from MON$ATTACHMENTS where MON$USER <> 'Cache Writer' and "
    "MON$USER <> 'Garbage Collector'";

inline constexpr std::string_view kServerVersionName = "Server version ";

// The version part of the version line, taken from an information report (lines of the form
// name " = " value): the "Server version " value, trimmed, up to its first line end. The whole
// value when it is one line (the embedded engine reports one). Empty when the report has none.
std::string VersionFromInfoReport(const std::vector<std::string>& report);

// Server version and on-disk structure of the module's database, on a clone of its connection:
// "<version> ODS <major.minor>".
std::string Versao(TVeskDMConexao* DM);

// Appends one line per attachment to the module's database; every failure after the argument
// check is swallowed.
void PegarUsuarios(TVeskDMConexao* DM, std::vector<std::string>* _AUser);

std::string PegarPlan(TVeskDMConexao* DM, const std::string& SQL);

}  // namespace tolvan::firebird
