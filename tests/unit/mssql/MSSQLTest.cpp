// Versao, PegarUsuarios and CriarDataBase of the loaded SQL Server plug-in on the scripted driver.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "TolvanMSSQLUtil.h"
#include "ci/TestNames.h"
#include "platform/DynamicLibrary.h"
#include "platform/Paths.h"
#include "scripted_driver/MessageOf.h"
#include "scripted_driver/ScriptedDriver.h"
#include "tolvan/Exports.h"
#include "vesk/VeskPack5.h"
#include "vesk/host/DefaultConnection.h"

namespace {

using tolvan::testing::Answer;
using tolvan::testing::Event;
using tolvan::testing::Operation;

// The session query the operator's documents give.
const std::string kSessionsSql =
    "select trim(loginame) + ' em ' + trim(hostname) + ' no ' + trim(program_name) USERNAME from "
    "SYSPROCESSES where DBID = (SELECT database_id FROM sys.dm_exec_sessions WHERE session_id = "
    "@@SPID)";

using tolvan::testing::MessageOf;

class MSSQLTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plugin_ = tolvan::platform::DynamicLibrary::Load(tolvan::platform::ExecutableDirectory() +
                                                     "TolvanMSSQL" TOLVAN_PLUGIN_SUFFIX);
    connection_.DriverName = driver_.name();
    connection_.Params = {"Database=loja", "USER_NAME=sa", "PASSWORD=x"};
    connection_.Open();
    dm_.SQLConnection = &connection_;
    vesk::SetDefaultConnection(&connection_);
    driver_->ClearRecord();
  }
  void TearDown() override { vesk::SetDefaultConnection(nullptr); }

  std::string Versao() { return plugin_->Function<tolvan::VersaoFn>("Versao")(&dm_); }
  void PegarUsuarios(std::vector<std::string>* list) {
    plugin_->Function<tolvan::PegarUsuariosFn>("PegarUsuarios")(&dm_, list);
  }
  void CriarDataBase(const std::string& path, const std::string& user = "",
                     const std::string& pass = "") {
    plugin_->Function<tolvan::CriarDataBaseFn>("CriarDataBase")(&dm_, path, user, pass);
  }
  std::vector<Event> TransactionEvents() {
    std::vector<Event> events;
    for (const auto& e : driver_->Events()) {
      if (e.op == Operation::StartTransaction || e.op == Operation::Commit ||
          e.op == Operation::Rollback || e.op == Operation::Query) {
        events.push_back(e);
      }
    }
    return events;
  }

  tolvan::testing::ScopedScriptedDriver driver_;
  TVeskSQLConnection connection_;
  TVeskDMConexao dm_;
  std::unique_ptr<tolvan::platform::DynamicLibrary> plugin_;
};

TEST_F(MSSQLTest, VersionDigitsAreGroupedTwoFourTwoAndTheRest) {
  driver_->SetServerVersion(1200005000123LL);
  EXPECT_EQ(Versao(), "12.0000.50.00123");
  driver_->SetServerVersion(150000004153LL);
  EXPECT_EQ(Versao(), "15.0000.00.4153");
  driver_->FailAt(Operation::ServerVersion, 3, "no metadata");
  EXPECT_EQ(MessageOf([&] { Versao(); }), "no metadata");
}

TEST_F(MSSQLTest, PegarUsuariosAppendsInsideItsTransaction) {
  driver_->OnQuery(kSessionsSql, Answer::Column("USERNAME", {"sa em CAIXA01 no loja.exe",
                                                             "sa em CAIXA02 no SSMS"}));
  std::vector<std::string> list = {"anterior"};
  PegarUsuarios(&list);
  EXPECT_THAT(list, ElementsAre("anterior", "sa em CAIXA01 no loja.exe", "sa em CAIXA02 no SSMS"));
  EXPECT_THAT(
      TransactionEvents(),
      ElementsAre(Event{Operation::StartTransaction, "read_committed=1 read_only=0", 1},
                  Event{Operation::Query, kSessionsSql, 1}, Event{Operation::Commit, "", 1}));
}

