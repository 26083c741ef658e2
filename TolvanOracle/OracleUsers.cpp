// Sessions, release, database users and schema creation, in plain SQL.
#include <stdexcept>
#include <string>
#include <vector>

#include "TolvanOracleUtil.h"
#include "vesk/VeskPack5.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::oracle {
namespace {

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return text;
}

void RequireNotEmpty(const std::string& value, const char* export_name, const char* argument) {
  if (value.empty()) {
    throw std::runtime_error(std::string(export_name) + ": " + argument + " não poder ser nil");
  }
}

// A name or password that goes into a statement unquoted may hold only an identifier's letters,
// digits, "_", "$" and "#": anything else would end its place in the statement.
void RequireUnquotedIdentifier(const std::string& value, const char* export_name,
                               const char* argument) {
  for (const char c : value) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '$' || c == '#';
    if (!ok) {
      throw std::runtime_error(std::string(export_name) + ": " + argument +
                               " só pode ter letras, dígitos, _, $ e #");
    }
  }
}

// A value that goes into a statement between double quotes may not hold one (nor a NUL).
void RequireQuotable(const std::string& value, const char* export_name, const char* argument) {
  if (value.find_first_of(std::string("\"\0", 2)) != std::string::npos) {
    throw std::runtime_error(std::string(export_name) + ": " + argument +
                             " não pode ter aspas duplas");
  }
}

// Frees the query on every way out.
class QueryGuard {
 public:
  explicit QueryGuard(TVeskQuery* query) : query_(query) {}
  ~QueryGuard() { DestruirSQL(query_); }
  QueryGuard(const QueryGuard&) = delete;
  QueryGuard& operator=(const QueryGuard&) = delete;
  TVeskQuery& operator*() const { return *query_; }
  TVeskQuery* get() const { return query_; }

 private:
  TVeskQuery* query_;
};

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
  if (DM == nullptr || DM->SQLConnection == nullptr) {
    throw std::runtime_error("PegarUsuarios: DM não poder ser nil");
  }
  const std::string user = Upper(DM->SQLConnection->GetParam("USER_NAME"));
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
  RequireUnquotedIdentifier(AUserPass, "AddUser", "AUserPass");
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
  RequireUnquotedIdentifier(AUserPass, "ModifyUser", "AUserPass");
  ExecutarSQLDireto(ModifyUserStatement(AUserName, AUserPass));
}

void CriarDataBase(TVeskDMConexao* DM, const std::string& Database, const std::string& User,
                   const std::string& Password) {
  RequireQuotable(Database, "CriarDataBase", "Database");
  RequireQuotable(User, "CriarDataBase", "User");
  RequireQuotable(Password, "CriarDataBase", "Password");
  if (DM == nullptr || DM->SQLConnection == nullptr) {
    throw std::runtime_error("CriarDataBase: DM não poder ser nil");
  }
  for (const auto& statement : CriarDataBaseStatements(Upper(User), Password, Upper(Database))) {
    DM->SQLConnection->ExecuteDirect(statement);
  }
}

}  // namespace tolvan::oracle
