// Input that would change what a statement or a tool does: backslashes in literals where the
// server reads them as escapes, database names the tools would read as connection strings or
// options, and a new database that cannot be opened for a reason other than its collation.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Fixture.h"
#include "TolvanPostgreSQLUtil.h"
#include "ci/TestNames.h"
#include "platform/Process.h"
#include "recorders/Recorders.h"
#include "scripted_driver/MessageOf.h"
#include "tolvan/support/Quoting.h"

namespace tolvan::postgresql::test {
namespace {

using testing::Answer;
using testing::MessageOf;

// The injection of the review: with the setting off, a backslash before the closing quote kept
// the literal open and the rest ran as a statement of its own.
const std::string kInjection = "x\\'; ALTER ROLE ana SUPERUSER; --";

TEST(PostgresLiterals, BackslashesAreDoubledUnlessTheServerReadsThemAsThemselves) {
  EXPECT_EQ(Literal(kInjection, true), "'x\\''; ALTER ROLE ana SUPERUSER; --'");
  EXPECT_EQ(Literal(kInjection, false), "E'x\\\\''; ALTER ROLE ana SUPERUSER; --'");
  EXPECT_EQ(Literal("C:\\dados\\", false), "E'C:\\\\dados\\\\'");
  // Without a backslash the literal is the same on every server.
  EXPECT_EQ(Literal("D'Ávila", false), "'D''Ávila'");
  EXPECT_EQ(Literal("", false), "''");

  EXPECT_EQ(RoleStatement("ana", "a\\b", false),
            "CREATE ROLE ana WITH LOGIN NOSUPERUSER NOCREATEDB NOCREATEROLE INHERIT NOREPLICATION "
            "CONNECTION LIMIT -1 PASSWORD E'a\\\\b' ");
  EXPECT_EQ(RoleCommentStatement("ana", "a\\;;", false), "COMMENT ON ROLE ana IS E'a\\\\;;' ");
  EXPECT_EQ(CollationStatement("n\\", "C.UTF-8", false),
            "update pg_database set   datcollate='C.UTF-8', datctype='C.UTF-8'  where "
            "datname=E'n\\\\'");
}

class LiteralsOnTheConnection : public PluginHost {
 protected:
  void Setting(const std::string& value) {
    driver_->SetInfoReport(
        value.empty() ? std::vector<std::string>{"Database = loja"}
                      : std::vector<std::string>{"Database = loja", "Server version = x",
                                                 "standard_conforming_strings = " + value});
  }
};

TEST_F(LiteralsOnTheConnection, AddUserAndCriarDataBaseReadTheSettingOfTheirConnection) {
  driver_->OnQuery(std::string(kCollationSql), Answer::Column("datcollate", {"C.UTF-8"}));
  const std::string name = "n\\'; DROP DATABASE loja; --";
  struct Case {
    std::string setting;
    bool standard;
  } cases[] = {{"on", true}, {"off", false}, {"", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE("standard_conforming_strings = " + c.setting);
    Setting(c.setting);
    driver_->ClearRecord();
    AddUser(&dm_, "ana", kInjection, "Ana", "", kInjection);
    CriarDataBase(&dm_, name, "", "");
    EXPECT_THAT(
        driver_->Statements(),
        ::testing::IsSupersetOf({RoleStatement("ana", kInjection, c.standard),
                                 RoleCommentStatement("ana", "Ana;;" + kInjection, c.standard),
                                 CollationStatement(name, "C.UTF-8", c.standard)}));
  }
  // With the setting on, the statements are the plain texts, backslashes as they are.
  Setting("on");
  driver_->ClearRecord();
  AddUser(&dm_, "ana", "a\\b", "", "", "");
  EXPECT_EQ(driver_->Statements().front(),
            "CREATE ROLE ana WITH LOGIN NOSUPERUSER NOCREATEDB NOCREATEROLE INHERIT "
            "NOREPLICATION CONNECTION LIMIT -1 PASSWORD 'a\\b' ");
}

TEST(PostgresDatabaseNames, NamesTheToolsWouldReadAsAConnectionGoInAsDbname) {
  for (const std::string& name :
       {std::string("host=10.0.0.9 dbname=outro"), std::string("a=b"),
        std::string("postgresql://10.0.0.9/outro"), std::string("POSTGRES://x"),
        std::string("--clean"), std::string("-novo")}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(ReadsAsConnectionString(name));
    const auto dump = platform::SplitCommandLine(
        PgDumpCommandLine("/p/", "srv", "5432", name, "u", "/t/f.tar", true));
    const auto restore = platform::SplitCommandLine(
        PgRestoreCommandLine("/p/", "srv", "5432", name, "u", "/t/f.tar"));
    // The connection string is read back by the tools as this one name.
    const std::string expected = "--dbname=" + ConnectionStringOfName(name);
    EXPECT_EQ(dump.back(), expected);
    EXPECT_THAT(restore, ElementsAre("/p/pg_restore" + std::string(platform::kExecutableSuffix),
                                     "-h", "srv", "-p", "5432", "-U", "u", expected, "/t/f.tar"));
    EXPECT_THAT(restore, Not(::testing::Contains("-d")));
  }
  EXPECT_EQ(ConnectionStringOfName("D'Ávila \\ x=1"), "dbname='D\\'Ávila \\\\ x=1'");

  // Other names keep the plain command lines.
  for (const std::string& name : {std::string("vendas"), std::string("Loja 2024"),
                                  std::string("a-b"), std::string("postgresql:/x")}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(ReadsAsConnectionString(name));
    EXPECT_THAT(PgRestoreCommandLine("/p/", "srv", "1", name, "u", "/f"),
                HasSubstr(" -d " + tolvan::support::QuoteArgument(name) + " \"/f\""));
    EXPECT_THAT(PgDumpCommandLine("/p/", "srv", "1", name, "u", "/f", false),
                ::testing::EndsWith("\"/f\" " + tolvan::support::QuoteArgument(name)));
  }
}

class OpeningCheckTest : public PluginHost {
 protected:
  OpeningCheckTest() {
    driver_->OnQuery(std::string(kCollationSql), Answer::Column("datcollate", {"C.UTF-8"}));
    connection_.Open();
    driver_->ClearRecord();
  }
};

TEST_F(OpeningCheckTest, OnlyTheLocaleRefusalIsBlamedOnTheCollation) {
  EXPECT_TRUE(IsCollationRefusal("FATAL:  database locale is incompatible with operating system",
                                 "C.UTF-8"));
  // The detail names the locale in any language the server speaks.
  EXPECT_TRUE(IsCollationRefusal(
      "FATAL:  a configuração regional ...\nDETAIL:  ... LC_CTYPE \"C.UTF-8\", que ...",
      "C.UTF-8"));

  const std::string refusals[] = {
      "FATAL:  permission denied for database \"Novo\"\nDETAIL:  User does not have CONNECT "
      "privilege.",
      "FATAL:  pg_hba.conf rejects connection for host \"127.0.0.1\", user \"postgres\", "
      "database \"Novo\", no encryption",
      "FATAL:  sorry, too many clients already", "timeout expired"};
  // Any other refusal of the check's connection leaves a database that was made: the export
  // returns, the operator is warned with the server's answer, and nothing is dropped.
  for (const std::string& refusal : refusals) {
    SCOPED_TRACE(refusal);
    EXPECT_FALSE(IsCollationRefusal(refusal, "C.UTF-8"));
    tolvan::test::DialogRecorder dialogs;
    driver_->FailAt(testing::Operation::Connect, driver_->Count(testing::Operation::Connect) + 1,
                    refusal);
    EXPECT_NO_THROW(CriarDataBase(&dm_, "Novo", "", ""));
    ASSERT_EQ(dialogs.Alerts().size(), 1u);
    EXPECT_THAT(dialogs.Alerts()[0], AllOf(HasSubstr("\"Novo\""), HasSubstr(refusal)));
    EXPECT_THAT(driver_->Statements(), Not(Contains(HasSubstr("DROP DATABASE"))));
  }
}

TEST_F(OpeningCheckTest, TheCheckGoesToTheServerAndPortTheCreationUsed) {
  // A key without a port: the client library's default, as for the creating connection.
  driver_->SetDatabaseKey("db1:vendas");
  CriarDataBase(&dm_, "Novo", "", "");
  EXPECT_EQ(driver_->LastSettings().params,
            (std::vector<std::string>{"Database=Novo", "USER_NAME=postgres", "PASSWORD=s3cr'et",
                                      "Server=db1"}));
  // The creator's own Server and Port are kept as they are.
  connection_.Close();
  connection_.Params = {"Server=db2", "Port=6543", "Database=loja", "USER_NAME=postgres"};
  CriarDataBase(&dm_, "Novo", "", "");
  EXPECT_EQ(
      driver_->LastSettings().params,
      (std::vector<std::string>{"Server=db2", "Port=6543", "Database=Novo", "USER_NAME=postgres"}));
}

}  // namespace
}  // namespace tolvan::postgresql::test
