// Versao, PegarUsuarios and PegarPlan of the loaded Firebird plug-in, on the scripted driver.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "ci/TestNames.h"
#include "platform/DynamicLibrary.h"
#include "platform/Paths.h"
#include "scripted_driver/ScriptedDriver.h"
#include "tolvan/Exports.h"
#include "vesk/VeskPack5.h"
#include "vesk/VeskPackBase5.h"
#include "vesk/host/DefaultConnection.h"
#include "vesk/host/Toolkit.h"

namespace {

using tolvan::testing::Answer;
using tolvan::testing::Event;
using tolvan::testing::Operation;

constexpr const char* kOdsSql = "select MON$ODS_MAJOR||'.'||MON$ODS_MINOR ODS from MON$DATABASE";
constexpr const char* kAttachmentsSql =
    "select trim(MON$USER) || ' em ' || trim(MON$REMOTE_ADDRESS) || ' no ' || "
    "trim(MON$REMOTE_PROCESS) USERNAME from MON$ATTACHMENTS where MON$USER <> 'Cache Writer' and "
    "MON$USER <> 'Garbage Collector'";

struct LogEntry {
  std::string text;
  int level;
  std::string source;
};

class FirebirdReportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plugin_ = tolvan::platform::DynamicLibrary::Load(tolvan::platform::ExecutableDirectory() +
                                                     "TolvanFirebird" TOLVAN_PLUGIN_SUFFIX);
    versao_ = plugin_->Function<tolvan::VersaoFn>("Versao");
    pegar_usuarios_ = plugin_->Function<tolvan::PegarUsuariosFn>("PegarUsuarios");
    ASSERT_NE(versao_, nullptr);
    ASSERT_NE(pegar_usuarios_, nullptr);

    previous_log_ =
        vesk::SetLogSink([this](const std::string& text, int level, const std::string& source) {
          log_.push_back({text, level, source});
        });

    connection_ = std::make_unique<TVeskSQLConnection>();
    connection_->DriverName = driver_.name();
    connection_->Params = {"Database=/data/loja.fdb", "USER_NAME=SYSDBA", "PASSWORD=x"};
    connection_->Open();
    dm_.SQLConnection = connection_.get();
    vesk::SetDefaultConnection(connection_.get());
    driver_->ClearRecord();
  }

  void TearDown() override {
    vesk::SetDefaultConnection(nullptr);
    connection_.reset();
    vesk::SetLogSink(previous_log_);
  }

  void ScriptServer(const std::string& version_line, const std::string& ods = "12.0") {
    driver_->SetInfoReport({"Database = /data/loja.fdb", version_line, "Page size = 8192"});
    driver_->OnQuery(kOdsSql, Answer::Column("ODS", {ods}));
  }

  tolvan::testing::ScopedScriptedDriver driver_;
  std::unique_ptr<tolvan::platform::DynamicLibrary> plugin_;
  tolvan::VersaoFn versao_ = nullptr;
  tolvan::PegarUsuariosFn pegar_usuarios_ = nullptr;
  std::unique_ptr<TVeskSQLConnection> connection_;
  TVeskDMConexao dm_;
  std::vector<LogEntry> log_;
  vesk::LogSink previous_log_;
};

TEST_F(FirebirdReportsTest, VersaoJoinsFirstServerLineAndOdsOnAClone) {
  ScriptServer(
      "Server version = LI-V3.0.11.33637 Firebird 3.0\r\nLI-V3.0.11.33637 Firebird 3.0/tcp "
      "(db)/P15:C\r\n");

  EXPECT_EQ(versao_(&dm_), "LI-V3.0.11.33637 Firebird 3.0 ODS 12.0");

  // All the work goes through a second session; the host's own is left alone.
  EXPECT_THAT(driver_->Events(), ElementsAre(Event{Operation::Connect, "", 2},
                                             Event{Operation::InfoReport, "Connection", 2},
                                             Event{Operation::Query, kOdsSql, 2}))
      << driver_->Describe();
  EXPECT_THAT(log_, IsEmpty());
}

TEST_F(FirebirdReportsTest, VersaoVersionPartForms) {
  struct Case {
    std::string line;
    std::string expected;
  } cases[] = {
      // The embedded engine reports a single line: it is taken whole.
      {"Server version = LI-V3.0.11.33637 Firebird 3.0", "LI-V3.0.11.33637 Firebird 3.0 ODS 12.0"},
      // Only the first "=" separates name from value.
      {"Server version =  a=b \t", "a=b ODS 12.0"},
      // A bare LF ends the first line too, so the result stays one line.
      {"Server version = one\ntwo", "one ODS 12.0"},
      // No entry: an empty version part.
      {"Server name = x", " ODS 12.0"},
  };
  for (const Case& c : cases) {
    ScriptServer(c.line);
    EXPECT_EQ(versao_(&dm_), c.expected) << c.line;
  }
}

TEST_F(FirebirdReportsTest, VersaoReportFailureIsFoldedIntoTheResultAndLogged) {
  ScriptServer("Server version = LI-V3.0.11.33637 Firebird 3.0");
  driver_->FailAt(Operation::InfoReport, 1, "connection lost");

  EXPECT_EQ(versao_(&dm_), "Erro: connection lost ODS 12.0");
  ASSERT_EQ(log_.size(), 1u);
  EXPECT_EQ(log_[0].text, "Erro: connection lost");
  EXPECT_EQ(log_[0].level, -1);
  EXPECT_EQ(log_[0].source, "Versao");
}

