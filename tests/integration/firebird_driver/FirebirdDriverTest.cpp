// The Firebird driver against the private test server (scripts/firebird-server) and the
// embedded engine.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ci/SkipOrFail.h"
#include "ci/TestNames.h"
#include "vesk/VeskPack5.h"
#include "vesk/host/Firebird.h"

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

struct Server {
  std::string host, port, user, password, data;
  std::string Key(const std::string& file) const {
    return host + "/" + port + ":" + data + "/" + file;
  }
};

// The private server's settings, or a skip (a failure in CI) when it is not running.
#define REQUIRE_SERVER(server)                                                           \
  Server server{Env("TOLVAN_FB_HOST"), Env("TOLVAN_FB_PORT"), Env("TOLVAN_FB_USER"),     \
                Env("TOLVAN_FB_PASSWORD"), Env("TOLVAN_FB_DATA")};                       \
  if (server.port.empty() || server.data.empty()) {                                      \
    TOLVAN_SKIP_OR_FAIL(                                                                 \
        "No Firebird test server (run scripts/firebird-server start and source its env " \
        "file)");                                                                        \
  }

// A fresh database file name, removed afterwards.
class TempDatabase {
 public:
  TempDatabase(const std::string& folder, const std::string& stem) {
    path_ = folder + "/" + stem + "-" +
            std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            std::to_string(counter_++) + ".fdb";
    fs::remove(path_);
  }
  ~TempDatabase() {
    std::error_code ec;
    fs::remove(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  static inline int counter_ = 0;
  std::string path_;
};

std::string EmbeddedFolder() {
  auto folder = fs::temp_directory_path() / "tolvan-fb-embedded";
  fs::create_directories(folder);
  return folder.string();
}

std::unique_ptr<TVeskSQLConnection> Connection(const std::string& key, const std::string& user,
                                               const std::string& password) {
  auto connection = std::make_unique<TVeskSQLConnection>();
  connection->DriverName = vesk::firebird::kDriverName;
  connection->Params = {"Database=" + key, "User_Name=" + user, "Password=" + password};
  return connection;
}

std::vector<std::vector<std::string>> Rows(TVeskSQLConnection& connection, const std::string& sql) {
  TVeskQuery* query = ExecutarSQL(sql, nullptr, false, false, 10, "", &connection, true);
  std::unique_ptr<TVeskQuery> owner(query);
  std::vector<std::vector<std::string>> rows;
  for (; !query->Eof(); query->Next()) {
    std::vector<std::string> row;
    for (int i = 0; i < query->FieldCount(); ++i) {
      row.push_back(query->FieldIsNull(i) ? "<null>" : query->FieldAsString(i));
    }
    rows.push_back(row);
  }
  return rows;
}

std::string ServerVersionLine(TVeskSQLConnection& connection) {
  std::vector<std::string> report;
  connection.GetInfoReport(report, TVeskInfoReportPart::Connection);
  for (const auto& line : report) {
    if (line.rfind("Server version = ", 0) == 0) {
      return line.substr(17);
    }
  }
  return "<missing>";
}

std::string DriverErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const TVeskDriverError& e) {
    return e.what();
  }
  return "<no driver error>";
}

