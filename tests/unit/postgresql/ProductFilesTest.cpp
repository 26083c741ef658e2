// The dump that CriarBackup and CriarDataBaseVazia make goes to a name of its own and replaces the
// final file only after a run that succeeded; the command files replace what stands at their
// fixed names; paths with a double quote are refused; a tool folder with a blank still runs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Fixture.h"
#include "TolvanPostgreSQLUtil.h"
#include "ci/TestNames.h"
#include "platform/Files.h"
#include "recorders/Recorders.h"
#include "scripted_driver/MessageOf.h"

namespace tolvan::postgresql::test {
namespace {

using testing::MessageOf;
using testing::Operation;

class BackupFileTest : public PluginHost {
 protected:
  BackupFileTest() : dump_(app_.Path() + "temp" + platform::kPathDelimiter + "vendas.dump") {
    WriteText(dump_, "backup bom de ontem");
    connection_.Open();
  }

  // Everything in temp/ but the final dump: what a run left behind.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Utf8Path(app_.Path() + "temp"))) {
      if (entry.path().filename() != "vendas.dump") {
        names.push_back(testing::Utf8Text(entry.path().filename()));
      }
    }
    return names;
  }

  std::string dump_;
};

TEST_F(BackupFileTest, EveryFailedRunLeavesTheGoodDumpAsItWasAndNoTemporary) {
  struct Case {
    const char* what;
    std::string version;  // of the installed tools
    std::string dump_more;
    std::string message_start;
  } cases[] = {
      {"tool explains its failure", "15.2",
       "out pg_dump: error: password authentication failed\n"
       "exit 1\n",
       "Backup:\r\npg_dump (PostgreSQL) 15.2\npg_dump: error"},
      {"tool killed", "15.2", "crash\n", "Backup:\r\npg_dump (PostgreSQL) 15.2"},
      {"guard refuses", "14.1", "", "O aplicativo pg_dump está na versão 14.1"},
  };
  MakeFolder(app_.Path() + "PostgreSQL14");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InstallTools(c.version, c.dump_more);
    EXPECT_THAT(MessageOf([&] { CriarBackup(&connection_); }), StartsWith(c.message_start));
    EXPECT_EQ(ReadText(dump_), "backup bom de ontem");
    EXPECT_THAT(Leftovers(), ::testing::IsEmpty());
    EXPECT_TRUE(connection_.Connected());
  }
}

TEST_F(BackupFileTest, ASuccessReplacesTheDumpFromTheTemporaryNameTheToolWasGiven) {
  InstallTools("15.2");
  const platform::ScopedFileCallRecorder recorder;
  CriarBackup(&connection_);
  const auto calls = app_.Calls("PostgreSQL/pg_dump");
  ASSERT_EQ(calls.size(), 3u);
  // -f names a new file beside the dump; the command file holds the line as it ran.
  const std::string written = calls[2].args[9];
  EXPECT_THAT(written, StartsWith(dump_ + ".~"));
  // The fake flushes nothing: the dump is flushed before its rename, its folder after.
  EXPECT_EQ(tolvan::test::DurableCommitProblem(recorder.Calls(), written, dump_), "");
  EXPECT_EQ(ReadText(CommandFile("pg_dump.cmd")),
            Tool("pg_dump") + " -h db1 -p 5433 -U postgres -F t  -f \"" + written + "\" vendas");
  // What the tool wrote is now the dump.
  EXPECT_EQ(ReadText(dump_), testing::SampleDump());
  EXPECT_FALSE(fs::exists(Utf8Path(written)));
  EXPECT_THAT(Leftovers(), ::testing::IsEmpty());
}

TEST_F(BackupFileTest, AToolThatCannotStartOrAFolderThatIsMissingTouchesNothing) {
  fs::remove(Utf8Path(app_.ToolPath("PostgreSQL/pg_dump")));
  EXPECT_EQ(MessageOf([&] {
              ExecutarPgDump(tools_, "", "5432", "vendas", "postgres", "pw", dump_, false);
            }),
            "Backup:\r\nError cod: -1");
  EXPECT_EQ(ReadText(dump_), "backup bom de ontem");
  EXPECT_THAT(Leftovers(), ::testing::IsEmpty());

  InstallTools("15.2");
  const std::string missing = app_.Path() + "nada" + platform::kPathDelimiter + "vendas.dump";
  EXPECT_EQ(MessageOf([&] {
              ExecutarPgDump(tools_, "", "5432", "vendas", "postgres", "pw", missing, false);
            }),
            "Backup:\r\nNão foi possível criar o arquivo de backup \"" + missing +
                "\": a pasta não existe.");
  EXPECT_TRUE(app_.Calls("PostgreSQL/pg_dump").empty());
  EXPECT_EQ(platform::GetEnv("PGPASSWORD"), std::nullopt);
}

