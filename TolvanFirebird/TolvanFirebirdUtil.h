// The work behind the Firebird plug-in's exports. TolvanFirebird.cpp only forwards to these.
#pragma once

#include <optional>
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

// ---------------------------------------------------------------------------------------------
// Backup and restore through gbak, behind the tool-version guard

// Application directory + "gbak" (".exe" on Windows).
std::string GbakToolPath(const std::string& app_dir);

// The message file the guard compares: the registry folder as it is + "firebird.msg", or, when
// the value is missing or empty, the parent folder of app_dir + "firebird.msg".
std::string FirebirdMsgPath(const std::string& app_dir,
                            const std::optional<std::string>& default_instance);

// Compares gbak with the expected client version, the client library and the message file with
// gbak; swaps in kept copies or warns (report: the gbak mismatch box, Backup only). Returns the
// tool path.
std::string VerificarVersaoGbak(const std::string& expected, const std::string& library,
                                bool report);

// The database as gbak gets it and the host of the service part (empty: no service part).
struct ServiceSplit {
  std::string database;
  std::string host;
};
ServiceSplit SplitServiceHost(const std::string& database, bool service);

// The gbak arguments after " -b -z" (backup) and after the tool path (restore).
std::string GbakBackupArguments(const std::string& database, const std::string& user,
                                const std::string& password, const std::string& file,
                                const std::string& service_host, bool quiet, bool metadata_only);
std::string GbakRestoreArguments(const std::string& target, const std::string& user,
                                 const std::string& password, const std::string& file,
                                 const std::string& service_host, bool quiet,
                                 bool inactive_indexes);

// RestoreConn's target: prefixed with the connection's host unless it names one of its own.
std::string RestoreConnTarget(const std::string& target, const std::string& database_key);

void Backup(const std::string& Database, const std::string& User, const std::string& Password,
            const std::string& File, bool Service, TVeskFraProgresso* Frame, bool Circular,
            bool Quiet, const std::string& ClientVersion, const std::string& ClientLibrary,
            bool MetadataOnly);
void BackupConn(TVeskDMConexao* DM, const std::string& File, bool Service, TVeskFraProgresso* Frame,
                bool Circular, bool MetadataOnly);
void Restore(const std::string& Target, const std::string& User, const std::string& Password,
             const std::string& File, bool Service, TVeskFraProgresso* Frame, bool Circular,
             bool Quiet, const std::string& ClientVersion, const std::string& ClientLibrary,
             bool InactiveIndexes);
void RestoreConn(TVeskDMConexao* DM, const std::string& Password, const std::string& File,
                 const std::string& Target, bool Service, TVeskFraProgresso* Frame, bool Circular,
                 bool InactiveIndexes);

}  // namespace tolvan::firebird