TEST(FirebirdEmbedded, ReadsEveryColumnTypeAsText) {
  TempDatabase db(EmbeddedFolder(), "types");
  vesk::firebird::CreateDatabase(db.path(), "SYSDBA", "");
  auto connection = Connection(db.path(), "SYSDBA", "");
  connection->ExecuteDirect(
      "create table t (id integer, v varchar(20), c char(5), s smallint, b bigint, "
      "n numeric(9,2), m numeric(18,4), f float, d double precision, dt date, tm time, "
      "ts timestamp, bl blob sub_type text, ok boolean)");
  connection->ExecuteDirect(
      "insert into t values (1, 'Fábio ação', 'ab', -7, 9000000000, -12.05, 0.0001, 1.5, "
      "0.1, '2024-02-29', '13:45:07.5', '1999-12-31 23:59:59', 'texto longo ç', true)");
  connection->ExecuteDirect("insert into t (id) values (2)");

  auto rows = Rows(*connection, "select * from t order by id");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0],
            (std::vector<std::string>{"1", "Fábio ação", "ab", "-7", "9000000000", "-12.05",
                                      "0.0001", "1.5", "0.1", "2024-02-29", "13:45:07.5000",
                                      "1999-12-31 23:59:59", "texto longo ç", "true"}));
  for (size_t i = 1; i < rows[1].size(); ++i) {
    EXPECT_EQ(rows[1][i], "<null>") << "column " << i;
  }

  // Edges of the conversions: small negative scaled numbers, the extremes of BIGINT, dates
  // before the client's day zero.
  EXPECT_EQ(
      Rows(*connection,
           "select cast(-0.05 as numeric(9,2)), cast(-1.5 as numeric(18,4)), "
           "cast(-9223372036854775807 as bigint) - 1, cast('0001-01-01' as date), "
           "cast('1858-11-16 00:00:00.0001' as timestamp), cast(0 as numeric(5,3)) "
           "from rdb$database"),
      (std::vector<std::vector<std::string>>{{"-0.05", "-1.5000", "-9223372036854775808",
                                              "0001-01-01", "1858-11-16 00:00:00.0001", "0.000"}}));

  // More columns than the first description holds.
  std::string wide = "select 0";
  for (int i = 1; i < 40; ++i) {
    wide += ", " + std::to_string(i);
  }
  auto wide_rows = Rows(*connection, wide + " from rdb$database");
  ASSERT_EQ(wide_rows.size(), 1u);
  ASSERT_EQ(wide_rows[0].size(), 40u);
  EXPECT_EQ(wide_rows[0][39], "39");

  // DML with RETURNING gives its one row; a plain statement through a query gives none.
  EXPECT_EQ(Rows(*connection, "update t set v = 'novo' where id = 2 returning id, v"),
            (std::vector<std::vector<std::string>>{{"2", "novo"}}));
  EXPECT_TRUE(Rows(*connection, "update t set v = null where id = 2").empty());

  // A null reads as the empty text.
  TVeskQuery* query = ExecutarSQL("select v from t where id = 2", nullptr, false, false, 10, "",
                                  connection.get(), true);
  EXPECT_EQ(query->FieldByName("V"), "");
  DestruirSQL(query);
}

TEST(FirebirdEmbedded, ConnectionCharsetNoneReadsEightBitTextAsTheSystemCodePage) {
  TempDatabase db(EmbeddedFolder(), "none");
  vesk::firebird::CreateDatabase(db.path(), "SYSDBA", "");
  auto utf8 = Connection(db.path(), "SYSDBA", "");
  utf8->ExecuteDirect("create table t (u varchar(10), w varchar(10) character set win1252)");
  utf8->ExecuteDirect("insert into t values ('Fábio', 'ação')");
  utf8->Close();

  auto none = Connection(db.path(), "SYSDBA", "");
  none->SetParam("lc_ctype", "NONE");
  // UTF-8 bytes stay as they are; WIN1252 bytes are not UTF-8 and read as 8-bit text.
  EXPECT_EQ(Rows(*none, "select u, w from t"),
            (std::vector<std::vector<std::string>>{{"Fábio", "ação"}}));
}

TEST(FirebirdEmbedded, ReportsOneServerVersionLine) {
  TempDatabase db(EmbeddedFolder(), "version");
  vesk::firebird::CreateDatabase(db.path(), "SYSDBA", "");
  auto connection = Connection(db.path(), "SYSDBA", "");
  auto version = ServerVersionLine(*connection);
  EXPECT_EQ(version.rfind("LI-V3.0", 0), 0u) << version;
  EXPECT_EQ(version.find('\r'), std::string::npos) << version;
  // 3.0.x.y -> 3000xxxyyyyyy
  EXPECT_GE(connection->GetServerVersion(), 3000000000000LL);
  EXPECT_LT(connection->GetServerVersion(), 3001000000000LL);
  EXPECT_EQ(connection->GetDATABASENAME_KEY(), db.path());
}

