// Roles with Portuguese names on the private test cluster: added with their comment, listed,
// and able to log in.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TolvanPostgreSQLUtil.h"
#include "ci/SkipOrFail.h"
#include "ci/TestNames.h"
#include "platform/Environment.h"
#include "vesk/VeskPack5.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::postgresql {
namespace {

class PostgresRoles : public ::testing::Test {
 protected:
  void SetUp() override {
    using platform::GetEnv;
    host_ = GetEnv("TOLVAN_PG_HOST").value_or("");
    port_ = GetEnv("TOLVAN_PG_PORT").value_or("");
    user_ = GetEnv("TOLVAN_PG_USER").value_or("");
    password_ = GetEnv("TOLVAN_PG_PASSWORD").value_or("");
    if (host_.empty() || port_.empty() || user_.empty() || password_.empty()) {
      TOLVAN_SKIP_OR_FAIL(
          "no PostgreSQL test cluster (TOLVAN_PG_*); scripts/postgres-server start");
    }
    admin_ = Connect(user_, password_);
    dm_.SQLConnection = admin_.get();
    DropRole();
  }

  void TearDown() override {
    if (admin_) {
      DropRole();
    }
  }

  std::unique_ptr<TVeskSQLConnection> Connect(const std::string& user,
                                              const std::string& password) {
    auto conn = std::make_unique<TVeskSQLConnection>();
    ConfigurarSQLConnection(conn.get(), 3);
    conn->Params = {"Database=" + host_ + "/" + port_ + ":postgres", "USER_NAME=" + user,
                    "PASSWORD=" + password};
    conn->Open();
    return conn;
  }

  void DropRole() { admin_->ExecuteDirect("DROP ROLE IF EXISTS \"" + kRole + "\""); }

  const std::string kRole = "joão";
  std::string host_, port_, user_, password_;
  std::unique_ptr<TVeskSQLConnection> admin_;
  TVeskDMConexao dm_;
};

TEST_F(PostgresRoles, AnAccentedRoleIsAddedListedWithItsCommentAndLogsIn) {
  const std::string password = "S3nh@ 'ção\"!";
  AddUser(&dm_, kRole, password, "João", "da Conceição", "D'Ávila");

  std::vector<std::string> roles;
  PegarUser(&dm_, &roles);
  EXPECT_THAT(roles, Contains("joão;João;da Conceição;D'Ávila"));

  auto joao = Connect(kRole, password);
  TVeskQuery query;
  query.SQLConnection = joao.get();
  query.SQL = "select current_user";
  query.Open();
  EXPECT_EQ(query.FieldAsString(0), kRole);
  query.Close();
  joao->Close();
}

}  // namespace
}  // namespace tolvan::postgresql
