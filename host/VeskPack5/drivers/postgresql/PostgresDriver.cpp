// The PostgreSQL driver: libpq behind vesk::driver::Session. Registered as "PostgreSQL" and under
// the data-access layer's driver id "PG".
//
// Parameters (names compare ignoring case): Server or HostName, Port, Database, User_Name,
// Password, ConnectTimeout (the seconds a connection attempt may wait; 30 by default). Without
// Server, a Database of the database-key form server/port:database names all three. The database
// key is server "/" port ":" database (the "/" port part only with a port).
// The information report gives the database, the server's version() text and, as the server
// reports it, standard_conforming_strings ("on" or "off").
// GetServerVersion answers major * 10^10 + minor * 10^6 (15.20 -> 150020000000; servers before
// 10 as major * 10^10 + minor * 10^6 + patch).
#include <libpq-fe.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Names.h"
#include "platform/ConnectLimit.h"
#include "platform/Text.h"
#include "postgresql/PostgresError.h"
#include "vesk/host/Driver.h"

namespace vesk::postgresql {
namespace {

using detail::ParamOf;

struct Target {
  std::string host;
  std::string port;
  std::string database;
};

Target TargetOf(const std::vector<std::string>& params) {
  Target t;
  t.host = ParamOf(params, "Server");
  if (t.host.empty()) {
    t.host = ParamOf(params, "HostName");
  }
  t.port = ParamOf(params, "Port");
  t.database = ParamOf(params, "Database");
  // A key of the form server/port:database, as the host's command line gives it. A single
  // character before ":" would be a drive letter, never a server.
  const auto colon = t.database.find(':');
  if (t.host.empty() && colon != std::string::npos && colon > 1) {
    std::string server = t.database.substr(0, colon);
    t.database.erase(0, colon + 1);
    const auto slash = server.rfind('/');
    if (slash != std::string::npos) {
      if (t.port.empty()) {
        t.port = server.substr(slash + 1);
      }
      server.erase(slash);
    }
    t.host = server;
  }
  return t;
}

std::string Trimmed(const char* text) {
  return std::string(detail::TrimBlanks(text == nullptr ? "" : text));
}

[[noreturn]] void ThrowResult(const PGresult* result, PGconn* conn) {
  std::string message = Trimmed(result != nullptr ? PQresultErrorMessage(result) : nullptr);
  if (message.empty()) {
    message = Trimmed(PQerrorMessage(conn));
  }
  const char* state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  throw PostgresError(tolvan::platform::SanitizeUtf8(message), state == nullptr ? "" : state);
}

struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

struct ConnDeleter {
  void operator()(PGconn* c) const { PQfinish(c); }
};

// Rows read whole when the statement ran; text results.
class PostgresCursor : public driver::Cursor {
 public:
  explicit PostgresCursor(Result result) : result_(std::move(result)) {
    if (PQresultStatus(result_.get()) == PGRES_TUPLES_OK) {
      for (int i = 0; i < PQnfields(result_.get()); ++i) {
        columns_.push_back(tolvan::platform::SanitizeUtf8(PQfname(result_.get(), i)));
      }
      rows_ = PQntuples(result_.get());
    }
  }

  std::vector<std::string> Columns() const override { return columns_; }

  std::optional<std::vector<std::optional<std::string>>> Fetch() override {
    if (next_ >= rows_) {
      return std::nullopt;
    }
    std::vector<std::optional<std::string>> row;
    row.reserve(columns_.size());
    for (int i = 0; i < static_cast<int>(columns_.size()); ++i) {
      if (PQgetisnull(result_.get(), next_, i)) {
        row.emplace_back(std::nullopt);
      } else {
        row.emplace_back(std::string(PQgetvalue(result_.get(), next_, i),
                                     static_cast<size_t>(PQgetlength(result_.get(), next_, i))));
      }
    }
    ++next_;
    return row;
  }

