// Runs that do not end well leave nothing half-made: a dump that is not a whole archive never
// replaces the earlier one, a cut archive never reaches pg_restore, the empty copy that failed
// is dropped (or the message says what stayed), and a PGPASSWORD the host had stays after every
// runner.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Fixture.h"
#include "TolvanPostgreSQLUtil.h"
#include "ci/TestNames.h"
#include "scripted_driver/MessageOf.h"

namespace tolvan::postgresql::test {
namespace {

using testing::Answer;
using testing::MessageOf;
using testing::Operation;

const std::string kSlash(1, platform::kPathDelimiter);

class IncompleteRunTest : public PluginHost {
 protected:
  IncompleteRunTest() {
    WriteText(dump_, "backup bom de ontem");
    // The fake pg_dump copies whatever stands here to its -f file.
    WriteText(cut_, testing::SampleDump().substr(0, 2100));
    WriteText(no_toc_, testing::TarMemberOf("restore.sql", "--\n") + testing::kTarEnd);
  }

  std::string Dump() {
    return MessageOf(
        [&] { ExecutarPgDump(tools_, "", "5432", "vendas", "postgres", "pw", dump_, false); });
  }

  std::vector<std::string> TempNames() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Utf8Path(app_.Path() + "temp"))) {
      names.push_back(testing::Utf8Text(entry.path().filename()));
    }
    return names;
  }

  const std::string dump_ = app_.Path() + "temp" + kSlash + "vendas.dump";
  const std::string cut_ = app_.Path() + "cortado.tar";
  const std::string no_toc_ = app_.Path() + "sem-sumario.tar";
};

