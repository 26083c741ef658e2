// The runners' command lines, command files and password variable, and CriarBackup and
// CriarDataBaseVazia against fake tools and the scripted driver.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Fixture.h"
#include "TolvanPostgreSQLUtil.h"
#include "ci/TestNames.h"
#include "platform/Process.h"
#include "tolvan/support/Quoting.h"

namespace tolvan::postgresql::test {
namespace {

using testing::Operation;

const std::string kExe = platform::kExecutableSuffix;

TEST(PostgresCommandLines, PiecesAsTheyStand) {
  EXPECT_EQ(PgDumpCommandLine("/a/PostgreSQL/", "", "5432", "vendas", "postgres", "/a/temp/v.dump",
                              false),
            "/a/PostgreSQL/pg_dump" + kExe +
                " -h localhost -p 5432 -U postgres -F t  -f \"/a/temp/v.dump\" vendas");
  EXPECT_EQ(
      PgDumpCommandLine("/a/PostgreSQL/", "srv", "5433", "Vendas", "ana", "/t/B.tar", true),
      "/a/PostgreSQL/pg_dump" + kExe + " -h srv -p 5433 -U ana -F t -s -f \"/t/B.tar\" Vendas");
  EXPECT_EQ(
      PgRestoreCommandLine("/a/PostgreSQL/", "", "5432", "novo", "postgres", "/t/B.tar"),
      "/a/PostgreSQL/pg_restore" + kExe + " -h localhost -p 5432 -U postgres -d novo \"/t/B.tar\"");
}

TEST(PostgresCommandLines, ANameThatWouldSplitStaysOneArgument) {
  EXPECT_EQ(tolvan::support::QuoteArgument("x --clean"), "\"x --clean\"");
  EXPECT_EQ(tolvan::support::QuoteArgument("a\"b"), "\"a\\\"b\"");
  EXPECT_EQ(tolvan::support::QuoteArgument("a\\ b\\"), "\"a\\ b\\\\\"");
  EXPECT_THAT(PgRestoreCommandLine("/p/", "h", "1", "x --clean", "u", "/f"),
              HasSubstr(" -d \"x --clean\" \"/f\""));
  // Splitting it back gives the name whole.
  auto args =
      platform::SplitCommandLine(PgRestoreCommandLine("/p/", "h", "1", "x \"y\"", "u", "/f"));
  EXPECT_THAT(args, ::testing::Contains("x \"y\""));
}

TEST(PostgresCommandLines, ToolPathsWithABlankEmptyNamesAndTrailingBackslashes) {
  const std::string folder = "C:\\Program Files\\App\\PostgreSQL\\";
  const std::string line = PgDumpCommandLine(folder, "", "5432", "vendas", "", "C:\\bk\\", false);
  EXPECT_EQ(line, "\"" + folder + "pg_dump" + kExe +
                      "\" -h localhost -p 5432 -U \"\" -F t  -f \"C:\\bk\\\\\" vendas");
  // Read back, the program, the empty user and the folder keep their places.
  EXPECT_THAT(platform::SplitCommandLine(line),
              ElementsAre(folder + "pg_dump" + kExe, "-h", "localhost", "-p", "5432", "-U", "",
                          "-F", "t", "-f", "C:\\bk\\", "vendas"));
  EXPECT_THAT(PgRestoreCommandLine(folder, "", "5432", "novo", "u", "/f"),
              StartsWith("\"" + folder + "pg_restore" + kExe + "\" -h "));
}

TEST(PostgresDatabaseKey, ServerPortAndDatabase) {
  auto k = SplitRunnerKey("srv/5433:vendas");
  EXPECT_EQ(k.server, "srv");
  EXPECT_EQ(k.port, 5433);
  EXPECT_EQ(k.database, "vendas");
  k = SplitRunnerKey("/x:vendas");
  EXPECT_EQ(k.server, "");
  EXPECT_EQ(k.port, 5432);
  k = SplitRunnerKey("srv:vendas");
  EXPECT_EQ(k.server, "srv");
  EXPECT_EQ(k.port, 5432);
}

class RunnerTest : public PluginHost {
 protected:
  const std::string out_ = app_.Path() + "temp" + platform::kPathDelimiter + "out.dump";
  std::string Dump(const std::string& password = "pw") {
    try {
      ExecutarPgDump(tools_, "", "5432", "vendas", "postgres", password, out_, false);
      return "";
    } catch (const std::exception& e) {
      return e.what();
    }
  }
};

// The password goes to the tool's environment alone: any other child of the host meanwhile
// inherits nothing, and a value the host had is the same before, during and after the run.
TEST_F(RunnerTest, PasswordReachesTheToolOnlyAndTheCommandFileHoldsTheLine) {
  // The tools take a while, and the process's own PGPASSWORD is watched all along: it keeps the
  // value the host had, before, during and after the runs.
  InstallTools("15.2", "sleep 300\n", "sleep 300\n");
  platform::SetEnv("PGPASSWORD", "da-aplicacao");
  std::atomic<bool> done{false};
  std::vector<std::string> seen;
  std::thread watcher([&] {
    while (!done) {
      if (const std::string value = platform::GetEnv("PGPASSWORD").value_or("(nenhum)");
          value != "da-aplicacao") {
        seen.push_back(value);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  EXPECT_EQ(Dump("s3cr'et"), "");
  ExecutarPgRestore(tools_, "h", "1", "novo", "ana", "s3cr'et", "/x/in.tar");
  done = true;
  watcher.join();
  EXPECT_THAT(seen, IsEmpty());
  EXPECT_EQ(platform::GetEnv("PGPASSWORD"), "da-aplicacao");
  platform::UnsetEnv("PGPASSWORD");

  const auto calls = app_.Calls("PostgreSQL/pg_dump");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].env.at("PGPASSWORD"), "s3cr'et");
  EXPECT_THAT(calls[0].args, ElementsAre("-h", "localhost", "-p", "5432", "-U", "postgres", "-F",
                                         "t", "-f", StartsWith(out_ + ".~"), "vendas"));
  EXPECT_EQ(ReadText(CommandFile("pg_dump.cmd")),
            Tool("pg_dump") + " -h localhost -p 5432 -U postgres -F t  -f \"" + calls[0].args[9] +
                "\" vendas");
  const auto restores = app_.Calls("PostgreSQL/pg_restore");
  ASSERT_EQ(restores.size(), 1u);
  EXPECT_EQ(restores[0].env.at("PGPASSWORD"), "s3cr'et");
  EXPECT_EQ(ReadText(CommandFile("pg_restore.cmd")),
            Tool("pg_restore") + " -h h -p 1 -U ana -d novo \"/x/in.tar\"");
}

TEST_F(RunnerTest, FailuresLeaveNoPasswordInTheProcess) {
  struct Case {
    const char* what;
    std::string script;  // empty: no tool at all
    std::string message;
  } cases[] = {
      {"output", "out pg_dump: error: connection failed\nexit 1\n",
       "Backup:\r\npg_dump (PostgreSQL) 15.2\npg_dump: error: connection failed\n"},
      {"blank output", "exit 3\n", "Backup:\r\npg_dump (PostgreSQL) 15.2\n"},
      {"no tool", "", "Backup:\r\nError cod: -1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(Utf8Path(app_.ToolPath("PostgreSQL/pg_dump")));
    if (!c.script.empty()) {
      app_.Install("PostgreSQL/pg_dump", ToolScript("pg_dump", "15.2", c.script));
    }
    EXPECT_EQ(Dump(), c.message);
    EXPECT_EQ(platform::GetEnv("PGPASSWORD"), std::nullopt);
  }
  // A run that prints nothing and fails is reported with its code.
  app_.Install("PostgreSQL/pg_dump", "exit 3\n");
  EXPECT_EQ(Dump(), "Backup:\r\nError cod: 3");
  app_.Install("PostgreSQL/pg_dump", "out  \t\nexit 2\n");
  EXPECT_EQ(Dump(), "Backup:\r\nError cod: 2");
  // A run that ended with 0 but wrote no archive has made no backup.
  app_.Install("PostgreSQL/pg_dump", "exit 0\n");
  EXPECT_THAT(Dump(), StartsWith("Backup:\r\nO pg_dump terminou sem erro, mas o backup que ele "
                                 "gravou não está completo; o arquivo \"" +
                                 out_ + "\" não foi alterado.\r\n"));
  app_.Install("PostgreSQL/pg_dump", DumpScript("15.2"));
  EXPECT_EQ(Dump(), "");
}

TEST_F(RunnerTest, ACommandFileThatCannotBeWrittenStopsTheRun) {
  InstallTools("15.2");
  platform::SetEnv("TMPDIR", app_.Path() + "missing");
  if (PegarDirTemp() != app_.Path() + "missing" + platform::kPathDelimiter) {
    GTEST_SKIP() << "the temporary folder does not follow TMPDIR here";
  }
  EXPECT_THROW(ExecutarPgDump(tools_, "", "5432", "vendas", "postgres", "pw", out_, false),
               std::system_error);
  EXPECT_TRUE(app_.Calls("PostgreSQL/pg_dump").empty());
  EXPECT_EQ(platform::GetEnv("PGPASSWORD"), std::nullopt);
}

TEST_F(RunnerTest, CriarBackupDumpsToTempAndReopensTheConnection) {
  InstallTools("15.2");
  connection_.Open();
  CriarBackup(&connection_);
  EXPECT_TRUE(connection_.Connected());
  const auto calls = app_.Calls("PostgreSQL/pg_dump");
  ASSERT_EQ(calls.size(), 3u);  // two version runs, then the dump
  EXPECT_THAT(
      calls[2].args,
      ElementsAre("-h", "db1", "-p", "5433", "-U", "postgres", "-F", "t", "-f",
                  StartsWith(app_.Path() + "temp" + platform::kPathDelimiter + "vendas.dump.~"),
                  "vendas"));
  EXPECT_EQ(calls[2].env.at("PGPASSWORD"), "s3cr'et");

  // After a failed dump too.
  app_.SetScript("PostgreSQL/pg_dump", ToolScript("pg_dump", "15.2", "exit 1\n"));
  EXPECT_THROW(CriarBackup(&connection_), std::runtime_error);
  EXPECT_TRUE(connection_.Connected());
  EXPECT_EQ(platform::GetEnv("PGPASSWORD"), std::nullopt);
}

TEST_F(RunnerTest, AGuardMismatchStopsBeforeTheConnectionIsClosed) {
  InstallTools("14.1");
  MakeFolder(app_.Path() + "PostgreSQL14");
  connection_.Open();
  EXPECT_THROW(CriarBackup(&connection_), std::runtime_error);
  EXPECT_EQ(driver_->Count(Operation::Close), 0);
}

class EmptyCopyTest : public PluginHost {
 protected:
  EmptyCopyTest() {
    schema_file_ = app_.Path() + "temp" + platform::kPathDelimiter + "BkpTemp.tar";
    // The collation query, answered with the settings of the connection that asks it.
    driver_->OnOtherQuery([this](const std::string& sql) {
      if (sql != kCollationSql) {
        return testing::Answer::Error("unexpected: " + sql);
      }
      asked_on_.push_back(driver_->LastSettings().params);
      return testing::Answer::Column("datcollate", {"C.UTF-8"});
    });
    connection_.Open();
  }
  std::vector<std::vector<std::string>> asked_on_;
  // The fake pg_dump writes no file: one is left where the real one would write it.
  void PretendDumped() { WriteText(schema_file_, "tar"); }
  std::string schema_file_;
};

TEST_F(EmptyCopyTest, ABareNameIsCreatedAndRestoredOnTheTemplatesServer) {
  InstallTools("15.2", "", "");
  PretendDumped();
  CriarDataBaseVazia(&dm_, "Novo");

  EXPECT_FALSE(fs::exists(Utf8Path(schema_file_)));
  EXPECT_TRUE(connection_.Connected());
  const auto dump = app_.Calls("PostgreSQL/pg_dump").back();
  EXPECT_THAT(dump.args, ElementsAre("-h", "db1", "-p", "5433", "-U", "postgres", "-F", "t", "-s",
                                     "-f", StartsWith(schema_file_ + ".~"), "vendas"));
  const auto restore = app_.Calls("PostgreSQL/pg_restore").back();
  EXPECT_THAT(restore.args,
              ElementsAre("-h", "db1", "-p", "5433", "-U", "postgres", "-d", "Novo", schema_file_));
  EXPECT_THAT(driver_->Statements(), ::testing::Contains(CreationStatement("Novo")));
}

TEST_F(EmptyCopyTest, ANamedServerGetsBothTheDatabaseAndTheRestore) {
  InstallTools("15.2");
  CriarDataBaseVazia(&dm_, "srv/6000:novo");

  // The database is made on a connection of its own to srv:6000, with the template's user.
  ASSERT_EQ(asked_on_.size(), 1u);
  EXPECT_THAT(asked_on_[0], ::testing::IsSupersetOf({"Server=srv", "Port=6000",
                                                     "User_name=postgres", "Password=s3cr'et"}));
  EXPECT_THAT(driver_->Statements(), ::testing::Contains(CreationStatement("novo")));
  const auto restore = app_.Calls("PostgreSQL/pg_restore").back();
  EXPECT_THAT(restore.args,
              ElementsAre("-h", "srv", "-p", "6000", "-U", "postgres", "-d", "novo", schema_file_));
  EXPECT_TRUE(connection_.Connected());
}

TEST_F(EmptyCopyTest, APasswordWithBlanksQuotesAndAccentsReachesEveryToolRunWhole) {
  // The tools sit in the application folder: on Windows one with a blank and accents.
  const std::string password = "minha \"senha\" é";
  connection_.Close();
  connection_.Params = {"Database=loja", "USER_NAME=postgres", "PASSWORD=" + password};
  connection_.Open();
  InstallTools("15.2");
  PretendDumped();
  CriarDataBaseVazia(&dm_, "novo");

  // Two version runs of each tool for the guard, then the dump and the restore.
  const auto dumps = app_.Calls("PostgreSQL/pg_dump");
  const auto restores = app_.Calls("PostgreSQL/pg_restore");
  ASSERT_EQ(dumps.size(), 3u);
  ASSERT_EQ(restores.size(), 3u);
  EXPECT_EQ(dumps[0].args, std::vector<std::string>{"--version"});
  for (const auto& call : {dumps[2], restores[2]}) {
    EXPECT_EQ(call.env.at("PGPASSWORD"), password);
    EXPECT_THAT(call.args, Each(Not(HasSubstr("senha"))));
  }
  EXPECT_THAT(restores[2].args,
              ElementsAre("-h", "db1", "-p", "5433", "-U", "postgres", "-d", "novo", schema_file_));
  EXPECT_THAT(ReadText(CommandFile("pg_dump.cmd")), Not(HasSubstr("senha")));
  EXPECT_THAT(ReadText(CommandFile("pg_restore.cmd")), Not(HasSubstr("senha")));
  EXPECT_EQ(platform::GetEnv("PGPASSWORD"), std::nullopt);
  EXPECT_TRUE(connection_.Connected());
}

TEST_F(EmptyCopyTest, EveryFailureRemovesTheFileAndReopens) {
  struct Case {
    const char* what;
    std::string dump_more, restore_more;
    bool creation_fails;
  } cases[] = {
      {"dump", "exit 1\n", "", false},
      {"restore", "", "exit 1\n", false},
      {"creation", "", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InstallTools("15.2", c.dump_more, c.restore_more);
    if (c.creation_fails) {
      driver_->OnExecuteError(CreationStatement("novo"), "database \"novo\" already exists");
    }
    PretendDumped();
    const auto restores = app_.Calls("PostgreSQL/pg_restore").size();
    try {
      CriarDataBaseVazia(&dm_, "novo");
      ADD_FAILURE() << "no exception";
    } catch (const std::exception& e) {
      if (c.creation_fails) {
        EXPECT_STREQ(e.what(), "database \"novo\" already exists");
        // Two version runs; no restore.
        EXPECT_EQ(app_.Calls("PostgreSQL/pg_restore").size(), restores + 2);
      } else {
        EXPECT_THAT(e.what(), ::testing::StartsWith("Backup:\r\n"));
      }
    }
    EXPECT_FALSE(fs::exists(Utf8Path(schema_file_)));
    EXPECT_TRUE(connection_.Connected());
    EXPECT_EQ(platform::GetEnv("PGPASSWORD"), std::nullopt);
    EXPECT_FALSE(connection_.Transaction()->Options.ReadOnly);
  }
}

}  // namespace
}  // namespace tolvan::postgresql::test
