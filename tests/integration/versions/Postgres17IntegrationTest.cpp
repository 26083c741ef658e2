// The PostgreSQL plug-in against a PostgreSQL 17 server (scripts/debian13-servers), with the
// PostgreSQL 15 tools of this machine in the tool folder and 17's real tools beside it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "../postgresql/PostgresCluster.h"
#include "ci/FailureOf.h"
#include "ci/SkipOrFail.h"
#include "ci/TestNames.h"
#include "platform/Environment.h"

namespace tolvan::postgresql {
namespace {

// The cluster fixture pointed at the PostgreSQL 17 server for the test's life.
class Postgres17 : public PostgresCluster {
 protected:
  void SetUp() override {
    const auto tools = platform::GetEnv("TOLVAN_DEBIAN13_TOOLS");
    for (const char* name : {"HOST", "PORT", "USER", "PASSWORD"}) {
      const auto value = platform::GetEnv(std::string("TOLVAN_PG17_") + name);
      if (!value || !tools) {
        const std::string why =
            "no PostgreSQL 17 server (TOLVAN_PG17_*, TOLVAN_DEBIAN13_TOOLS); "
            "source \"$(scripts/debian13-servers start)\"";
        TOLVAN_SKIP_OR_FAIL(why);
      }
      const std::string own = std::string("TOLVAN_PG_") + name;
      saved_.emplace_back(own, platform::GetEnv(own));
      platform::SetEnv(own, *value);
    }
    tools17_ = fs::path(*tools) / "pg17";
    PostgresCluster::SetUp();
  }
  void TearDown() override {
    PostgresCluster::TearDown();
    for (const auto& [name, value] : saved_) {
      platform::SetEnv(name, value.value_or(""));
    }
  }

  // 17's tools in PostgreSQL17/, where the guard takes them from.
  void KeepTools17() {
    fs::create_directories(app_ / "PostgreSQL17");
    for (const char* tool : {"pg_dump", "pg_restore"}) {
      fs::copy_file(tools17_ / tool, app_ / "PostgreSQL17" / tool);
    }
  }

  std::string ToolVersion(const char* tool) {
    std::string output;
    WinExec32AndRedirectOutput((app_ / "PostgreSQL" / tool).string() + " --version", output);
    return output;
  }

  fs::path tools17_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(Postgres17, VersaoAndTheServersVersionText) {
  EXPECT_THAT(Versao(&dm_), MatchesRegex("17\\.00[0-9][0-9]\\.00\\.0000"));
  EXPECT_THAT(PegarVersaoServidor(host_.get()), StartsWith("PostgreSQL 17."));
  std::vector<std::string> sessions;
  PegarUsuarios(&dm_, &sessions);
  EXPECT_FALSE(sessions.empty());
}

TEST_F(Postgres17, CreationsAndAnAccentedRole) {
  const std::string a = NewDatabaseName("Novo17_A");
  CriarDataBase(&dm_, a, "", "");
  const std::string c = NewDatabaseName("Novo17_FD");
  CriarDataBaseFD(cluster_->host, std::stoi(cluster_->port), c, cluster_->user, cluster_->password);
  for (const auto& name : {a, c}) {
    EXPECT_EQ(One(*host_, "select count(*) from pg_database where datname = '" + name + "'"), "1")
        << name;
  }

  const std::string role = "joão_17";
  host_->ExecuteDirect("DROP ROLE IF EXISTS \"" + role + "\"");
  const std::string password = "S3nh@ 'ção\"!";
  AddUser(&dm_, role, password, "João", "da Conceição", "D'Ávila");
  std::vector<std::string> roles;
  PegarUser(&dm_, &roles);
  EXPECT_THAT(roles, ::testing::Contains(role + ";João;da Conceição;D'Ávila"));
  {
    auto joao = std::make_unique<TVeskSQLConnection>();
    ConfigurarSQLConnection(joao.get(), 3);
    joao->Params = {"Database=" + Key("postgres"), "USER_NAME=" + role, "PASSWORD=" + password};
    EXPECT_NO_THROW(joao->Open());
  }
  host_->ExecuteDirect("DROP ROLE \"" + role + "\"");
}

TEST_F(Postgres17, CriarBackupTakes17sToolsFromTheirFolderAndDumps) {
  KeepTools17();
  host_->ExecuteDirect("create table t(i int); insert into t values (1), (2)");
  ASSERT_THAT(ToolVersion("pg_dump"), HasSubstr("(PostgreSQL) 15."));

  CriarBackup(host_.get());

  EXPECT_TRUE(host_->Connected());
  EXPECT_THAT(ToolVersion("pg_dump"), HasSubstr("(PostgreSQL) 17."));
  EXPECT_THAT(ToolVersion("pg_restore"), HasSubstr("(PostgreSQL) 17."));
  const fs::path dump = app_ / "temp" / (template_ + ".dump");
  ASSERT_TRUE(fs::exists(dump));
  std::string listing;
  ASSERT_EQ(
      WinExec32AndRedirectOutput(
          (app_ / "PostgreSQL" / "pg_restore").string() + " --list " + dump.string(), listing),
      0)
      << listing;
  EXPECT_THAT(listing, HasSubstr("TABLE DATA public t"));

  // The empty copy goes through the same guard, now with nothing to copy.
  const std::string copy = NewDatabaseName("vazia17");
  CriarDataBaseVazia(&dm_, copy);
  auto copied = Connect(copy);
  EXPECT_EQ(One(*copied, "select count(*) from t"), "0");
}

TEST_F(Postgres17, WithoutTheFolderOf17TheMessageSaysWhatToCopyWhere) {
  host_->ExecuteDirect("create table t(i int)");
  const std::string message = tolvan::test::FailureOf([&] { CriarBackup(host_.get()); });
  const std::string folder = (app_ / "PostgreSQL17").string() + "/";
  EXPECT_THAT(message, StartsWith("O aplicativo pg_dump da pasta \"" +
                                  (app_ / "PostgreSQL").string() + "/\" está na versão 15."));
  EXPECT_THAT(message, HasSubstr("não existe a pasta \"" + folder + "\""));
  EXPECT_THAT(message, HasSubstr("copie para a pasta \"" + folder +
                                 "\" o pg_dump e o pg_restore da versão 17 do PostgreSQL"));
  // Nothing was dumped and the operator's tools are as they were.
  EXPECT_FALSE(fs::exists(app_ / "temp" / (template_ + ".dump")));
  EXPECT_THAT(ToolVersion("pg_dump"), HasSubstr("(PostgreSQL) 15."));
  EXPECT_TRUE(host_->Connected());
}

}  // namespace
}  // namespace tolvan::postgresql