TEST_F(IncompleteRunTest, ADumpThatIsNoWholeArchiveNeverReplacesTheEarlierOne) {
  struct Case {
    const char* what;
    std::string script;
    std::string reason;
  } cases[] = {
      {"nothing written", "exit 0\n", "o arquivo está vazio"},
      {"cut at 2100 bytes", "copy-to-option -f " + cut_ + "\n", "\"3348.dat\" deveria ter 1504"},
      {"no table of contents", "copy-to-option -f " + no_toc_ + "\n", "falta o sumário (toc.dat)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    app_.Install("PostgreSQL/pg_dump", c.script);
    const std::string message = Dump();
    EXPECT_THAT(message, StartsWith("Backup:\r\nO pg_dump terminou sem erro, mas o backup que ele "
                                    "gravou não está completo; o arquivo \"" +
                                    dump_ + "\" não foi alterado.\r\n"));
    EXPECT_THAT(message, HasSubstr(c.reason));
    EXPECT_EQ(ReadText(dump_), "backup bom de ontem");
    EXPECT_THAT(TempNames(), ::testing::ElementsAre("vendas.dump"));
  }
}

TEST_F(IncompleteRunTest, ACutOrDamagedArchiveNeverReachesPgRestore) {
  InstallTools("15.2");
  std::string flipped = testing::SampleDump();
  flipped[100] ^= 1;
  WriteText(dump_, flipped);
  const auto restore = [&](const std::string& file) {
    return MessageOf([&] { ExecutarPgRestore(tools_, "", "5432", "novo", "u", "pw", file); });
  };
  EXPECT_EQ(restore(cut_),
            "Backup:\r\nO arquivo \"" + cut_ +
                "\" está cortado ou danificado: o membro \"3348.dat\" deveria ter 1504 bytes, mas "
                "só 52 estão no arquivo (byte 2048). Nada foi restaurado: use um backup "
                "completo.");
  EXPECT_THAT(restore(dump_), HasSubstr("soma de verificação (byte 0)"));
  EXPECT_THAT(restore(no_toc_), HasSubstr("falta o sumário (toc.dat)"));
  EXPECT_TRUE(app_.Calls("PostgreSQL/pg_restore").empty());

  // A custom-format dump, a folder and a missing file are pg_restore's to read and report.
  WriteText(dump_, "PGDMP\x01\x0e");
  ExecutarPgRestore(tools_, "", "5432", "novo", "u", "pw", dump_);
  ExecutarPgRestore(tools_, "", "5432", "novo", "u", "pw", app_.Path() + "temp");
  ExecutarPgRestore(tools_, "", "5432", "novo", "u", "pw", app_.Path() + "nao-existe.tar");
  EXPECT_EQ(app_.Calls("PostgreSQL/pg_restore").size(), 3u);
}

TEST_F(IncompleteRunTest, PgPasswordKeepsTheHostsValueAfterEveryEarlyExitOfTheRunners) {
  InstallTools("15.2");
  const std::string quoted = app_.Path() + "temp" + kSlash + "a\"b.dump";
  const std::string missing = app_.Path() + "nada" + kSlash + "vendas.dump";
  const std::function<void()> early_exits[] = {
      [&] { ExecutarPgDump(tools_ + "\"", "", "5432", "v", "u", "pw", dump_, false); },
      [&] { ExecutarPgDump(tools_, "", "5432", "v", "u", "pw", quoted, false); },
      [&] { ExecutarPgDump(tools_, "", "5432", "v", "u", "pw", missing, false); },
      [&] { ExecutarPgRestore(tools_ + "\"", "", "5432", "v", "u", "pw", cut_); },
      [&] { ExecutarPgRestore(tools_, "", "5432", "v", "u", "pw", quoted); },
      [&] { ExecutarPgRestore(tools_, "", "5432", "v", "u", "pw", cut_); },
  };
  for (const auto& run : early_exits) {
    platform::SetEnv("PGPASSWORD", "deixada por outro programa");
    EXPECT_THAT(MessageOf(run), StartsWith("Backup:\r\n"));
    EXPECT_EQ(platform::GetEnv("PGPASSWORD"), "deixada por outro programa");
  }
  platform::UnsetEnv("PGPASSWORD");
  EXPECT_TRUE(app_.Calls("PostgreSQL/pg_dump").empty());
  EXPECT_TRUE(app_.Calls("PostgreSQL/pg_restore").empty());
}

class FailedEmptyCopyTest : public PluginHost {
 protected:
  FailedEmptyCopyTest() {
    driver_->OnQuery(std::string(kCollationSql), Answer::Column("datcollate", {"C.UTF-8"}));
    driver_->SetServerVersion(150020000000);
    connection_.Open();
  }

  const std::string drop_ = DropStatement("novo", 150020000000);
};

TEST_F(FailedEmptyCopyTest, WhatTheRunCreatedIsDroppedWhereItWasCreated) {
  EXPECT_EQ(drop_, "DROP DATABASE \"novo\" WITH (FORCE)");
  EXPECT_EQ(DropStatement("a\"b", 120000000000), "DROP DATABASE \"a\"\"b\"");

  // A restore that fails: the copy is dropped on the template's server; the message is the
  // tool's.
  InstallTools("15.2", "", "out pg_restore: error: could not execute query\nexit 1\n");
  EXPECT_EQ(
      MessageOf([&] { CriarDataBaseVazia(&dm_, "novo"); }),
      "Backup:\r\npg_restore (PostgreSQL) 15.2\npg_restore: error: could not execute query\n");
  const auto statements = driver_->Statements();
  ASSERT_THAT(statements, Contains(drop_));
  EXPECT_EQ(statements.back(), drop_);
  EXPECT_TRUE(connection_.Connected());
  EXPECT_FALSE(connection_.Transaction()->Options.ReadOnly);

  // On the named server, through a connection of its own (not the host's, which is opened
  // again last), closed afterwards.
  driver_->ClearRecord();
  EXPECT_THAT(MessageOf([&] { CriarDataBaseVazia(&dm_, "srv/6000:novo"); }),
              StartsWith("Backup:\r\n"));
  EXPECT_EQ(driver_->Statements().back(), drop_);
  int drop_session = 0;
  int host_session = 0;
  for (const auto& event : driver_->Events()) {
    drop_session = event.text == drop_ ? event.session : drop_session;
    host_session = event.op == Operation::Connect ? event.session : host_session;
  }
  EXPECT_NE(drop_session, host_session);
  EXPECT_EQ(driver_->OpenSessions(), 1);

  // A database that opens for no one (the server lacks its locale) is dropped too.
  InstallTools("15.2");
  driver_->ClearRecord();
  // The host's connection comes back first; the second connection is the one that opens the
  // new database.
  driver_->FailAt(Operation::Connect, 2,
                  "FATAL:  database locale is incompatible with operating system");
  EXPECT_THAT(MessageOf([&] { CriarDataBaseVazia(&dm_, "novo"); }),
              StartsWith("O banco de dados \"novo\" foi criado com a collation"));
  EXPECT_EQ(driver_->Statements().back(), drop_);
}

TEST_F(FailedEmptyCopyTest, NothingIsDroppedThatTheRunDidNotCreate) {
  InstallTools("15.2");
  driver_->OnExecuteError(CreationStatement("novo"), "database \"novo\" already exists");
  EXPECT_EQ(MessageOf([&] { CriarDataBaseVazia(&dm_, "novo"); }),
            "database \"novo\" already exists");
  EXPECT_THAT(driver_->Statements(), Not(Contains(drop_)));

  // A schema dump cut short: no database is made at all.
  app_.Install("PostgreSQL/pg_dump",
               ToolScript("pg_dump", "15.2", "copy-to-option -f " + app_.Path() + "cortado.tar\n"));
  WriteText(app_.Path() + "cortado.tar", testing::SampleDump().substr(0, 3000));
  driver_->ClearRecord();
  EXPECT_THAT(MessageOf([&] { CriarDataBaseVazia(&dm_, "outro"); }),
              HasSubstr("não está completo"));
  EXPECT_THAT(driver_->Statements(), Not(Contains(CreationStatement("outro"))));
  EXPECT_EQ(app_.Calls("PostgreSQL/pg_restore").size(), 4u) << "version runs only";
}

TEST_F(FailedEmptyCopyTest, ADropThatFailsIsToldWithWhatStayedAndHowToRemoveIt) {
  InstallTools("15.2", "", "exit 1\n");
  driver_->OnExecuteError(drop_, "database \"novo\" is being accessed by other users");
  EXPECT_EQ(MessageOf([&] { CriarDataBaseVazia(&dm_, "novo"); }),
            "Backup:\r\npg_restore (PostgreSQL) 15.2\n\r\n\r\nO banco de dados \"novo\", que esta "
            "cópia criou, ficou incompleto no servidor db1, porta 5433, porque não foi possível "
            "excluí-lo: database \"novo\" is being accessed by other users\r\nExclua-o antes de "
            "tentar de novo, com o comando SQL: DROP DATABASE \"novo\";");
  EXPECT_TRUE(connection_.Connected());
}

}  // namespace
}  // namespace tolvan::postgresql::test