TEST_F(MSSQLTest, PegarUsuariosRollsBackAndReturnsOnAnyFailure) {
  driver_->OnQuery(kSessionsSql, Answer::Error("Invalid object name 'SYSPROCESSES'"));
  std::vector<std::string> list;
  EXPECT_NO_THROW(PegarUsuarios(&list));
  EXPECT_THAT(list, IsEmpty());
  EXPECT_EQ(driver_->Count(Operation::Rollback), 1);
  EXPECT_EQ(driver_->Count(Operation::Commit), 0);

  // A failure while reading: the host's query reads its rows as it opens, so none reaches the
  // list, and the transaction is rolled back.
  driver_->ClearRecord();
  driver_->OnQuery(kSessionsSql, Answer::Column("USERNAME", {"a", "b", "c"}));
  driver_->FailAt(Operation::Fetch, 2, "connection lost");
  EXPECT_NO_THROW(PegarUsuarios(&list));
  EXPECT_THAT(list, IsEmpty());
  EXPECT_EQ(driver_->Count(Operation::Rollback), 1);

  // Neither a failing start nor a failing roll-back reaches the host.
  driver_->ClearRecord();
  driver_->FailAt(Operation::StartTransaction, 1);
  EXPECT_NO_THROW(PegarUsuarios(&list));
  driver_->ClearRecord();
  driver_->OnQuery(kSessionsSql, Answer::Error("x"));
  driver_->FailAt(Operation::Rollback, 1);
  EXPECT_NO_THROW(PegarUsuarios(&list));

  EXPECT_EQ(MessageOf([&] { PegarUsuarios(nullptr); }), "PegarUsuarios: _AUser não poder ser nil");
}

TEST_F(MSSQLTest, FileNamesFromThePath) {
  for (const char* path : {"D:\\SQL\\Loja.fdb", "D:\\SQL\\Loja.mdf", "D:\\SQL\\Loja"}) {
    const auto files = tolvan::mssql::DeriveDatabaseFiles(path);
    EXPECT_EQ(files.data_file, "D:\\SQL\\Loja.mdf") << path;
    EXPECT_EQ(files.name, "Loja") << path;
    EXPECT_EQ(files.log_file, "D:\\SQL\\Loja_log.ldf") << path;
  }
  const auto dotted = tolvan::mssql::DeriveDatabaseFiles("D:\\SQL.2024\\Loja");
  EXPECT_EQ(dotted.data_file, "D:\\SQL.2024\\Loja.mdf");
  EXPECT_EQ(dotted.name, "Loja");
  EXPECT_EQ(tolvan::mssql::DeriveDatabaseFiles("/var/opt/mssql/data/loja.x.fdb").name, "loja.x");
}

