// CriarDataBase, CriarDataBaseFD and the connection to the maintenance database.
#include <climits>
#include <cstdint>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>

#include "TolvanPostgreSQLUtil.h"
#include "WritableTransaction.h"
#include "tolvan/support/DatabaseKey.h"
#include "tolvan/support/Guards.h"
#include "tolvan/support/Text.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::postgresql {

namespace {

// Each clause is one blank and the clause padded to 25 characters.
constexpr std::string_view kOwner = " owner      = postgres   ";
constexpr std::string_view kEncoding = " encoding   = ";
constexpr std::string_view kTablespace = " tablespace = pg_default ";
constexpr std::string_view kConnectionLimit = " connection limit = -1   ";
constexpr std::string_view kTemplate = " template = template0    ";
constexpr std::string_view kIsTemplate = " is_template = False     ";
static_assert(kOwner.size() == 25 && kTablespace.size() == 25 && kConnectionLimit.size() == 25 &&
              kTemplate.size() == 25 && kIsTemplate.size() == 25 && kEncoding.size() == 14);

bool HasParam(const TVeskSQLConnection& connection, const std::string& name) {
  const std::string prefix = name + "=";
  for (const std::string& line : connection.Params) {
    if (support::EqualsIgnoringCase(line.substr(0, prefix.size()), prefix)) {
      return true;
    }
  }
  return false;
}

// The server accepts a collation its operating system lacks, and the database is then one that
// no connection can open: connecting once, as the creator, is what tells. The connection goes to
// the creator's server and port with the creator's credentials; a port the creator left to the
// client library's default is left to it here too.
void CheckNewDatabaseOpens(TVeskSQLConnection* creator, const std::string& name,
                           const std::string& collation) {
  auto check = std::make_unique<TVeskSQLConnection>();
  check->DriverName = creator->DriverName;
  check->ClientLibrary = creator->ClientLibrary;
  check->Params = creator->Params;
  if (!HasParam(*creator, "Server") && !HasParam(*creator, "HostName")) {
    const support::DatabaseKey key = support::SplitDatabaseKey(creator->GetDATABASENAME_KEY());
    if (key.has_colon) {
      const support::ServerAndPort server = support::SplitPortAtLastSlash(key.server_part);
      if (!server.server.empty()) {
        check->SetParam("Server", server.server);
      }
      if (!server.port.empty()) {
        check->SetParam("Port", server.port);
      }
    }
  }
  check->SetParam("Database", name);
  try {
    check->Open();
  } catch (const std::exception& error) {
    if (IsCollationRefusal(error.what(), collation)) {
      throw std::runtime_error("O banco de dados \"" + name + "\" foi criado com a collation \"" +
                               collation +
                               "\", mas não pode ser aberto: o servidor não aceita essa "
                               "collation. Exclua o banco e crie-o de novo num servidor que "
                               "tenha essa collation.\r\n" +
                               error.what());
    }
    // Any other answer (a pg_hba.conf rule, the connection limit, a time-out) says nothing of the
    // collation: the database is made and stays, and the operator is told.
    try {
      VeskMessageDlg("O banco de dados \"" + name +
                         "\" foi criado, mas não foi possível conectar-se a ele para conferir que "
                         "ele abre. O servidor respondeu:\r\n" +
                         error.what(),
                     TMsgDlgType::mtWarning, {"Ok"}, 0);
    } catch (...) {
      // A warning that cannot be shown leaves the creation as it is.
    }
    return;
  }
  check->Close();
}

// Both statements on one connection: the creation, then the collation of the new database; then
// the new database is opened once. Created is set as soon as the database exists.
template <typename Execute>
void CreateWith(TVeskSQLConnection* connection, const std::string& name, bool& created,
                Execute&& execute) {
  const std::string collation = ChooseCollation(connection);
  const bool standard = StandardConformingStrings(connection);
  execute(CreationStatement(name));
  created = true;
  execute(CollationStatement(name, collation, standard));
  CheckNewDatabaseOpens(connection, name, collation);
}

// Where CriarDataBase makes a database: through the host's connection for a bare name, through a
// connection of its own to the maintenance database of the server that "host/port:name" names.
struct CreationTarget {
  std::unique_ptr<TVeskSQLConnection> own;
  TVeskSQLConnection* conn = nullptr;
  std::string name;
};

CreationTarget CreationTargetOf(TVeskDMConexao* DM, const std::string& database,
                                const std::string& user_name, const std::string& password) {
  CreationTarget target;
  const support::DatabaseKey key = support::SplitDatabaseKey(database);
  if (key.has_colon) {
    target.name = key.path;
    // A port that is no number is 0 here, not 5432.
    const support::ServerAndPort server = support::SplitPortAtFirstSlash(key.server_part);
    target.own.reset(CriarConexaoPostgres(server.server, user_name, password,
                                          support::PortNumber(server.port, 0)));
    target.conn = target.own.get();
  } else {
    target.name = database;
    target.conn = DM->SQLConnection;
  }
  return target;
}

}  // namespace

