// The work behind the SQL Server plug-in's exports. TolvanMSSQL.cpp only forwards to these.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "vesk/VeskPack5.h"

namespace tolvan::mssql {

inline constexpr std::string_view kSessionsSql =
    "select trim(loginame) + ' em ' + trim(hostname) + ' no ' + trim(program_name) USERNAME from "
    "SYSPROCESSES where DBID = (SELECT database_id FROM sys.dm_exec_sessions WHERE session_id = "
    "@@SPID)";

// The names CriarDataBase derives from the path of the data file.
struct DatabaseFiles {
  std::string data_file;  // the path with the extension ".mdf"
  std::string name;       // the data file's name without ".mdf"
  std::string log_file;   // the data file without ".mdf", then "_log.ldf"
};
DatabaseFiles DeriveDatabaseFiles(const std::string& path);

// The CREATE DATABASE statement and the 28 ALTER DATABASE statements, in order. A "]" inside the
// bracketed name and a "'" inside an N'...' literal are doubled.
std::vector<std::string> CriarDataBaseStatements(const DatabaseFiles& files);

// The server's version number as text: its digits with "." after the first two, the next four
// and the next two (support DottedVersion).
std::string Versao(TVeskDMConexao* DM);
// Appends one line per session attached to the current database; every failure after the list
// check is swallowed, after a roll-back of the module's transaction 1.
void PegarUsuarios(TVeskDMConexao* DM, std::vector<std::string>* _AUser);
void CriarDataBase(TVeskDMConexao* DM, const std::string& Path);

}  // namespace tolvan::mssql