TEST_F(BackupFileTest, ADoubleQuoteInAPathIsRefusedBeforeAnythingRuns) {
  InstallTools("15.2");
  driver_->SetDatabaseKey("db1/5433:ven\"das");
  connection_.Close();
  connection_.Open();
  driver_->ClearRecord();
  const std::string quoted = app_.Path() + "temp" + platform::kPathDelimiter + "ven\"das.dump";
  EXPECT_EQ(MessageOf([&] { CriarBackup(&connection_); }),
            "Backup:\r\nO arquivo de backup \"" + quoted +
                "\" tem aspas duplas (\"), que não podem fazer parte de um nome de arquivo ou "
                "pasta. Use um nome sem aspas.");
  EXPECT_EQ(driver_->Count(Operation::Close), 0);
  EXPECT_TRUE(app_.Calls("PostgreSQL/pg_dump").empty()) << "not even the version run";

  EXPECT_THAT(MessageOf([&] {
                ExecutarPgRestore(app_.Path() + "a\"b/", "", "5432", "novo", "u", "pw", dump_);
              }),
              StartsWith("Backup:\r\nA pasta das ferramentas do PostgreSQL \""));
  EXPECT_THAT(
      MessageOf([&] { ExecutarPgRestore(tools_, "", "5432", "novo", "u", "pw", dump_ + "\"x"); }),
      StartsWith("Backup:\r\nO arquivo a restaurar \""));
  EXPECT_TRUE(app_.Calls("PostgreSQL/pg_restore").empty());
  EXPECT_EQ(ReadText(dump_), "backup bom de ontem");
}

TEST_F(BackupFileTest, ToolsInAFolderWithABlankRunAndTheGuardFindsThem) {
  const std::string folder = app_.Path() + "Program Files" + platform::kPathDelimiter;
  MakeFolder(folder + "PostgreSQL");
  app_.Install("Program Files/PostgreSQL/pg_dump", DumpScript("15.2"));
  app_.Install("Program Files/PostgreSQL/pg_restore", ToolScript("pg_restore", "15.2"));
  const std::string tools = folder + "PostgreSQL" + platform::kPathDelimiter;

  VerificarVersaoFerramentas(&connection_, tools, {"pg_dump", "pg_restore"});
  ExecutarPgDump(tools, "", "5432", "vendas", "postgres", "pw", dump_, false);
  ExecutarPgRestore(tools, "", "5432", "novo", "postgres", "pw", dump_);
  EXPECT_EQ(app_.Calls("Program Files/PostgreSQL/pg_dump").size(), 3u);
  EXPECT_EQ(app_.Calls("Program Files/PostgreSQL/pg_restore").size(), 3u);
  EXPECT_THAT(ReadText(tools + "pg_restore.cmd"),
              StartsWith("\"" + tools + "pg_restore" + platform::kExecutableSuffix + "\" -h "));
}

// The temporary folder may be shared with other local users: whatever stands at a command file's
// name there (another user's read-only file, a link to someone's file, a folder) neither stops a
// run nor is changed by it, and no run, good or failed, leaves anything there.
TEST_F(BackupFileTest, WhatStandsInTheTemporaryFolderNeitherBlocksARunNorIsTouched) {
  const std::string temp = PegarDirTemp();
  const std::string victim = app_.Path() + "arquivo-de-outro";
  WriteText(victim, "intocado");
  struct Case {
    const char* what;
    std::function<bool(const std::string&)> put;  // false: not possible here
  } cases[] = {
      {"a read-only file",
       [](const std::string& at) {
         WriteText(at, "de outro usuário");
         fs::permissions(Utf8Path(at), fs::perms::owner_read);
         return true;
       }},
      {"a link",
       [&victim](const std::string& at) {
         std::error_code error;
         fs::create_symlink(Utf8Path(victim), Utf8Path(at), error);
         return !error;
       }},
      {"a folder", [](const std::string& at) { return fs::create_directory(Utf8Path(at)); }},
  };
  // Each entry's name, kind and, for a file, what it holds.
  auto listing = [&temp] {
    std::vector<std::string> entries;
    for (const auto& entry : fs::directory_iterator(Utf8Path(temp))) {
      const std::string path = testing::Utf8Text(entry.path());
      const auto kind = fs::symlink_status(entry.path()).type();
      entries.push_back(testing::Utf8Text(entry.path().filename()) + " " +
                        std::to_string(static_cast<int>(kind)) + " " +
                        (kind == fs::file_type::regular ? ReadText(path) : std::string()));
    }
    std::sort(entries.begin(), entries.end());
    return entries;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(Utf8Path(temp));
    MakeFolder(temp);
    if (!c.put(temp + "pg_dump.cmd") || !c.put(temp + "pg_restore.cmd")) {
      continue;
    }
    const auto before = listing();
    for (const char* dump_more : {"", "exit 1\n"}) {
      InstallTools("15.2", dump_more);
      bool failed = false;
      try {
        ExecutarPgDump(tools_, "", "5432", "vendas", "postgres", "pw", dump_, false);
      } catch (const std::runtime_error&) {
        failed = true;
      }
      EXPECT_EQ(failed, *dump_more != '\0');
      EXPECT_NO_THROW(
          ExecutarPgRestore(tools_, "", "5432", "novo", "postgres", "pw", sample_dump_));
      EXPECT_EQ(listing(), before);
    }
    EXPECT_EQ(ReadText(victim), "intocado");
    EXPECT_THAT(ReadText(CommandFile("pg_dump.cmd")), StartsWith(Tool("pg_dump") + " -h "));
    for (const char* name : {"pg_dump.cmd", "pg_restore.cmd"}) {
      std::error_code ignored;
      fs::permissions(Utf8Path(temp + name), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
}

}  // namespace
}  // namespace tolvan::postgresql::test