TEST(FirebirdEmbedded, MissingDatabaseRaisesTheServerText) {
  auto connection = Connection(EmbeddedFolder() + "/does-not-exist.fdb", "SYSDBA", "");
  auto message = DriverErrorOf([&] { connection->Open(); });
  EXPECT_NE(message.find("does-not-exist.fdb"), std::string::npos) << message;
  EXPECT_FALSE(connection->Connected());
}

TEST(FirebirdEmbedded, CreateDatabaseDoublesQuotesInThePath) {
  EXPECT_EQ(vesk::firebird::CreateDatabaseSql("/d/o'k.fdb", "SYS'DBA", "p'w"),
            "CREATE DATABASE '/d/o''k.fdb' USER 'SYS''DBA' PASSWORD 'p''w' PAGE_SIZE 8192 "
            "DEFAULT CHARACTER SET UTF8");
  TempDatabase db(EmbeddedFolder(), "it's");
  vesk::firebird::CreateDatabase(db.path(), "SYSDBA", "");
  EXPECT_TRUE(fs::exists(db.path()));
  auto connection = Connection(db.path(), "SYSDBA", "");
  EXPECT_EQ(Rows(*connection, "select rdb$character_set_name from rdb$database"),
            (std::vector<std::vector<std::string>>{{"UTF8"}}));
}

// This program never sets a locale (LC_CTYPE stays "C"), as a host may not: the driver's own
// calls still give the client the accented path as UTF-8, embedded and over TCP.
TEST(FirebirdDriver, AnAccentedFolderOpensInAProgramThatSetNoLocale) {
  ASSERT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C");
  const std::string folder = EmbeddedFolder() + "/Cópias de Segurança";
  fs::create_directories(folder);
  TempDatabase db(folder, "loja");
  vesk::firebird::CreateDatabase(db.path(), "SYSDBA", "");
  EXPECT_TRUE(fs::exists(db.path()));
  auto embedded = Connection(db.path(), "SYSDBA", "");
  EXPECT_EQ(Rows(*embedded, "select mon$database_name from mon$database"),
            (std::vector<std::vector<std::string>>{{db.path()}}));
  embedded->Close();
  if (Env("TOLVAN_FB_PORT").empty()) {
    return;  // the TCP half needs the test server
  }
  auto tcp = Connection(Env("TOLVAN_FB_HOST") + "/" + Env("TOLVAN_FB_PORT") + ":" + db.path(),
                        Env("TOLVAN_FB_USER"), Env("TOLVAN_FB_PASSWORD"));
  EXPECT_EQ(Rows(*tcp, "select mon$database_name from mon$database"),
            (std::vector<std::vector<std::string>>{{db.path()}}));
}

TEST(FirebirdServer, ConnectsOverTcpAndSeesItsOwnAttachment) {
  REQUIRE_SERVER(server);
  TempDatabase db(server.data, "tcp");
  vesk::firebird::CreateDatabase(server.Key(fs::path(db.path()).filename().string()), server.user,
                                 server.password);
  auto connection =
      Connection(server.Key(fs::path(db.path()).filename().string()), server.user, server.password);
  connection->Open();
  ASSERT_TRUE(connection->Connected());

  auto version = ServerVersionLine(*connection);
  EXPECT_EQ(version.rfind("LI-V3.0", 0), 0u) << version;
  EXPECT_NE(version.find("\r\n"), std::string::npos) << "several lines over TCP: " << version;

  auto rows = Rows(*connection,
                   "select trim(mon$user), mon$remote_address from mon$attachments "
                   "where mon$attachment_id = current_connection");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], "SYSDBA");
  EXPECT_EQ(rows[0][1].rfind("127.0.0.1/", 0), 0u) << rows[0][1];

  // The clone is a second attachment to the same database.
  auto* clone = connection->CloneConnection();
  EXPECT_EQ(Rows(*clone,
                 "select count(*) from mon$attachments where mon$remote_address "
                 "is not null")[0][0],
            "2");
  connection->Close();
  EXPECT_FALSE(connection->Connected());
}