std::string QuotedIdentifier(const std::string& name) {
  return "\"" + support::Doubled(name, '"') + "\"";
}

std::string CreationStatement(const std::string& database_name) {
  std::string sql = "CREATE DATABASE " + QuotedIdentifier(database_name) + " with ";
  sql.append(kOwner).append(kEncoding).append("'UTF8'").append(kTablespace);
  sql.append(kConnectionLimit).append(kTemplate).append(kIsTemplate);
  return sql;
}

std::string CollationStatement(const std::string& database_name, const std::string& collation,
                               bool standard_strings) {
  return "update pg_database set   datcollate=" + Literal(collation, standard_strings) +
         ", datctype=" + Literal(collation, standard_strings) +
         "  where datname=" + Literal(database_name, standard_strings);
}

std::string DropStatement(const std::string& database_name, int64_t server_version) {
  constexpr int64_t kVersion13 = 13 * 10'000'000'000LL;
  return "DROP DATABASE " + QuotedIdentifier(database_name) +
         (server_version >= kVersion13 ? " WITH (FORCE)" : "");
}

bool IsCollationRefusal(const std::string& server_message, const std::string& collation) {
  for (const std::string& sign :
       {std::string("database locale is incompatible with operating system"),
        "LC_COLLATE \"" + collation + "\"", "LC_CTYPE \"" + collation + "\""}) {
    if (server_message.find(sign) != std::string::npos) {
      return true;
    }
  }
  return false;
}

std::string ChooseCollation(TVeskSQLConnection* connection) {
  auto query = std::make_unique<TVeskQuery>();
  query->SQLConnection = connection;
  query->SQL = std::string(kVersionSql);
  query->Open();
  std::string collation = "Portuguese_Brazil.1252";
  if (support::AsciiLower(query->FieldAsString(0)).find("linux") != std::string::npos) {
    query->SQL = std::string(kCollationSql);
    query->Open();
    const std::string value = query->FieldAsString(0);
    collation = support::IsBlank(value) ? "pt_BR.ISO-8859-1" : value;
  }
  query->Close();
  return collation;
}

TVeskSQLConnection* CriarConexaoPostgres(const std::string& Server, const std::string& UserName,
                                         const std::string& Password, int32_t Port) {
  auto conn = std::make_unique<TVeskSQLConnection>();
  ConfigurarSQLConnection(conn.get(), 3);
  conn->SetParam("Database", "postgres");
  conn->SetParam("Server", Server);
  conn->SetParam("Port", std::to_string(Port));
  conn->SetParam("User_name", UserName);
  conn->SetParam("Password", Password);
  conn->Open();
  return conn.release();
}

void CriarDataBase(TVeskDMConexao* DM, const std::string& DatabaseSpec, const std::string& UserName,
                   const std::string& Password) {
  bool created = false;
  CriarDataBase(DM, DatabaseSpec, UserName, Password, created);
}

void CriarDataBase(TVeskDMConexao* DM, const std::string& DatabaseSpec, const std::string& UserName,
                   const std::string& Password, bool& created) {
  CreationTarget target = CreationTargetOf(DM, DatabaseSpec, UserName, Password);
  TVeskSQLConnection* conn = target.conn;
  const WritableTransaction writable(conn);
  CreateWith(conn, target.name, created,
             [conn](const std::string& sql) { conn->ExecuteDirect(sql); });
}

void DropCreatedDatabase(TVeskDMConexao* DM, const std::string& DatabaseSpec,
                         const std::string& UserName, const std::string& Password) {
  CreationTarget target = CreationTargetOf(DM, DatabaseSpec, UserName, Password);
  TVeskSQLConnection* conn = target.conn;
  // DROP DATABASE cannot run inside a transaction, which the read-only option would open.
  const WritableTransaction writable(conn);
  conn->ExecuteDirect(DropStatement(target.name, conn->GetServerVersion()));
}

void CriarDataBaseFD(const std::string& Server, int32_t Port, const std::string& DatabaseName,
                     const std::string& UserName, const std::string& Password) {
  auto conn = std::make_unique<TVeskFDConnection>();
  conn->DriverID = "PG";
  // The data-access layer registers its drivers under their ids as well.
  conn->DriverName = conn->DriverID;
  conn->SetParam("Database", "postgres");
  conn->SetParam("Server", Server);
  conn->SetParam("User_Name", UserName);
  conn->SetParam("Port", std::to_string(Port));
  conn->SetParam("Password", Password);
  conn->Open();
  const support::ScopeExit close([&conn] { conn->Close(); });
  bool created = false;
  CreateWith(conn.get(), DatabaseName, created,
             [&conn](const std::string& sql) { conn->ExecSQL(sql, false); });
}

}  // namespace tolvan::postgresql
