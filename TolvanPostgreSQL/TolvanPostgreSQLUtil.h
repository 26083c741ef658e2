// The work behind the PostgreSQL plug-in's exports. TolvanPostgreSQL.cpp only forwards to these.
// Implemented by concern: Literals.cpp, VersionGuard.cpp, DumpRestore.cpp, Creation.cpp,
// SessionsRoles.cpp. Functions named after an export or an operation of the operator's documents
// take the host's argument names; the helpers are named for what they do.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "vesk/VeskPack5.h"

namespace tolvan::postgresql {

// ---------------------------------------------------------------------------------------------
// SQL literals

// Whether the server behind connection reads a backslash in a plain '...' literal as itself
// (standard_conforming_strings on), as the connection's information report gives the setting.
// False when the report says off or does not say.
bool StandardConformingStrings(TVeskSQLConnection* connection);

// value as a single-quoted literal the server reads back as value. Where backslashes are plain
// characters (standard_strings), or value holds none, it is ValorParaSQL's text: the value between
// single quotes with every single quote doubled. Otherwise it is E'...' with every backslash
// doubled as well, which every server reads the same whatever its setting.
std::string Literal(const std::string& value, bool standard_strings);

// ---------------------------------------------------------------------------------------------
// Version and tool guard

inline constexpr std::string_view kVersionSql = "select version()";

std::string Versao(TVeskDMConexao* DM);

// The server's version() text.
std::string PegarVersaoServidor(TVeskSQLConnection* Conn);

// The server major version cut out of a version() text ("PostgreSQL 17.2 on ..." -> "17").
std::string ServerMajorVersion(const std::string& version_text);

// The tool's version from its --version output: the output without tool + " (PostgreSQL)",
// trimmed.
std::string ToolVersion(const std::string& output, const std::string& tool);

// The text before the first "." of a tool version, trimmed.
std::string MajorOf(const std::string& version);

// The folder the tools are refreshed from: tool_folder without its delimiter + "17" for a server
// of major version "17", + "14" for any other.
std::string VersionFolder(const std::string& tool_folder, const std::string& server_major);

// Copies the whole tree of source into target, replacing files of the same name. A link in target
// is replaced by the copy, never written through.
void CopyFolderTree(const std::string& source, const std::string& target);

// Compares each tool's major version with the server's and refreshes the tool folder from the
// version folder when they differ (it copies files over the tool folder).
void VerificarVersaoFerramentas(TVeskSQLConnection* Conn, const std::string& ToolFolder,
                                const std::vector<std::string>& Tools);

// ---------------------------------------------------------------------------------------------
// Dump and restore

// The host program's folder + "PostgreSQL" + delimiter.
std::string ToolFolder();
// The host program's folder + "temp" + delimiter.
std::string TempFolder();

// A database key as the runners read it: server "/" port ":" database, the port 5432 when its
// text is not a valid integer.
struct RunnerKey {
  std::string server;
  int32_t port = 5432;
  std::string database;
};
RunnerKey SplitRunnerKey(const std::string& key);

inline constexpr const char* kToolFolderWhat = "A pasta das ferramentas do PostgreSQL";

// Refuses a path that holds a double quote (no file name can, and on a command line it would
// break out of its quotes) with a message naming what and the path.
void RefuseDoubleQuoteIn(const std::string& what, const std::string& path);

// True when pg_dump or pg_restore would not read database as a plain name: a connection string
// (it holds "=", or begins with "postgresql://" or "postgres://") or an option (it begins with
// "-"). Such a name goes on the command line as --dbname= and a connection string naming only it.
bool ReadsAsConnectionString(const std::string& database);

// The connection string that names only database: dbname='...', with \ and ' escaped by a
// backslash.
std::string ConnectionStringOfName(const std::string& database);

// The piece that names the database on a tool's command line: prefix and the name as it stands,
// or, for a name ReadsAsConnectionString, "--dbname=" and the connection string naming it.
std::string DatabaseArgument(const std::string& prefix, const std::string& database);

// Refuses, before pg_restore reads it, a tar dump that is cut or damaged or holds no table of
// contents (toc.dat), with a Portuguese message after "Backup:\r\n". A file that is missing, a
// folder (the directory format) or a custom-format dump (it begins with "PGDMP") is left to
// pg_restore.
void RefuseDamagedTarDump(const std::string& input_file);

std::string PgDumpCommandLine(const std::string& tool_folder, const std::string& host,
                              const std::string& port, const std::string& database,
                              const std::string& user, const std::string& output_file,
                              bool schema_only);

std::string PgRestoreCommandLine(const std::string& tool_folder, const std::string& host,
                                 const std::string& port, const std::string& database,
                                 const std::string& user, const std::string& input_file);

// The runners: the command file written, the tool run with the password in its own environment
// (PGPASSWORD; the process's environment never holds it), a failure raised.
void ExecutarPgDump(const std::string& ToolFolder, const std::string& Host, const std::string& Port,
                    const std::string& Database, const std::string& User,
                    const std::string& Password, const std::string& OutputFile, bool SchemaOnly);

void ExecutarPgRestore(const std::string& ToolFolder, const std::string& Host,
                       const std::string& Port, const std::string& Database,
                       const std::string& User, const std::string& Password,
                       const std::string& InputFile);

void CriarBackup(TVeskSQLConnection* Conn);

void CriarDataBaseVazia(TVeskDMConexao* DM, const std::string& DatabaseSpec);

// ---------------------------------------------------------------------------------------------
// Database creation

inline constexpr std::string_view kCollationSql =
    "SELECT datcollate FROM pg_database WHERE datname = current_database()";

// The name between double quotes, every double quote inside it doubled.
std::string QuotedIdentifier(const std::string& name);

std::string CreationStatement(const std::string& database_name);
std::string CollationStatement(const std::string& database_name, const std::string& collation,
                               bool standard_strings = true);

// Drops a database this plug-in made: with WITH (FORCE) from server major version 13 on
// (server_version as the driver encodes it: major * 10^10), so that the session of a tool that
// was just ended cannot hold it.
std::string DropStatement(const std::string& database_name, int64_t server_version);

// Whether a failure to open a new database is the server refusing its collation: the locale
// message, or its detail naming collation (the same in every language the server speaks).
bool IsCollationRefusal(const std::string& server_message, const std::string& collation);

// The collation text for new databases made through connection (see the two queries above).
std::string ChooseCollation(TVeskSQLConnection* connection);

// A new open connection to the maintenance database "postgres"; the caller owns it.
TVeskSQLConnection* CriarConexaoPostgres(const std::string& Server, const std::string& UserName,
                                         const std::string& Password, int32_t Port);

void CriarDataBase(TVeskDMConexao* DM, const std::string& DatabaseSpec, const std::string& UserName,
                   const std::string& Password);

// CriarDataBase, setting created as soon as the creation statement succeeded, so that a caller
// knows what to remove when a later step fails.
void CriarDataBase(TVeskDMConexao* DM, const std::string& DatabaseSpec, const std::string& UserName,
                   const std::string& Password, bool& created);

// Drops the database that CriarDataBase made for the same arguments, through the same kind of
// connection to the same server.
void DropCreatedDatabase(TVeskDMConexao* DM, const std::string& DatabaseSpec,
                         const std::string& UserName, const std::string& Password);

void CriarDataBaseFD(const std::string& Server, int32_t Port, const std::string& DatabaseName,
                     const std::string& UserName, const std::string& Password);

// ---------------------------------------------------------------------------------------------
// Sessions and roles

inline constexpr std::string_view kSessionsSql =
    "select datname || ' em ' || client_addr || ' no ' || COALESCE(application_name, "
    "'(LOCAL)')|| ' usuário '||usename  USERNAME from pg_stat_activity where datname is not null "
    "and datname = CURRENT_DATABASE() and usename <> 'zabbix' ";

inline constexpr std::string_view kRolesSql =
    "SELECT r.rolname, pg_catalog.shobj_description(r.oid, 'pg_authid') AS description FROM "
    "pg_catalog.pg_roles r";

// Valid UTF-8 of at most 63 bytes: a letter (any character outside ASCII counts) or "_", then
// letters, digits, "_" or "$"; no control character.
bool IsPlainIdentifier(const std::string& name);

std::string RoleStatement(const std::string& user_name, const std::string& password,
                          bool standard_strings = true);
std::string RoleCommentStatement(const std::string& user_name, const std::string& comment,
                                 bool standard_strings = true);

void PegarUsuarios(TVeskDMConexao* DM, std::vector<std::string>* _AUser);

void AddUser(TVeskDMConexao* DM, const std::string& UserName, const std::string& Password,
             const std::string& FirstName, const std::string& MiddleName,
             const std::string& LastName);

void PegarUser(TVeskDMConexao* DM, std::vector<std::string>* _AUsr);

}  // namespace tolvan::postgresql
