// The work behind the PostgreSQL plug-in's exports. TolvanPostgreSQL.cpp only forwards to these.
// Implemented by concern: Literals.cpp, VersionGuard.cpp, DumpRestore.cpp, Creation.cpp,
// SessionsRoles.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "vesk/VeskPack5.h"

namespace tolvan::postgresql {

// ---------------------------------------------------------------------------------------------
// SQL literals

// Whether the server behind Conn reads a backslash in a plain '...' literal as itself
// (standard_conforming_strings on), as the connection's information report gives the setting.
// False when the report says off or does not say.
bool StandardConformingStrings(TVeskSQLConnection* Conn);

// Value as a single-quoted literal the server reads back as Value. Where backslashes are plain
// characters (StandardStrings), or Value holds none, it is ValorParaSQL's text: the value between
// single quotes with every single quote doubled. Otherwise it is E'...' with every backslash
// doubled as well, which every server reads the same whatever its setting.
std::string Literal(const std::string& Value, bool StandardStrings);

// ---------------------------------------------------------------------------------------------
// Version and tool guard

inline constexpr std::string_view kVersionSql = "select version()";

// The decimal digits of Number with "." inserted at positions 3, 8 and 11 (counted from 1 in the
// text each insertion leaves); a position past the end appends the "." instead.
std::string FormatarVersao(int64_t Number);

std::string Versao(TVeskDMConexao* DM);

// The server's version() text.
std::string PegarVersaoServidor(TVeskSQLConnection* Conn);

// The server major version cut out of a version() text ("PostgreSQL 17.2 on ..." -> "17").
std::string ServerMajorVersion(const std::string& VersionText);

// The tool's version from its --version output: the output without Tool + " (PostgreSQL)",
// trimmed.
std::string ToolVersion(const std::string& Output, const std::string& Tool);

// The text before the first "." of a tool version, trimmed.
std::string MajorOf(const std::string& Version);

// The folder the tools are refreshed from: ToolFolder without its delimiter + "17" for a server
// of major version "17", + "14" for any other.
std::string VersionFolder(const std::string& ToolFolder, const std::string& ServerMajor);

// Copies the whole tree of Source into Target, replacing files of the same name. A link in Target
// is replaced by the copy, never written through.
void CopyFolderTree(const std::string& Source, const std::string& Target);

void VerificarVersaoFerramentas(TVeskSQLConnection* Conn, const std::string& ToolFolder,
                                const std::vector<std::string>& Tools);

// ---------------------------------------------------------------------------------------------
// Dump and restore

// The host program's folder + "PostgreSQL" + delimiter.
std::string ToolFolder();
// The host program's folder + "temp" + delimiter.
std::string TempFolder();

struct DatabaseKeyParts {
  std::string server;
  int32_t port = 5432;
  std::string database;
};

// server "/" port ":" database; a port that is not a valid integer reads as 5432.
DatabaseKeyParts SplitDatabaseKey(std::string Key);

// Texts of the command line that stand as they are, unless they hold a blank, a tab or a double
// quote, or are empty: then they are quoted so that they stay one argument.
std::string CommandLineArgument(const std::string& Text);

// A tool's own path on its command line: quoted when it holds a blank or a tab.
std::string ProgramArgument(const std::string& Path);

// A path between double quotes, with the backslashes at its end doubled so that they do not
// escape the closing quote.
std::string QuotedPath(const std::string& Path);

inline constexpr const char* kToolFolderWhat = "A pasta das ferramentas do PostgreSQL";

// Refuses a path that holds a double quote (no file name can, and on a command line it would
// break out of its quotes) with a message naming What and the path.
void RecusarAspas(const std::string& What, const std::string& Path);

// True when pg_dump or pg_restore would not read Database as a plain name: a connection string
// (it holds "=", or begins with "postgresql://" or "postgres://") or an option (it begins with
// "-"). Such a name goes on the command line as --dbname= and a connection string naming only it.
bool NomeLidoComoConexao(const std::string& Database);

// The connection string that names only Database: dbname='...', with \ and ' escaped by a
// backslash.
std::string ConexaoSomenteDoBanco(const std::string& Database);

// The piece that names the database on a tool's command line: Prefix and the name as it stands,
// or, for a name NomeLidoComoConexao, "--dbname=" and the connection string naming it.
std::string DatabaseArgument(const std::string& Prefix, const std::string& Database);

// Refuses, before pg_restore reads it, a tar dump that is cut or damaged or holds no table of
// contents (toc.dat), with a Portuguese message after "Backup:\r\n". A file that is missing, a
// folder (the directory format) or a custom-format dump (it begins with "PGDMP") is left to
// pg_restore.
void ConferirDumpTar(const std::string& InputFile);

std::string PgDumpCommandLine(const std::string& ToolFolder, const std::string& Host,
                              const std::string& Port, const std::string& Database,
                              const std::string& User, const std::string& OutputFile,
                              bool SchemaOnly);

std::string PgRestoreCommandLine(const std::string& ToolFolder, const std::string& Host,
                                 const std::string& Port, const std::string& Database,
                                 const std::string& User, const std::string& InputFile);

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
std::string QuotedIdentifier(const std::string& Name);

std::string CreationStatement(const std::string& DatabaseName);
std::string CollationStatement(const std::string& DatabaseName, const std::string& Collation,
                               bool StandardStrings = true);

// Drops a database this plug-in made: with WITH (FORCE) from server major version 13 on
// (ServerVersion as the driver encodes it: major * 10^10), so that the session of a tool that was
// just ended cannot hold it.
std::string DropStatement(const std::string& DatabaseName, int64_t ServerVersion);

// Whether a failure to open a new database is the server refusing its collation: the locale
// message, or its detail naming Collation (the same in every language the server speaks).
bool RecusaDeCollation(const std::string& ServerMessage, const std::string& Collation);

// The collation text for new databases made through Conn (see the two queries above).
std::string EscolherCollation(TVeskSQLConnection* Conn);

// A new open connection to the maintenance database "postgres"; the caller owns it.
TVeskSQLConnection* CriarConexaoPostgres(const std::string& Server, const std::string& UserName,
                                         const std::string& Password, int32_t Port);

void CriarDataBase(TVeskDMConexao* DM, const std::string& DatabaseSpec, const std::string& UserName,
                   const std::string& Password);

// CriarDataBase, setting Created as soon as the creation statement succeeded, so that a caller
// knows what to remove when a later step fails.
void CriarDataBase(TVeskDMConexao* DM, const std::string& DatabaseSpec, const std::string& UserName,
                   const std::string& Password, bool& Created);

// Drops the database that CriarDataBase made for the same arguments, through the same kind of
// connection to the same server.
void ExcluirDataBase(TVeskDMConexao* DM, const std::string& DatabaseSpec,
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
bool IsPlainIdentifier(const std::string& Name);

std::string RoleStatement(const std::string& UserName, const std::string& Password,
                          bool StandardStrings = true);
std::string RoleCommentStatement(const std::string& UserName, const std::string& Comment,
                                 bool StandardStrings = true);

void PegarUsuarios(TVeskDMConexao* DM, std::vector<std::string>* _AUser);

void AddUser(TVeskDMConexao* DM, const std::string& UserName, const std::string& Password,
             const std::string& FirstName, const std::string& MiddleName,
             const std::string& LastName);

void PegarUser(TVeskDMConexao* DM, std::vector<std::string>* _AUsr);

}  // namespace tolvan::postgresql
