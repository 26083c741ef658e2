// Sessions, release, database users and schema creation, in plain SQL.
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "TolvanOracleUtil.h"
#include "platform/Text.h"
#include "tolvan/support/Guards.h"
#include "tolvan/support/Text.h"
#include "vesk/VeskPack5.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::oracle {
namespace {

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool IsControl(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// Oracle keeps names of up to 128 bytes in the database's character set, where a character takes
// one byte or more: a longer name can never be taken. How many bytes a shorter one takes is the
// server's to judge, by its own character set.
constexpr std::size_t kMaxNameCharacters = 128;

void RequireNotEmpty(const std::string& value, const char* export_name, const char* argument) {
  if (value.empty()) {
    throw std::runtime_error(std::string(export_name) + ": " + argument + " não poder ser nil");
  }
}

std::u32string RequireUtf8WithoutControls(const std::string& value, const std::string& what,
                                          bool controls_allowed) {
  const std::optional<std::u32string> chars = tolvan::platform::DecodeUtf8(value);
  if (!chars) {
    throw std::runtime_error(what + " não é um texto UTF-8 válido");
  }
  for (const char32_t c : *chars) {
    if (c == 0 || (!controls_allowed && IsControl(c))) {
      throw std::runtime_error(what + " não pode conter caracteres de controle");
    }
  }
  return *chars;
}

void RequireNameLength(std::size_t characters, const std::string& what) {
  if (characters > kMaxNameCharacters) {
    throw std::runtime_error(what + " tem mais de " + std::to_string(kMaxNameCharacters) +
                             " caracteres; o Oracle aceita nomes de até " +
                             std::to_string(kMaxNameCharacters) + " bytes");
  }
}

// A name or password that goes into a statement unquoted is either an unquoted identifier
// (letters, digits, "_", "$" and "#") or, whole, a quoted one: a double quote, one or more
// characters other than a double quote, a double quote. Anything else would end its place in the
// statement.
void RequireUnquotedIdentifier(const std::string& value, const char* export_name,
                               const char* argument, bool is_name = true) {
  const std::string what = std::string(export_name) + ": " + argument;
  const std::u32string chars = RequireUtf8WithoutControls(value, what, !is_name);
  const bool quoted = chars.size() >= 3 && chars.front() == U'"' && chars.back() == U'"' &&
                      chars.find(U'"', 1) == chars.size() - 1;
  if (!quoted) {
    for (const char32_t c : chars) {
      const bool ok = (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z') ||
                      (c >= U'0' && c <= U'9') || c == U'_' || c == U'$' || c == U'#' ||
                      (c >= 0x80 && IsLetterOrMark(c));
      if (!ok) {
        throw std::runtime_error(
            what + " só pode ter letras, dígitos, _, $ e #, ou estar toda entre aspas duplas");
      }
    }
  }
  if (is_name) {
    RequireNameLength(quoted ? chars.size() - 2 : chars.size(), what);
  }
}

// A value that goes into a statement between double quotes may not hold one (nor a NUL).
void RequireQuotable(const std::string& value, const char* export_name, const char* argument,
                     bool is_name = true) {
  const std::string what = std::string(export_name) + ": " + argument;
  const std::u32string chars = RequireUtf8WithoutControls(value, what, !is_name);
  if (chars.find(U'"') != std::u32string::npos) {
    throw std::runtime_error(what + " não pode ter aspas duplas");
  }
  if (is_name) {
    RequireNameLength(chars.size(), what);
  }
}

// Upper case as Oracle gives it to unquoted names: each small letter becomes its capital.
std::string Upper(const std::string& text) {
  const std::optional<std::u32string> chars = tolvan::platform::DecodeUtf8(text);
  if (!chars) {
    // Not UTF-8: only what is surely a letter of ASCII changes.
    return support::AsciiUpper(text);
  }
  std::string out;
  for (const char32_t c : *chars) {
    AppendUtf8(out, UpperCase(c));
  }
  return out;
}

using support::QueryGuard;

TVeskQuery* Open(const std::string& sql) {
  return ExecutarSQL(sql, nullptr, false, false, 10, "", nullptr, true);
}

}  // namespace

std::string SessionsSql(const std::string& user_literal) {
  return "SELECT USERNAME || ' em ' || MACHINE || ' no ' || PROGRAM USERNAME FROM SYS.V_$SESSION "
         "WHERE USERNAME IS NOT NULL and USERNAME <> 'SYSMAN' and USERNAME <> 'DBSNMP'and SCHEMA# "
         "IN (SELECT SCHEMA# FROM SYS.V_$SESSION WHERE USERNAME = " +
         user_literal + ")";
}

std::vector<std::string> AddUserStatements(const std::string& user, const std::string& password,
                                           const std::string& tablespace) {
  return {"CREATE USER " + user + " PROFILE DEFAULT IDENTIFIED BY " + password +
              " DEFAULT TABLESPACE " + tablespace + " ACCOUNT UNLOCK ",
          "GRANT CONNECT TO " + user + " WITH ADMIN OPTION ",
          "GRANT DBA TO " + user + " WITH ADMIN OPTION "};
}

std::string DeleteUserStatement(const std::string& user) {
  return "DROP USER " + user;
}

std::string ModifyUserStatement(const std::string& user, const std::string& password) {
  return "ALTER USER " + user + " IDENTIFIED BY " + password;
}

std::vector<std::string> CriarDataBaseStatements(const std::string& user,
                                                 const std::string& password,
                                                 const std::string& tablespace) {
  const std::string to = " TO \"" + user + "\"";
  return {
      "CREATE USER \"" + user + "\" PROFILE \"DEFAULT\" IDENTIFIED BY \"" + password +
          "\" DEFAULT TABLESPACE \"" + tablespace +
          "\" TEMPORARY TABLESPACE \"TEMP\" ACCOUNT UNLOCK",
      "GRANT \"CONNECT\"" + to,
      "GRANT \"RESOURCE\"" + to,
      "GRANT alter SESSION" + to,
      "GRANT CREATE PROCEDURE" + to,
      "GRANT CREATE SEQUENCE" + to,
      "GRANT CREATE SESSION" + to,
      "GRANT CREATE TABLE" + to,
      "GRANT CREATE TRIGGER" + to,
      "GRANT CREATE TYPE" + to,
      "GRANT CREATE VIEW " + to,
      "GRANT UNLIMITED TABLESPACE" + to,
      "GRANT SELECT ON V_$DATABASE" + to,
      "GRANT SELECT ON V_$DATAFILE" + to,
      "GRANT SELECT ON V_$INSTANCE" + to,
      "GRANT SELECT ON V_$SESSION" + to,
      "GRANT SELECT ON V_$TABLESPACE" + to,
      "GRANT SELECT ON V_$VERSION" + to,
  };
}

void PegarUsuarios(TVeskDMConexao* DM, std::vector<std::string>* _AUser) {
  if (_AUser == nullptr) {
    throw std::runtime_error("PegarUsuarios: _AUser não poder ser nil");
  }
  const std::string user = Upper(support::ConnectionOf(DM, "PegarUsuarios").GetParam("USER_NAME"));
  QueryGuard query(Open(SessionsSql(ValorParaSQL(user))));
  SDS(query.get())->FetchAll = true;
  const int field = (*query).FieldIndex("USERNAME");
  for ((*query).First(); !(*query).Eof(); (*query).Next()) {
    _AUser->push_back((*query).FieldAsString(field));
  }
}

std::string Versao() {
  QueryGuard query(Open(std::string(kVersaoSql)));
  SDS(query.get())->FetchAll = true;
  return (*query).FieldByName("PROPERTY_VALUE");
}

void AddUser(const std::string& AUserName, const std::string& AUserPass,
             const std::string& AGroupName) {
  RequireNotEmpty(AUserName, "AddUser", "AUserName");
  RequireNotEmpty(AUserPass, "AddUser", "AUserPass");
  RequireNotEmpty(AGroupName, "AddUser", "AGroupName");
  RequireUnquotedIdentifier(AUserName, "AddUser", "AUserName");
  RequireUnquotedIdentifier(AUserPass, "AddUser", "AUserPass", false);
  RequireUnquotedIdentifier(AGroupName, "AddUser", "AGroupName");
  for (const auto& statement : AddUserStatements(AUserName, AUserPass, AGroupName)) {
    ExecutarSQLDireto(statement);
  }
}

void DeleteUser(const std::string& AUserName) {
  RequireNotEmpty(AUserName, "DeleteUser", "AUserName");
  RequireUnquotedIdentifier(AUserName, "DeleteUser", "AUserName");
  ExecutarSQLDireto(DeleteUserStatement(AUserName));
}

void ModifyUser(const std::string& AUserName, const std::string& AUserPass) {
  // The same texts as AddUser's.
  RequireNotEmpty(AUserName, "AddUser", "AUserName");
  RequireNotEmpty(AUserPass, "AddUser", "AUserPass");
  RequireUnquotedIdentifier(AUserName, "ModifyUser", "AUserName");
  RequireUnquotedIdentifier(AUserPass, "ModifyUser", "AUserPass", false);
  ExecutarSQLDireto(ModifyUserStatement(AUserName, AUserPass));
}

void CriarDataBase(TVeskDMConexao* DM, const std::string& Database, const std::string& User,
                   const std::string& Password) {
  RequireQuotable(Database, "CriarDataBase", "Database");
  RequireQuotable(User, "CriarDataBase", "User");
  RequireQuotable(Password, "CriarDataBase", "Password", false);
  TVeskSQLConnection& connection = support::ConnectionOf(DM, "CriarDataBase");
  for (const auto& statement : CriarDataBaseStatements(Upper(User), Password, Upper(Database))) {
    connection.ExecuteDirect(statement);
  }
}

}  // namespace tolvan::oracle