 private:
  Result result_;
  std::vector<std::string> columns_;
  int rows_ = 0;
  int next_ = 0;
};

class PostgresSession : public driver::Session {
 public:
  explicit PostgresSession(const std::vector<std::string>& params) : target_(TargetOf(params)) {
    const std::string user = ParamOf(params, "User_Name");
    const std::string password = ParamOf(params, "Password");
    // Port 0 (what a key with no valid port gives) means the default port.
    const std::string port = target_.port == "0" ? std::string() : target_.port;
    std::vector<const char*> keys;
    std::vector<const char*> values;
    // The values stay alive until the connection is made: add keeps pointers into them.
    auto add = [&](const char* key, const std::string& value) {
      if (!value.empty()) {
        keys.push_back(key);
        values.push_back(value.c_str());
      }
    };
    add("host", target_.host);
    add("port", port);
    add("dbname", target_.database);
    add("user", user);
    add("password", password);
    static const std::string kEncoding = "UTF8";
    static const std::string kApplication = "tolvan";
    const auto limit = tolvan::platform::ConnectTimeoutFrom(
        ParamOf(params, std::string(tolvan::platform::kConnectTimeoutParameter)));
    // libpq's own limit too, for where the connection limit cannot end the wait itself.
    const std::string timeout =
        std::to_string(tolvan::platform::LibraryConnectTimeout(limit).count());
    add("client_encoding", kEncoding);
    add("connect_timeout", timeout);
    add("fallback_application_name", kApplication);
    keys.push_back(nullptr);
    values.push_back(nullptr);
    const std::string server = (target_.host.empty() ? std::string("local") : target_.host) +
                               (port.empty() ? std::string() : " porta " + port);
    try {
      tolvan::platform::ConnectWithinLimit(
          server, limit, [&] { conn_.reset(PQconnectdbParams(keys.data(), values.data(), 0)); });
    } catch (const tolvan::platform::EConnectCut& e) {
      throw PostgresError(e.what(), "");
    }
    if (!conn_) {
      throw PostgresError("memória insuficiente ao conectar ao servidor", "");
    }
    if (PQstatus(conn_.get()) != CONNECTION_OK) {
      throw PostgresError(tolvan::platform::SanitizeUtf8(Trimmed(PQerrorMessage(conn_.get()))), "");
    }
  }

  std::unique_ptr<driver::Cursor> Query(const std::string& sql) override {
    return std::make_unique<PostgresCursor>(Run(sql));
  }

  void ExecuteDirect(const std::string& sql) override { Run(sql); }

  void StartTransaction(bool read_committed, bool read_only) override {
    if (InTransaction()) {
      throw std::runtime_error("Já há uma transação ativa nesta conexão");
    }
    Exec(std::string("START TRANSACTION ISOLATION LEVEL ") +
         (read_committed ? "READ COMMITTED" : "REPEATABLE READ") +
         (read_only ? " READ ONLY" : " READ WRITE"));
  }

  void Commit() override {
    RequireTransaction("Commit");
    Exec("COMMIT");
  }

  void Rollback() override {
    RequireTransaction("Rollback");
    Exec("ROLLBACK");
  }

  bool InTransaction() const override { return PQtransactionStatus(conn_.get()) != PQTRANS_IDLE; }

  void SetStatementReadOnly(bool read_only) override { statement_read_only_ = read_only; }

  std::vector<std::string> InfoReport(TVeskInfoReportPart) override {
    Result result = Exec("select version()");
    std::string version = PQntuples(result.get()) > 0 ? PQgetvalue(result.get(), 0, 0) : "";
    std::vector<std::string> lines = {"Database = " + target_.database,
                                      "Server version = " + version};
    // As the server reported it when the session began and after every change: how it reads a
    // backslash in a plain string literal.
    if (const char* value = PQparameterStatus(conn_.get(), "standard_conforming_strings")) {
      lines.push_back(std::string("standard_conforming_strings = ") + value);
    }
    return lines;
  }

  int64_t ServerVersion() override {
    const int64_t v = PQserverVersion(conn_.get());
    if (v >= 100000) {
      return (v / 10000) * 10'000'000'000 + (v % 10000) * 1'000'000;
    }
    return (v / 10000) * 10'000'000'000 + (v / 100 % 100) * 1'000'000 + v % 100;
  }

 private:
  void RequireTransaction(const char* operation) const {
    if (!InTransaction()) {
      throw std::runtime_error(std::string(operation) + ": nenhuma transação está ativa");
    }
  }

  Result Exec(const std::string& sql) {
    Result result(PQexec(conn_.get(), sql.c_str()));
    const auto status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      ThrowResult(result.get(), conn_.get());
    }
    return result;
  }

  // One statement: in the running transaction, else on its own; read-only when the connection's
  // transaction option says so.
  Result Run(const std::string& sql) {
    if (InTransaction() || !statement_read_only_) {
      return Exec(sql);
    }
    Exec("START TRANSACTION READ ONLY");
    try {
      Result result = Exec(sql);
      Exec("COMMIT");
      return result;
    } catch (...) {
      Result ignored(PQexec(conn_.get(), "ROLLBACK"));
      throw;
    }
  }

  Target target_;
  std::unique_ptr<PGconn, ConnDeleter> conn_;
  bool statement_read_only_ = false;
};

class PostgresDriver : public driver::Driver {
 public:
  std::string DatabaseKey(const std::vector<std::string>& params) const override {
    const Target t = TargetOf(params);
    return t.host + (t.port.empty() ? "" : "/" + t.port) + ":" + t.database;
  }

  std::unique_ptr<driver::Session> Connect(const driver::ConnectionSettings& settings) override {
    return std::make_unique<PostgresSession>(settings.params);
  }
};

struct Registrar {
  Registrar() {
    auto driver = std::make_shared<PostgresDriver>();
    driver::RegisterDriver("PostgreSQL", driver);
    driver::RegisterDriver("PG", driver);
  }
} registrar;

}  // namespace
}  // namespace vesk::postgresql
