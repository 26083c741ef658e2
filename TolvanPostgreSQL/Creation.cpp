// CriarDataBase, CriarDataBaseFD and the connection to the maintenance database.
#include <climits>
#include <cstdint>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>

#include "Guards.h"
#include "TolvanPostgreSQLUtil.h"
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

int32_t PortOrZero(const std::string& text) {
  std::size_t used = 0;
  try {
    const long value = std::stol(text, &used);
    return used == text.size() && value >= INT32_MIN && value <= INT32_MAX
               ? static_cast<int32_t>(value)
               : 0;
  } catch (const std::exception&) {
    return 0;
  }
}

std::string ToLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return text;
}

bool HasParam(const TVeskSQLConnection& conn, const std::string& name) {
  const std::string prefix = ToLower(name) + "=";
  for (const std::string& line : conn.Params) {
    if (ToLower(line.substr(0, prefix.size())) == prefix) {
      return true;
    }
  }
  return false;
}

// The server accepts a collation its operating system lacks, and the database is then one that
// no connection can open: connecting once, as the creator, is what tells. The connection goes to
// the creator's server and port with the creator's credentials.
void ConferirAbertura(TVeskSQLConnection* creator, const std::string& name,
                      const std::string& collation) {
  auto check = std::make_unique<TVeskSQLConnection>();
  check->DriverName = creator->DriverName;
  check->ClientLibrary = creator->ClientLibrary;
  check->Params = creator->Params;
  if (!HasParam(*creator, "Server") && !HasParam(*creator, "HostName")) {
    const DatabaseKeyParts key = SplitDatabaseKey(creator->GetDATABASENAME_KEY());
    check->SetParam("Server", key.server);
    check->SetParam("Port", std::to_string(key.port));
  }
  check->SetParam("Database", name);
  try {
    check->Open();
  } catch (const std::exception& error) {
    throw std::runtime_error("O banco de dados \"" + name + "\" foi criado com a collation \"" +
                             collation +
                             "\", mas não pode ser aberto: o servidor não aceita essa collation. "
                             "Exclua o banco e crie-o de novo num servidor que tenha essa "
                             "collation.\r\n" +
                             error.what());
  }
  check->Close();
}

// Both statements on one connection: the creation, then the collation of the new database; then
// the new database is opened once.
template <typename Execute>
void CreateWith(TVeskSQLConnection* conn, const std::string& name, Execute&& execute) {
  const std::string collation = EscolherCollation(conn);
  execute(CreationStatement(name));
  execute(CollationStatement(name, collation));
  ConferirAbertura(conn, name, collation);
}

}  // namespace

std::string QuotedIdentifier(const std::string& Name) {
  std::string quoted = "\"";
  for (const char c : Name) {
    if (c == '"') {
      quoted += '"';
    }
    quoted += c;
  }
  return quoted + "\"";
}

std::string CreationStatement(const std::string& DatabaseName) {
  std::string sql = "CREATE DATABASE " + QuotedIdentifier(DatabaseName) + " with ";
  sql.append(kOwner).append(kEncoding).append("'UTF8'").append(kTablespace);
  sql.append(kConnectionLimit).append(kTemplate).append(kIsTemplate);
  return sql;
}

std::string CollationStatement(const std::string& DatabaseName, const std::string& Collation) {
  return "update pg_database set   datcollate=" + ValorParaSQL(Collation) +
         ", datctype=" + ValorParaSQL(Collation) + "  where datname=" + ValorParaSQL(DatabaseName);
}

std::string EscolherCollation(TVeskSQLConnection* Conn) {
  auto query = std::make_unique<TVeskQuery>();
  query->SQLConnection = Conn;
  query->SQL = std::string(kVersionSql);
  query->Open();
  std::string collation = "Portuguese_Brazil.1252";
  if (ToLower(query->FieldAsString(0)).find("linux") != std::string::npos) {
    query->SQL = std::string(kCollationSql);
    query->Open();
    const std::string value = query->FieldAsString(0);
    collation = detail::Trim(value).empty() ? "pt_BR.ISO-8859-1" : value;
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
  std::string name = DatabaseSpec;
  std::unique_ptr<TVeskSQLConnection> own;
  TVeskSQLConnection* conn = nullptr;
  if (DatabaseSpec.find(':') != std::string::npos) {
    std::string server_and_port = PegarProximoToken(name, ":");
    const std::string server = PegarProximoToken(server_and_port, "/");
    own.reset(CriarConexaoPostgres(server, UserName, Password, PortOrZero(server_and_port)));
    conn = own.get();
  } else {
    conn = DM->SQLConnection;
  }
  detail::WritableBracket writable(conn);
  CreateWith(conn, name, [conn](const std::string& sql) { conn->ExecuteDirect(sql); });
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
  detail::ScopeExit close([&conn] { conn->Close(); });
  CreateWith(conn.get(), DatabaseName,
             [&conn](const std::string& sql) { conn->ExecSQL(sql, false); });
}

}  // namespace tolvan::postgresql
