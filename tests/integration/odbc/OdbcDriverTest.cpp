// The ODBC driver through the host's connection objects, against a SQLite file (driver SQLite3)
// and the private PostgreSQL cluster (driver PostgreSQL Unicode); and tolvan over --odbc.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ci/SkipOrFail.h"
#include "ci/TestNames.h"
#include "platform/Environment.h"
#include "platform/Paths.h"
#include "vesk/VeskPack5.h"
#include "vesk/VeskPackBase5.h"
#include "vesk/host/Odbc.h"

namespace {

std::string Env(const char* name) {
  return tolvan::platform::GetEnv(name).value_or("");
}

// A text with two-, three- and four-byte UTF-8 sequences.
const std::string kUtf8 = "a\xC3\xA7\xC3\xA3o \xE2\x9C\x93 \xF0\x9D\x84\x9E";

struct Row {
  std::optional<std::string> id, name;
  bool operator==(const Row&) const = default;
};

std::vector<Row> Rows(TVeskSQLConnection& connection, const std::string& sql) {
  TVeskQuery query;
  query.SQLConnection = &connection;
  query.SQL = sql;
  query.Open();
  std::vector<Row> rows;
  for (query.First(); !query.Eof(); query.Next()) {
    Row row;
    if (!query.FieldIsNull(0))
      row.id = query.FieldAsString(0);
    if (!query.FieldIsNull(1))
      row.name = query.FieldAsString(1);
    rows.push_back(row);
  }
  return rows;
}

// The same checks on any server: rows with nulls and UTF-8, statements, commit and roll-back.
void ExerciseConnection(TVeskSQLConnection& connection) {
  connection.ExecuteDirect("DROP TABLE IF EXISTS tolvan_odbc_t");
  connection.ExecuteDirect("CREATE TABLE tolvan_odbc_t (id INTEGER, name VARCHAR(100))");
  connection.ExecuteDirect("INSERT INTO tolvan_odbc_t VALUES (1, '" + kUtf8 + "')");
  connection.ExecuteDirect("INSERT INTO tolvan_odbc_t VALUES (2, NULL)");
  // An UPDATE that touches no row is no failure.
  connection.ExecuteDirect("UPDATE tolvan_odbc_t SET name = 'x' WHERE id = 99");
  EXPECT_THAT(Rows(connection, "SELECT id, name FROM tolvan_odbc_t ORDER BY id"),
              ElementsAre(Row{"1", kUtf8}, Row{"2", std::nullopt}));

  TVeskDMConexao dm;
  dm.SQLConnection = &connection;
  dm.StartTransaction(1, true, false);
  connection.ExecuteDirect("INSERT INTO tolvan_odbc_t VALUES (3, 'desfeito')");
  dm.RollBack(1);
  dm.StartTransaction(1, true, false);
  connection.ExecuteDirect("INSERT INTO tolvan_odbc_t VALUES (4, 'feito')");
  dm.Commit(1);
  // Autocommit is back: this one stays without a transaction.
  connection.ExecuteDirect("INSERT INTO tolvan_odbc_t VALUES (5, NULL)");
  connection.Close();
  connection.Open();
  EXPECT_THAT(Rows(connection, "SELECT id, name FROM tolvan_odbc_t WHERE id > 2 ORDER BY id"),
              ElementsAre(Row{"4", "feito"}, Row{"5", std::nullopt}));

  try {
    connection.ExecuteDirect("SELEC nothing");
    ADD_FAILURE() << "a bad statement succeeded";
  } catch (const TVeskDriverError& e) {
    EXPECT_THAT(e.what(), HasSubstr("SQLSTATE"));
  }
  connection.ExecuteDirect("DROP TABLE tolvan_odbc_t");
}

class SqliteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = fs::temp_directory_path() /
            ("tolvan-odbc-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             ".db");
    connection_.DriverName = vesk::odbc::kDriverName;
    connection_.Params = {"ConnectionString=Driver=SQLite3;Database=" + file_.string()};
  }
  void TearDown() override {
    connection_.Close();
    fs::remove(file_);
  }

  fs::path file_;
  TVeskSQLConnection connection_;
};

TEST_F(SqliteTest, RowsStatementsAndTransactions) {
  ExerciseConnection(connection_);
  EXPECT_EQ(connection_.GetDATABASENAME_KEY(), file_.string());
  // SQLite reports its library version, 3.x.y.
  const int64_t version = connection_.GetServerVersion();
  EXPECT_GE(version, 30000000000LL);
  EXPECT_LT(version, 40000000000LL);
}

TEST(OdbcFailures, MissingDriverAndEmptyStringGiveClearErrors) {
  TVeskSQLConnection connection;
  connection.DriverName = vesk::odbc::kDriverName;
  connection.Params = {"ConnectionString=Driver={Tolvan No Such Driver};Database=x"};
  try {
    connection.Open();
    FAIL() << "connected through a driver that does not exist";
  } catch (const TVeskDriverError& e) {
    EXPECT_THAT(e.what(), HasSubstr("Tolvan No Such Driver")) << e.what();
    EXPECT_THAT(e.what(), HasSubstr("Driver Manager")) << e.what();
  }
  connection.Params = {"Database=x"};
  EXPECT_THROW(connection.Open(), TVeskDriverError);
  EXPECT_FALSE(connection.Connected());
}

class PostgresTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Env("TOLVAN_PG_PORT").empty()) {
      TOLVAN_SKIP_OR_FAIL(
          "No PostgreSQL test server (run scripts/postgres-server start and source "
          "its env file)");
    }
    // The Unicode driver reads the text of the narrow calls in the locale the environment gives
    // (it takes the process's from there when it loads), and the texts are UTF-8: without a UTF-8
    // locale it refuses any accented letter ("invalid string conversion occured").
    if (auto variable = tolvan::platform::Utf8LocaleForChildren()) {
      tolvan::platform::SetEnv(variable->first, variable->second);
    }
    connection_.DriverName = vesk::odbc::kDriverName;
    connection_.Params = {
        "ConnectionString=Driver={PostgreSQL Unicode};Server=" + Env("TOLVAN_PG_HOST") +
            ";Port=" + Env("TOLVAN_PG_PORT") + ";Database=postgres",
        "USER_NAME=" + Env("TOLVAN_PG_USER"), "PASSWORD=" + Env("TOLVAN_PG_PASSWORD")};
  }

  TVeskSQLConnection connection_;
};

// An error in the second statement of a batch, after the first one's row count, is raised: the
// driver reports it only when the second result is read.
TEST_F(PostgresTest, ABatchWhoseSecondResultIsAnErrorRaises) {
  connection_.ExecuteDirect("DROP TABLE IF EXISTS tolvan_odbc_batch");
  connection_.ExecuteDirect("CREATE TABLE tolvan_odbc_batch (id INTEGER)");
  try {
    connection_.ExecuteDirect(
        "INSERT INTO tolvan_odbc_batch VALUES (1); INSERT INTO tolvan_odbc_no_such VALUES (2)");
    ADD_FAILURE() << "a batch whose second statement fails succeeded";
  } catch (const TVeskDriverError& e) {
    EXPECT_THAT(e.what(), HasSubstr("tolvan_odbc_no_such"));
  }
  connection_.ExecuteDirect("DROP TABLE tolvan_odbc_batch");
}

TEST_F(PostgresTest, RowsStatementsTransactionsAndVersion) {
  ExerciseConnection(connection_);
  EXPECT_EQ(connection_.GetDATABASENAME_KEY(), "postgres");
  const int64_t version = connection_.GetServerVersion();
  EXPECT_GE(version, 150000000000LL) << version;
  EXPECT_LT(version, 160000000000LL) << version;
  // The number is the reported text, encoded: "15.0.20" gives 150000000020.
  std::vector<std::string> report;
  connection_.GetInfoReport(report, TVeskInfoReportPart::Connection);
  ASSERT_THAT(report, ::testing::Contains(HasSubstr("DBMS version = 15.")));
  for (const auto& line : report) {
    if (line.rfind("DBMS version = ", 0) == 0) {
      EXPECT_EQ(version, vesk::odbc::EncodeServerVersion(line.substr(15)));
    }
  }
}

// tolvan with the arguments; status and the merged output.
struct RunResult {
  int32_t status;
  std::string output;
};
RunResult RunTolvan(const std::string& args) {
  RunResult r;
  r.status = WinExec32AndRedirectOutput(tolvan::platform::ExecutableDirectory() + "tolvan " + args,
                                        r.output, false, false);
  return r;
}

TEST(TolvanOverOdbc, BadConnectionStringFailsWithTheDriverManagersText) {
  const RunResult r = RunTolvan("mssql Versao --odbc \"Driver={Tolvan No Such Driver}\"");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_THAT(r.output, HasSubstr("Driver Manager"));
  const RunResult oracle =
      RunTolvan("oracle PegarUsuarios --odbc \"Driver={Tolvan No Such Driver}\" --user scott");
  EXPECT_EQ(oracle.status, 1) << oracle.output;
  EXPECT_THAT(oracle.output, HasSubstr("Driver Manager"));
}

TEST(TolvanOverOdbc, MssqlVersaoGroupsTheServersVersion) {
  const fs::path file = fs::temp_directory_path() / "tolvan-odbc-cli.db";
  const RunResult r = RunTolvan(
      "mssql Versao --quiet-result --odbc \"Driver=SQLite3;Database=" + file.string() + "\"");
  fs::remove(file);
  ASSERT_EQ(r.status, 0) << r.output;
  // SQLite 3.x.y: 3 * 10^10 + x * 10^6 + y, eleven digits, grouped 30.0400.00.001 style.
  EXPECT_THAT(r.output, ::testing::MatchesRegex("[0-9]{2}\\.[0-9]{4}\\.[0-9]{2}\\.[0-9]{3}\n"));
}

}  // namespace