TEST_F(MSSQLTest, CriarDataBaseSendsCreateAndTheTwentyEightAlters) {
  CriarDataBase("D:\\SQL\\Loja.fdb", "ignorado", "ignorado");
  const auto statements = driver_->Statements();
  ASSERT_EQ(statements.size(), 29u);
  EXPECT_EQ(statements[0],
            "CREATE DATABASE [Loja] CONTAINMENT = NONE ON  PRIMARY ( NAME = N'Loja', FILENAME = "
            "N'D:\\SQL\\Loja.mdf' , SIZE = 5120KB , FILEGROWTH = 1024KB ) LOG ON ( NAME = "
            "N'Loja_log', FILENAME = N'D:\\SQL\\Loja_log.ldf' , SIZE = 1024KB , FILEGROWTH = 10%) "
            "COLLATE Latin1_General_CI_AS");
  // The 28 options, in order, as literal texts.
  const std::vector<std::string> alters{
      "ALTER DATABASE [Loja] SET COMPATIBILITY_LEVEL = 120",
      "ALTER DATABASE [Loja] SET ANSI_NULL_DEFAULT OFF",
      "ALTER DATABASE [Loja] SET ANSI_NULLS OFF",
      "ALTER DATABASE [Loja] SET ANSI_PADDING OFF",
      "ALTER DATABASE [Loja] SET ANSI_WARNINGS OFF",
      "ALTER DATABASE [Loja] SET ARITHABORT OFF",
      "ALTER DATABASE [Loja] SET AUTO_CLOSE OFF",
      "ALTER DATABASE [Loja] SET AUTO_SHRINK OFF",
      "ALTER DATABASE [Loja] SET AUTO_CREATE_STATISTICS ON(INCREMENTAL = OFF)",
      "ALTER DATABASE [Loja] SET AUTO_UPDATE_STATISTICS ON",
      "ALTER DATABASE [Loja] SET CURSOR_CLOSE_ON_COMMIT OFF",
      "ALTER DATABASE [Loja] SET CURSOR_DEFAULT  GLOBAL",
      "ALTER DATABASE [Loja] SET CONCAT_NULL_YIELDS_NULL OFF",
      "ALTER DATABASE [Loja] SET NUMERIC_ROUNDABORT OFF",
      "ALTER DATABASE [Loja] SET QUOTED_IDENTIFIER OFF",
      "ALTER DATABASE [Loja] SET RECURSIVE_TRIGGERS OFF",
      "ALTER DATABASE [Loja] SET DISABLE_BROKER",
      "ALTER DATABASE [Loja] SET AUTO_UPDATE_STATISTICS_ASYNC OFF",
      "ALTER DATABASE [Loja] SET DATE_CORRELATION_OPTIMIZATION OFF",
      "ALTER DATABASE [Loja] SET PARAMETERIZATION SIMPLE",
      "ALTER DATABASE [Loja] SET READ_COMMITTED_SNAPSHOT OFF",
      "ALTER DATABASE [Loja] SET READ_WRITE",
      "ALTER DATABASE [Loja] SET RECOVERY SIMPLE",
      "ALTER DATABASE [Loja] SET MULTI_USER",
      "ALTER DATABASE [Loja] SET PAGE_VERIFY CHECKSUM",
      "ALTER DATABASE [Loja] SET TARGET_RECOVERY_TIME = 0 SECONDS",
      "ALTER DATABASE [Loja] SET DELAYED_DURABILITY = DISABLED",
      "ALTER DATABASE [Loja] SET ALLOW_SNAPSHOT_ISOLATION ON",
  };
  EXPECT_EQ(std::vector<std::string>(statements.begin() + 1, statements.end()), alters);
  EXPECT_EQ(driver_->Count(Operation::StartTransaction), 0);

  // The two further arguments change nothing.
  driver_->ClearRecord();
  CriarDataBase("D:\\SQL\\Loja.fdb", "outro", "x");
  EXPECT_EQ(driver_->Statements(), statements);
}

TEST_F(MSSQLTest, NamesAndPathsStayInsideTheirBracketsAndQuotes) {
  CriarDataBase("D:\\O'Neil\\Lo]ja's");
  const auto statements = driver_->Statements();
  ASSERT_EQ(statements.size(), 29u);
  EXPECT_EQ(statements[0],
            "CREATE DATABASE [Lo]]ja's] CONTAINMENT = NONE ON  PRIMARY ( NAME = N'Lo]ja''s', "
            "FILENAME = N'D:\\O''Neil\\Lo]ja''s.mdf' , SIZE = 5120KB , FILEGROWTH = 1024KB ) LOG "
            "ON ( NAME = N'Lo]ja''s_log', FILENAME = N'D:\\O''Neil\\Lo]ja''s_log.ldf' , SIZE = "
            "1024KB , FILEGROWTH = 10%) COLLATE Latin1_General_CI_AS");
  EXPECT_EQ(statements[28], "ALTER DATABASE [Lo]]ja's] SET ALLOW_SNAPSHOT_ISOLATION ON");
}

TEST_F(MSSQLTest, FailingStatementLeavesTheEarlierOnesAndPassesThrough) {
  driver_->FailAt(Operation::Execute, 4, "ALTER DATABASE failed");
  EXPECT_EQ(MessageOf([&] { CriarDataBase("D:\\SQL\\Loja"); }), "ALTER DATABASE failed");
  const auto statements = driver_->Statements();
  ASSERT_EQ(statements.size(), 4u);
  EXPECT_EQ(statements[3], "ALTER DATABASE [Loja] SET ANSI_NULLS OFF");
}

}  // namespace
