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
// the creator's server and port with the creator's credentials; a port the creator left to the
// client library's default is left to it here too.
void ConferirAbertura(TVeskSQLConnection* creator, const std::string& name,
                      const std::string& collation) {
  auto check = std::make_unique<TVeskSQLConnection>();
  check->DriverName = creator->DriverName;
  check->ClientLibrary = creator->ClientLibrary;
  check->Params = creator->Params;
  if (!HasParam(*creator, "Server") && !HasParam(*creator, "HostName")) {
    std::string key = creator->GetDATABASENAME_KEY();
    if (key.find(':') != std::string::npos) {
      std::string server = PegarProximoToken(key, ":");
      const std::string port = PegarAnteriorToken(server, "/");
      if (!server.empty()) {
        check->SetParam("Server", server);
      }
      if (!port.empty()) {
        check->SetParam("Port", port);
      }
    }
  }
  check->SetParam("Database", name);
  try {
    check->Open();
  } catch (const std::exception& error) {
    if (RecusaDeCollation(error.what(), collation)) {
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
void CreateWith(TVeskSQLConnection* conn, const std::string& name, bool& created,
                Execute&& execute) {
  const std::string collation = EscolherCollation(conn);
  const bool standard = StandardConformingStrings(conn);
  execute(CreationStatement(name));
  created = true;
  execute(CollationStatement(name, collation, standard));
  ConferirAbertura(conn, name, collation);
}

// Where CriarDataBase makes a database: through the host's connection for a bare name, through a
// connection of its own to the maintenance database of the server that "host/port:name" names.
struct CreationTarget {
  std::unique_ptr<TVeskSQLConnection> own;
  TVeskSQLConnection* conn = nullptr;
  std::string name;
};

CreationTarget CreationTargetOf(TVeskDMConexao* DM, const std::string& DatabaseSpec,
                                const std::string& UserName, const std::string& Password) {
  CreationTarget target;
  target.name = DatabaseSpec;
  if (DatabaseSpec.find(':') != std::string::npos) {
    std::string server_and_port = PegarProximoToken(target.name, ":");
    const std::string server = PegarProximoToken(server_and_port, "/");
    target.own.reset(CriarConexaoPostgres(server, UserName, Password, PortOrZero(server_and_port)));
    target.conn = target.own.get();
  } else {
    target.conn = DM->SQLConnection;
  }
  return target;
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

std::string CollationStatement(const std::string& DatabaseName, const std::string& Collation,
                               bool StandardStrings) {
  return "update pg_database set   datcollate=" + Literal(Collation, StandardStrings) +
         ", datctype=" + Literal(Collation, StandardStrings) +
         "  where datname=" + Literal(DatabaseName, StandardStrings);
}

std::string DropStatement(const std::string& DatabaseName, int64_t ServerVersion) {
  constexpr int64_t kVersion13 = 13 * 10'000'000'000LL;
  return "DROP DATABASE " + QuotedIdentifier(DatabaseName) +
         (ServerVersion >= kVersion13 ? " WITH (FORCE)" : "");
}

bool RecusaDeCollation(const std::string& ServerMessage, const std::string& Collation) {
  for (const std::string& sign :
       {std::string("database locale is incompatible with operating system"),
        "LC_COLLATE \"" + Collation + "\"", "LC_CTYPE \"" + Collation + "\""}) {
    if (ServerMessage.find(sign) != std::string::npos) {
      return true;
    }
  }
  return false;
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
  bool created = false;
  CriarDataBase(DM, DatabaseSpec, UserName, Password, created);
}

void CriarDataBase(TVeskDMConexao* DM, const std::string& DatabaseSpec, const std::string& UserName,
                   const std::string& Password, bool& Created) {
  CreationTarget target = CreationTargetOf(DM, DatabaseSpec, UserName, Password);
  TVeskSQLConnection* conn = target.conn;
  detail::WritableBracket writable(conn);
  CreateWith(conn, target.name, Created,
             [conn](const std::string& sql) { conn->ExecuteDirect(sql); });
}

void ExcluirDataBase(TVeskDMConexao* DM, const std::string& DatabaseSpec,
                     const std::string& UserName, const std::string& Password) {
  CreationTarget target = CreationTargetOf(DM, DatabaseSpec, UserName, Password);
  TVeskSQLConnection* conn = target.conn;
  // DROP DATABASE cannot run inside a transaction, which the read-only option would open.
  detail::WritableBracket writable(conn);
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
  detail::ScopeExit close([&conn] { conn->Close(); });
  bool created = false;
  CreateWith(conn.get(), DatabaseName, created,
             [&conn](const std::string& sql) { conn->ExecSQL(sql, false); });
}

}  // namespace tolvan::postgresql
