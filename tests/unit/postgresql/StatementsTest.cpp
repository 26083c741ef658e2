// Database creation, roles and sessions on the scripted driver: the exact statements, the
// collation rule, the read-only option put back, and unsafe names.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "Fixture.h"
#include "TolvanPostgreSQLUtil.h"
#include "ci/TestNames.h"
#include "scripted_driver/MessageOf.h"

namespace tolvan::postgresql::test {
namespace {

using testing::Answer;
using testing::Operation;

const std::string kCreateNovo =
    "CREATE DATABASE \"Novo\" with  owner      = postgres    encoding   = 'UTF8' tablespace = "
    "pg_default  connection limit = -1    template = template0     is_template = False     ";

TEST(PostgresStatements, CreationCollationAndRoleTexts) {
  EXPECT_EQ(CreationStatement("Novo"), kCreateNovo);
  EXPECT_EQ(CollationStatement("Novo", "en_US.UTF-8"),
            "update pg_database set   datcollate='en_US.UTF-8', datctype='en_US.UTF-8'  where "
            "datname='Novo'");
  EXPECT_EQ(RoleStatement("ana", "pw"),
            "CREATE ROLE ana WITH LOGIN NOSUPERUSER NOCREATEDB NOCREATEROLE INHERIT NOREPLICATION "
            "CONNECTION LIMIT -1 PASSWORD 'pw' ");
  EXPECT_EQ(RoleCommentStatement("ana", "Ana;;Silva"), "COMMENT ON ROLE ana IS 'Ana;;Silva' ");
  // Quotes that would end the literal or the identifier are doubled.
  EXPECT_THAT(CreationStatement("a\"b"), ::testing::StartsWith("CREATE DATABASE \"a\"\"b\" with "));
  EXPECT_THAT(CollationStatement("o'x", "c"), ::testing::EndsWith("datname='o''x'"));
  EXPECT_THAT(RoleStatement("ana", "it's"), ::testing::EndsWith("PASSWORD 'it''s' "));
  EXPECT_EQ(RoleCommentStatement("ana", "D'Arc;;"), "COMMENT ON ROLE ana IS 'D''Arc;;' ");
}

TEST(PostgresStatements, PlainIdentifiers) {
  for (const char* good : {"ana", "_x", "Ana_2$", "a$"}) {
    EXPECT_TRUE(IsPlainIdentifier(good)) << good;
  }
  for (const char* bad : {"", "2a", "$a", "a b", "a;drop", "a'b", "a\"b"}) {
    EXPECT_FALSE(IsPlainIdentifier(bad)) << bad;
  }
}

class CreationTest : public PluginHost {
 protected:
  void Collation(const std::string& version, const std::optional<std::string>& value) {
    driver_->OnQuery("select version()", Answer::Column("version", {version}));
    driver_->OnQuery(std::string(kCollationSql), Answer::Column("datcollate", {value}));
  }
};

TEST_F(CreationTest, CollationFollowsTheServersPlatform) {
  struct Case {
    std::string version;
    std::optional<std::string> value;
    std::string collation;
    bool asks;
  } cases[] = {
      {"PostgreSQL 15 on x86_64-pc-LINUX-gnu", "en_US.UTF-8", "en_US.UTF-8", true},
      {kLinuxVersion, "  ", "pt_BR.ISO-8859-1", true},
      {kLinuxVersion, std::nullopt, "pt_BR.ISO-8859-1", true},
      {"PostgreSQL 15.2, compiled by Visual C++ build 1914, 64-bit", "x", "Portuguese_Brazil.1252",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    Collation(c.version, c.value);
    driver_->ClearRecord();
    CriarDataBase(&dm_, "Novo", "ignored", "ignored");
    std::vector<std::string> expected = {"select version()"};
    if (c.asks) {
      expected.push_back(std::string(kCollationSql));
    }
    expected.push_back(kCreateNovo);
    expected.push_back(CollationStatement("Novo", c.collation));
    EXPECT_EQ(driver_->Statements(), expected);
  }
}

TEST_F(CreationTest, ReadOnlyOptionIsClearedForTheWorkAndPutBackFromTheConnection) {
  Collation(kLinuxVersion, "C.UTF-8");
  connection_.ReadOnlyTransaction = true;
  connection_.Transaction()->Options.ReadOnly = false;
  driver_->OnExecuteError(kCreateNovo, "database \"Novo\" already exists");
  EXPECT_THROW(CriarDataBase(&dm_, "Novo", "", ""), TVeskDriverError);
  EXPECT_TRUE(connection_.Transaction()->Options.ReadOnly);
  // The collation statement is not run after a failed creation.
  EXPECT_EQ(driver_->Count(Operation::Execute), 1);

  connection_.SetHasTransaction(false);
  EXPECT_THROW(CriarDataBase(&dm_, "Novo", "", ""), TVeskDriverError);
}

TEST_F(CreationTest, AServerInTheDatabaseSpecGetsAConnectionOfItsOwn) {
  Collation(kLinuxVersion, "C.UTF-8");
  struct Case {
    std::string database_spec;
    std::vector<std::string> params;
  } cases[] = {
      {"srv/5433:novo",
       {"Database=postgres", "Server=srv", "Port=5433", "User_name=ana", "Password=pw"}},
      {"srv/x:novo", {"Database=postgres", "Server=srv", "Port=0", "User_name=ana", "Password=pw"}},
      {"srv:novo", {"Database=postgres", "Server=srv", "Port=0", "User_name=ana", "Password=pw"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.database_spec);
    driver_->ClearRecord();
    CriarDataBase(&dm_, c.database_spec, "ana", "pw");
    EXPECT_EQ(driver_->Events().front().op, Operation::Connect);
    // The last connection is the one that opens the new database, made like the first.
    std::vector<std::string> check = c.params;
    check[0] = "Database=novo";
    EXPECT_EQ(driver_->LastSettings().params, check);
    EXPECT_THAT(driver_->Statements(), ::testing::Contains(CreationStatement("novo")));
    // The connection is the export's: closed again; the host's was never opened.
    EXPECT_EQ(driver_->OpenSessions(), 0);
  }
}

TEST_F(CreationTest, CriarDataBaseFDUsesTheDataAccessDriverAndClosesItsConnection) {
  testing::ScopedScriptedDriver pg("PG");
  pg->OnQuery("select version()", Answer::Column("version", {kLinuxVersion}));
  pg->OnQuery(std::string(kCollationSql), Answer::Column("datcollate", {"C.UTF-8"}));
  CriarDataBaseFD("srv", 5433, "Novo", "ana", "pw");
  EXPECT_EQ(pg->LastSettings().params,
            (std::vector<std::string>{"Database=Novo", "Server=srv", "User_Name=ana", "Port=5433",
                                      "Password=pw"}));
  EXPECT_EQ(pg->Statements().back(), CollationStatement("Novo", "C.UTF-8"));
  EXPECT_EQ(pg->OpenSessions(), 0);

  pg->OnExecuteError(kCreateNovo, "database \"Novo\" already exists");
  EXPECT_THROW(CriarDataBaseFD("srv", 5433, "Novo", "ana", "pw"), TVeskDriverError);
  EXPECT_EQ(pg->OpenSessions(), 0);
}

TEST_F(CreationTest, ADatabaseThatCannotBeOpenedAfterItsCollationIsReported) {
  Collation(kLinuxVersion, std::nullopt);
  connection_.Open();
  driver_->ClearRecord();
  CriarDataBase(&dm_, "Novo", "", "");
  // Opened once on the host connection's server, with its credentials, and closed again.
  EXPECT_EQ(driver_->LastSettings().params,
            (std::vector<std::string>{"Database=Novo", "USER_NAME=postgres", "PASSWORD=s3cr'et",
                                      "Server=db1", "Port=5433"}));
  EXPECT_EQ(driver_->OpenSessions(), 1);
  const std::vector<std::string> statements = {"select version()", std::string(kCollationSql),
                                               kCreateNovo,
                                               CollationStatement("Novo", "pt_BR.ISO-8859-1")};
  EXPECT_EQ(driver_->Statements(), statements);

  driver_->ClearRecord();
  driver_->FailAt(Operation::Connect, 1, "database locale is incompatible with operating system");
  EXPECT_EQ(
      testing::MessageOf([&] { CriarDataBase(&dm_, "Novo", "", ""); }),
      "O banco de dados \"Novo\" foi criado com a collation \"pt_BR.ISO-8859-1\", mas não "
      "pode ser aberto: o servidor não aceita essa collation. Exclua o banco e crie-o de novo "
      "num servidor que tenha essa collation.\r\ndatabase locale is incompatible with "
      "operating system");
  EXPECT_EQ(driver_->Statements(), statements);

  testing::ScopedScriptedDriver pg("PG");
  pg->OnQuery("select version()", Answer::Column("version", {"PostgreSQL 15.2, Visual C++"}));
  pg->FailAt(Operation::Connect, 2, "database locale is incompatible with operating system");
  EXPECT_THAT(testing::MessageOf([&] { CriarDataBaseFD("srv", 5433, "Novo", "ana", "pw"); }),
              ::testing::StartsWith("O banco de dados \"Novo\" foi criado com a collation "
                                    "\"Portuguese_Brazil.1252\""));
  EXPECT_EQ(pg->OpenSessions(), 0);
}

class RolesTest : public PluginHost {};

TEST_F(RolesTest, AddUserSendsTheTwoStatementsAndPutsTheOptionBack) {
  connection_.ReadOnlyTransaction = true;
  AddUser(&dm_, "ana", "pw", "Ana", "", "Silva");
  EXPECT_THAT(driver_->Statements(),
              ElementsAre(RoleStatement("ana", "pw"), "COMMENT ON ROLE ana IS 'Ana;;Silva' "));
  EXPECT_TRUE(connection_.Transaction()->Options.ReadOnly);

  driver_->OnExecuteError(RoleStatement("ana", "pw"), "role \"ana\" already exists");
  connection_.Transaction()->Options.ReadOnly = false;
  EXPECT_THROW(AddUser(&dm_, "ana", "pw", "", "", ""), TVeskDriverError);
  EXPECT_TRUE(connection_.Transaction()->Options.ReadOnly);
}

TEST_F(RolesTest, AnUnsafeRoleNameIsRefusedBeforeAnythingIsSent) {
  try {
    AddUser(&dm_, "x; DROP TABLE t", "pw", "", "", "");
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_THAT(e.what(), ::testing::StartsWith("AddUser: AUserName "));
  }
  EXPECT_THAT(driver_->Events(), IsEmpty());
}

TEST_F(RolesTest, PegarUserJoinsNameAndComment) {
  driver_->OnQuery(std::string(kRolesSql),
                   Answer::Rows({"rolname", "description"},
                                {{"postgres", std::nullopt}, {"ana", "Ana;;Silva"}}));
  std::vector<std::string> roles = {"kept"};
  PegarUser(&dm_, &roles);
  EXPECT_THAT(roles, ElementsAre("kept", "postgres;", "ana;Ana;;Silva"));

  EXPECT_THROW(PegarUser(&dm_, nullptr), std::runtime_error);
  driver_->OnQuery(std::string(kRolesSql), Answer::Error("permission denied"));
  connection_.ReadOnlyTransaction = true;
  EXPECT_THROW(PegarUser(&dm_, &roles), TVeskDriverError);
  EXPECT_TRUE(connection_.Transaction()->Options.ReadOnly);
}

TEST_F(RolesTest, PegarUsuariosAppendsInATransactionAndSwallowsFailures) {
  driver_->OnQuery(
      std::string(kSessionsSql),
      Answer::Column("USERNAME", {"loja em 127.0.0.1/32 no psql usuário ana", std::nullopt}));
  std::vector<std::string> sessions;
  PegarUsuarios(&dm_, &sessions);
  PegarUsuarios(&dm_, &sessions);
  EXPECT_THAT(sessions, ElementsAre("loja em 127.0.0.1/32 no psql usuário ana", "",
                                    "loja em 127.0.0.1/32 no psql usuário ana", ""));
  EXPECT_EQ(driver_->Count(Operation::Commit), 2);

  driver_->OnQuery(std::string(kSessionsSql), Answer::Error("gone"));
  EXPECT_NO_THROW(PegarUsuarios(&dm_, &sessions));
  EXPECT_EQ(driver_->Count(Operation::Rollback), 1);
  try {
    PegarUsuarios(&dm_, nullptr);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "PegarUsuarios: _AUser não poder ser nil");
  }
}

}  // namespace
}  // namespace tolvan::postgresql::test
