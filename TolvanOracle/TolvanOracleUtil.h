// The work behind the Oracle plug-in's exports. TolvanOracle.cpp only forwards to these.
// Implemented by concern: OracleExportImport.cpp (the EXP and IMP runs), OracleUsers.cpp
// (sessions, version, users, schema creation), UnicodeLetters.cpp (the letters of names).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "vesk/VeskPack5.h"

namespace tolvan::oracle {

// ---------------------------------------------------------------------------------------------
// Export and import through the classic tools

// The tools' names, without a folder ("EXP.EXE" and "IMP.EXE" on Windows, "exp" and "imp" else).
std::string_view ExportTool();
std::string_view ImportTool();

// The service a tool connects to: with strip_prefix, a host prefix of two or more characters
// before the first ":" is dropped; otherwise the connect string as it is. The export passes its
// flag; the import always strips, so that it loads into the database the export read.
std::string ConnectService(const std::string& connect, bool strip_prefix);

// The base of the dump and log names, the same for the export and the import: the file name
// without the extension of its file-name part (from its last "."; a "." in a folder stays).
std::string DumpBase(const std::string& file);

// A piece holding a blank, a tab or a double quote is quoted by the Microsoft C runtime's rules;
// other pieces stand as they are.
std::string ExportCommandLine(const std::string& user, const std::string& password,
                              const std::string& service, const std::string& base);
std::string ExportCommandLine(const std::string& user, const std::string& password,
                              const std::string& service, const std::string& dump_file,
                              const std::string& log_file);
std::string ImportCommandLine(const std::string& user, const std::string& password,
                              const std::string& service, const std::string& base);

// What messages show in place of the password the tools must get on their command line.
inline constexpr const char* kMaskedPassword = "***";

// Refuses, with a message that begins with heading and names the file, a file name that holds a
// double quote or that has no file name before its extension.
void RefuseUnusableFileName(const char* heading, const std::string& file);

// RestoreConn's target: given the connection's host prefix unless it carries one of its own (a
// connect string without ":" is taken whole as that prefix).
std::string RestoreConnTarget(const std::string& target, const std::string& connection_database);

void Backup(const std::string& Database, const std::string& User, const std::string& Password,
            const std::string& File, bool StripPrefix, TVeskFraProgresso* Frame, bool Circular);
void Restore(const std::string& Database, const std::string& User, const std::string& Password,
             const std::string& File, TVeskFraProgresso* Frame, bool Circular);
void BackupConn(TVeskDMConexao* DM, const std::string& File, bool StripPrefix,
                TVeskFraProgresso* Frame, bool Circular);
void RestoreConn(TVeskDMConexao* DM, const std::string& Password, const std::string& File,
                 const std::string& Target, bool StripPrefix, TVeskFraProgresso* Frame,
                 bool Circular);

// ---------------------------------------------------------------------------------------------
// Sessions, version, users and schema creation

inline constexpr std::string_view kVersaoSql =
    "SELECT PROPERTY_VALUE FROM DATABASE_PROPERTIES WHERE PROPERTY_NAME= 'NLS_RDBMS_VERSION' ";

// Whether a character beyond ASCII is a letter, or a mark written with one (of any script: the
// server refuses what its character set lacks). ASCII letters are not asked about.
bool IsLetterOrMark(char32_t c);
// The capital of a small letter, where it is one character; any other character as it is.
char32_t UpperCase(char32_t c);

// The session query for the user's name as an SQL literal.
std::string SessionsSql(const std::string& user_literal);

// The statements AddUser, DeleteUser and ModifyUser send, in order.
std::vector<std::string> AddUserStatements(const std::string& user, const std::string& password,
                                           const std::string& tablespace);
std::string DeleteUserStatement(const std::string& user);
std::string ModifyUserStatement(const std::string& user, const std::string& password);
// The eighteen statements of CriarDataBase for the upper-cased names and the password.
std::vector<std::string> CriarDataBaseStatements(const std::string& user,
                                                 const std::string& password,
                                                 const std::string& tablespace);

void PegarUsuarios(TVeskDMConexao* DM, std::vector<std::string>* _AUser);
std::string Versao();
void AddUser(const std::string& AUserName, const std::string& AUserPass,
             const std::string& AGroupName);
void DeleteUser(const std::string& AUserName);
void ModifyUser(const std::string& AUserName, const std::string& AUserPass);
void CriarDataBase(TVeskDMConexao* DM, const std::string& Database, const std::string& User,
                   const std::string& Password);

}  // namespace tolvan::oracle
