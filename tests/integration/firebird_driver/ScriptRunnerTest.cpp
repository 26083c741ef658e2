// The components' script runner against the private test server: what each script leaves in a
// new database, read back through the host's driver.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "FirebirdTestDatabase.h"
#include "FirebirdTestServer.h"
#include "ci/TestNames.h"
#include "vesk/VeskPack5.h"

namespace {

class ScriptRunner : public ::testing::Test {
 protected:
  void TearDown() override {
    script_.reset();
    database_.reset();
    if (!path_.empty()) {
      std::error_code ignored;
      fs::remove(path_, ignored);
    }
  }

  // A new database on the server, connected, with the runner on it.
  void Create() {
    path_ = server_->data + "/runner_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".fdb";
    fs::remove(path_);
    database_.emplace();
    database_->DatabaseName = server_->Key(path_);
    database_->DefaultTransaction = &transaction_;
    database_->Params = {"USER '" + server_->user + "'", "PASSWORD '" + server_->password + "'"};
    database_->CreateDatabase();
    script_.emplace();
    script_->Database = &*database_;
    script_->Transaction = &transaction_;
  }

  void Run(const Lines& lines) {
    script_->Script = lines;
    script_->ExecuteScript();
  }

  // The first column of each row, read on a connection of its own (so only committed work shows).
  Lines Select(const std::string& sql) {
    tolvan::test::FirebirdDatabase reader(server_->Key(path_), server_->user, server_->password);
    return reader.Select(sql);
  }

  std::optional<tolvan::test::FirebirdServer> server_ = tolvan::test::FindFirebirdServer();
  std::string path_;
  TVeskIBTransaction transaction_;
  std::optional<TVeskIBDatabase> database_;
  std::optional<TVeskIBScript> script_;
};

TEST_F(ScriptRunner, ReadsTerminatorsOfAnyLengthProceduresAndTriggers) {
  REQUIRE_SERVER(server_);
  Create();
  Run({"CREATE TABLE LOG_T (ID INTEGER, MSG VARCHAR(40));",
       "SET TERM !! ;CREATE PROCEDURE PUT_LOG (M VARCHAR(40)) AS", "BEGIN",
       "  INSERT INTO LOG_T VALUES (1, :M); -- a ';' and a '!!' in a comment", "END!!",
       "CREATE TRIGGER LOG_BI FOR LOG_T BEFORE INSERT AS", "BEGIN",
       "  NEW.MSG = NEW.MSG || ' !! ;';", "END!!", "SET TERMINATOR ; !!",
       "EXECUTE PROCEDURE PUT_LOG('ok');"});
  EXPECT_THAT(Select("select trim(rdb$procedure_name) from rdb$procedures"),
              ElementsAre("PUT_LOG"));
  EXPECT_THAT(Select("select trim(rdb$trigger_name) from rdb$triggers where rdb$system_flag = 0"),
              ElementsAre("LOG_BI"));
  EXPECT_THAT(Select("select id || ' ' || msg from log_t"), ElementsAre("1 ok !! ;"));
}

TEST_F(ScriptRunner, PassesQuotedTextsWithTerminatorsAndTheDialectToTheServer) {
  REQUIRE_SERVER(server_);
  Create();
  Run({"CREATE TABLE T (S VARCHAR(40));", "INSERT INTO T VALUES (q'{it's; /* not a comment */}');",
       "INSERT INTO T VALUES ('-- not a comment; either');", "SET SQL DIALECT 1;",
       // Only dialect 1 reads "x" as a text; dialect 3 reads a column name.
       "INSERT INTO T VALUES (\"dialect 1\");"});
  EXPECT_THAT(Select("select s from t order by s"),
              ElementsAre("-- not a comment; either", "dialect 1", "it's; /* not a comment */"));
}

TEST_F(ScriptRunner, CommitsDdlBeforeLaterStatementsAndObeysCommitAndRollback) {
  REQUIRE_SERVER(server_);
  Create();
  Run({"CREATE TABLE A (N INTEGER);", "INSERT INTO A VALUES (1);", "COMMIT;",
       "INSERT INTO A VALUES (2);",
       // The table made here stays, and with it the row before it: the DDL's commit comes
       // before the rollback runs.
       "CREATE TABLE B (N INTEGER);", "ROLLBACK WORK;", "INSERT INTO B VALUES (3);"});
  EXPECT_THAT(Select("select n from a"), ElementsAre("1", "2"));
  EXPECT_THAT(Select("select n from b"), ElementsAre("3"));

  // With AUTODDL off, DDL is work like any other: a rollback takes it back.
  Run({"SET AUTODDL OFF;", "CREATE TABLE C (N INTEGER);", "ROLLBACK;", "SET AUTO ON;",
       "CREATE TABLE E (N INTEGER);"});
  EXPECT_THAT(Select("select trim(rdb$relation_name) from rdb$relations where "
                     "rdb$system_flag = 0 order by 1"),
              ElementsAre("A", "B", "E"));
}

TEST_F(ScriptRunner, AFailingStatementKeepsTheWorkBeforeItAndRunsNothingAfter) {
  REQUIRE_SERVER(server_);
  Create();
  try {
    Run({"CREATE TABLE A (N INTEGER NOT NULL);", "INSERT INTO A VALUES (1);",
         "INSERT INTO A VALUES (NULL);", "INSERT INTO A VALUES (3);"});
    FAIL() << "no exception";
  } catch (const TVeskDriverError& e) {
    EXPECT_THAT(e.what(), HasSubstr("\"A\".\"N\""));
  }
  EXPECT_THAT(Select("select n from a"), ElementsAre("1"));

  // A command only the command-line tool knows is refused, naming its line, before anything
  // of the script runs.
  try {
    Run({"INSERT INTO A VALUES (4);", "", "SHOW TABLES;"});
    FAIL() << "no exception";
  } catch (const TVeskDriverError& e) {
    EXPECT_THAT(e.what(), HasSubstr("Linha 3 do script"));
    EXPECT_THAT(e.what(), HasSubstr("SHOW TABLES"));
  }
  EXPECT_THAT(Select("select n from a"), ElementsAre("1"));
}

}  // namespace