TEST_F(FirebirdReportsTest, VersaoOdsFailureIsSilentlyLeftOut) {
  ScriptServer("Server version = LI-V3.0.11.33637 Firebird 3.0");
  driver_->OnQuery(kOdsSql, Answer::Error("Table unknown MON$DATABASE"));
  EXPECT_EQ(versao_(&dm_), "LI-V3.0.11.33637 Firebird 3.0");

  // Failing while reading the row counts as well; so does an empty answer.
  ScriptServer("Server version = LI-V3.0.11.33637 Firebird 3.0");
  driver_->FailAt(Operation::Fetch, 1, "read error");
  EXPECT_EQ(versao_(&dm_), "LI-V3.0.11.33637 Firebird 3.0");

  driver_->OnQuery(kOdsSql, Answer::Rows({"ODS"}, {}));
  EXPECT_EQ(versao_(&dm_), "LI-V3.0.11.33637 Firebird 3.0");

  // Both steps failing leaves the error alone.
  driver_->FailAt(Operation::InfoReport, driver_->Count(Operation::InfoReport) + 1, "gone");
  EXPECT_EQ(versao_(&dm_), "Erro: gone");
  EXPECT_EQ(log_.size(), 1u);
}

TEST_F(FirebirdReportsTest, VersaoCloneFailureReachesTheCaller) {
  ScriptServer("Server version = LI-V3.0.11.33637 Firebird 3.0");
  driver_->FailAt(Operation::Connect, 1, "too many connections");
  try {
    versao_(&dm_);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "too many connections");
  }
  EXPECT_THAT(log_, IsEmpty());
}

TEST_F(FirebirdReportsTest, PegarUsuariosAppendsEachRowInATransaction) {
  driver_->OnQuery(kAttachmentsSql,
                   Answer::Column("USERNAME", {"SYSDBA em 127.0.0.1/50412 no /usr/bin/isql-fb",
                                               std::nullopt, "ANA em 10.0.0.7/1 no app.exe"}));
  std::vector<std::string> users = {"already here"};

  pegar_usuarios_(&dm_, &users);

  EXPECT_THAT(users, ElementsAre("already here", "SYSDBA em 127.0.0.1/50412 no /usr/bin/isql-fb",
                                 "", "ANA em 10.0.0.7/1 no app.exe"));
  EXPECT_THAT(
      driver_->Events(),
      ElementsAre(Event{Operation::StartTransaction, "read_committed=1 read_only=0", 1},
                  Event{Operation::Query, kAttachmentsSql, 1}, Event{Operation::Commit, "", 1}))
      << driver_->Describe();
}

TEST_F(FirebirdReportsTest, PegarUsuariosWithoutAListRaisesBeforeTouchingTheServer) {
  try {
    pegar_usuarios_(&dm_, nullptr);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "PegarUsuarios: _AUser não poder ser nil");
  }
  EXPECT_THAT(driver_->Events(), IsEmpty());
}

TEST_F(FirebirdReportsTest, PegarUsuariosSwallowsEveryFailureAndRollsBack) {
  struct Case {
    const char* what;
    Operation op;
    int n;
    std::vector<std::string> kept;
  } cases[] = {
      {"query", Operation::Query, 1, {"old"}},
      {"reading the rows", Operation::Fetch, 2, {"old"}},
      {"commit", Operation::Commit, 1, {"old", "A em x no y", "B em x no y"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tolvan::testing::ScopedScriptedDriver driver("ScriptedFailing");
    driver->OnQuery(kAttachmentsSql, Answer::Column("USERNAME", {"A em x no y", "B em x no y"}));
    driver->FailAt(c.op, c.n, "failure");
    TVeskSQLConnection connection;
    connection.DriverName = driver.name();
    TVeskDMConexao dm;
    dm.SQLConnection = &connection;
    vesk::SetDefaultConnection(&connection);
    std::vector<std::string> users = {"old"};

    EXPECT_NO_THROW(pegar_usuarios_(&dm, &users));

    EXPECT_EQ(users, c.kept);
    EXPECT_EQ(driver->Count(Operation::Rollback), 1) << driver->Describe();
    EXPECT_EQ(driver->Count(Operation::Commit), c.op == Operation::Commit ? 1 : 0);
    vesk::SetDefaultConnection(nullptr);
  }
}

TEST_F(FirebirdReportsTest, PegarUsuariosSwallowsAFailedStartAndAFailedRollback) {
  driver_->OnQuery(kAttachmentsSql, Answer::Column("USERNAME", {"A em x no y"}));
  std::vector<std::string> users;

  driver_->FailAt(Operation::StartTransaction, 1, "no transaction");
  EXPECT_NO_THROW(pegar_usuarios_(&dm_, &users));
  EXPECT_THAT(users, IsEmpty());
  EXPECT_EQ(driver_->Count(Operation::Query), 0);

  // A result without the column fails the lookup; the rollback failing too changes nothing.
  driver_->OnQuery(kAttachmentsSql, Answer::Column("OTHER", {"x"}));
  driver_->FailAt(Operation::Rollback, 1, "rollback failed");
  EXPECT_NO_THROW(pegar_usuarios_(&dm_, &users));
  EXPECT_THAT(users, IsEmpty());
  EXPECT_EQ(driver_->Count(Operation::Rollback), 1);
  EXPECT_EQ(driver_->Count(Operation::Commit), 0);
}

TEST_F(FirebirdReportsTest, PegarPlanIsNotSupported) {
  auto pegar_plan = plugin_->Function<tolvan::PegarPlanFn>("PegarPlan");
  ASSERT_NE(pegar_plan, nullptr);
  EXPECT_EQ(pegar_plan(&dm_, "select 1 from rdb$database"), "não suportado");
  EXPECT_EQ(pegar_plan(nullptr, ""), "não suportado");
  EXPECT_THAT(driver_->Events(), IsEmpty());
}

}  // namespace