TEST(FirebirdServer, ModuleTransactionsCommitAndRollBack) {
  REQUIRE_SERVER(server);
  TempDatabase db(server.data, "tx");
  const auto key = server.Key(fs::path(db.path()).filename().string());
  vesk::firebird::CreateDatabase(key, server.user, server.password);
  auto connection = Connection(key, server.user, server.password);
  connection->ExecuteDirect("create table t (id integer)");
  auto other = Connection(key, server.user, server.password);

  TVeskDMConexao module;
  module.SQLConnection = connection.get();
  module.StartTransaction(1, true, false);
  connection->ExecuteDirect("insert into t values (1)");
  EXPECT_EQ(Rows(*connection, "select count(*) from t")[0][0], "1");
  EXPECT_EQ(Rows(*other, "select count(*) from t")[0][0], "0") << "not committed yet";
  module.RollBack(1);
  EXPECT_EQ(Rows(*connection, "select count(*) from t")[0][0], "0");

  module.StartTransaction(1, true, false);
  connection->ExecuteDirect("insert into t values (2)");
  module.Commit(1);
  EXPECT_EQ(Rows(*other, "select id from t")[0][0], "2");
  EXPECT_THROW(module.Commit(1), std::runtime_error);

  // A read-only transaction refuses writes with the server's text.
  module.StartTransaction(1, true, true);
  auto message = DriverErrorOf([&] { connection->ExecuteDirect("insert into t values (3)"); });
  EXPECT_NE(message.find("read-only"), std::string::npos) << message;
  module.RollBack(1);

  // The connection's read-only option covers the statements run outside a module transaction.
  connection->Transaction()->Options.ReadOnly = true;
  message = DriverErrorOf([&] { connection->ExecuteDirect("insert into t values (4)"); });
  EXPECT_NE(message.find("read-only"), std::string::npos) << message;
  EXPECT_EQ(Rows(*connection, "select count(*) from t")[0][0], "1");
  connection->Transaction()->Options.ReadOnly = false;
  connection->ExecuteDirect("insert into t values (5)");
  EXPECT_EQ(Rows(*connection, "select count(*) from t")[0][0], "2");
}

TEST(FirebirdServer, ServerErrorsCarryTheServerText) {
  REQUIRE_SERVER(server);
  TempDatabase db(server.data, "errors");
  const auto key = server.Key(fs::path(db.path()).filename().string());
  vesk::firebird::CreateDatabase(key, server.user, server.password);

  auto wrong = Connection(key, server.user, server.password + "x");
  EXPECT_NE(DriverErrorOf([&] { wrong->Open(); }).find("user name and password are not defined"),
            std::string::npos);

  auto missing = Connection(server.Key("missing.fdb"), server.user, server.password);
  auto message = DriverErrorOf([&] { missing->Open(); });
  EXPECT_NE(message.find("missing.fdb"), std::string::npos) << message;

  auto connection = Connection(key, server.user, server.password);
  message = DriverErrorOf([&] { connection->ExecuteDirect("selec 1 from rdb$database"); });
  EXPECT_NE(message.find("Token unknown"), std::string::npos) << message;
  EXPECT_NE(message.find('\n'), std::string::npos) << "all lines of the status: " << message;
  message = DriverErrorOf([&] { Rows(*connection, "select nope from rdb$database"); });
  EXPECT_NE(message.find("NOPE"), std::string::npos) << message;
  // The connection stays usable after an error.
  EXPECT_EQ(Rows(*connection, "select 1 from rdb$database")[0][0], "1");
}

}  // namespace
