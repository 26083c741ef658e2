// PegarDataBases and the security users of the Firebird plug-in against the private test server.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FirebirdTestServer.h"
#include "ci/FailureOf.h"
#include "ci/TestNames.h"
#include "platform/DynamicLibrary.h"
#include "platform/Environment.h"
#include "platform/Paths.h"
#include "tolvan/Exports.h"
#include "vesk/VeskPack5.h"
#include "vesk/host/Firebird.h"

namespace {

using Server = tolvan::test::FirebirdServer;
using tolvan::test::FindFirebirdServer;

struct Module {
  Module(const std::string& key, const std::string& user, const std::string& password) {
    connection.DriverName = vesk::firebird::kDriverName;
    connection.Params = {"Database=" + key, "USER_NAME=" + user, "PASSWORD=" + password};
    dm.SQLConnection = &connection;
  }
  TVeskSQLConnection connection;
  TVeskDMConexao dm;
};

// Runs its function on every way out of a test, whatever it throws.
struct Cleanup {
  std::function<void()> run;
  ~Cleanup() {
    try {
      run();
    } catch (...) {
    }
  }
};

class FirebirdServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plugin_ = tolvan::platform::DynamicLibrary::Load(tolvan::platform::ExecutableDirectory() +
                                                     "TolvanFirebird" TOLVAN_PLUGIN_SUFFIX);
  }
  void TearDown() override {
    for (const fs::path& f : created_) {
      std::error_code ec;
      fs::remove(f, ec);
    }
  }

  std::string NewDatabase(const std::string& stem) {
    const std::string name = stem + "_" + std::to_string(getpid()) + ".fdb";
    const std::string key = server_->DataKey(name);
    vesk::firebird::CreateDatabase(key, server_->user, server_->password);
    created_.push_back(fs::path(server_->data) / name);
    return key;
  }

  template <typename F>
  F Export(const char* name) {
    return plugin_->Function<F>(name);
  }

  std::vector<std::string> Users(TVeskDMConexao* dm) {
    std::vector<std::string> users;
    Export<tolvan::PegarUserFn>("PegarUser")(dm, &users);
    return users;
  }

  std::optional<Server> server_ = FindFirebirdServer();
  std::unique_ptr<tolvan::platform::DynamicLibrary> plugin_;
  std::vector<fs::path> created_;
};

TEST_F(FirebirdServicesTest, PegarDataBasesListsTheDatabasesHeldAttached) {
  REQUIRE_SERVER(server_);
  const std::string a = NewDatabase("services_a");
  const std::string b = NewDatabase("services_b");
  Module first(a, server_->user, server_->password);
  Module second(a, server_->user, server_->password);
  Module third(b, server_->user, server_->password);
  for (auto* m : {&first, &second, &third}) {
    m->connection.Open();
  }

  std::vector<std::string> names = {"kept"};
  int32_t attachments = -1;
  int32_t databases = -1;
  Export<tolvan::PegarDataBasesFn>("PegarDataBases")(&first.dm, &names, attachments, databases);

  EXPECT_EQ(names.front(), "kept");
  EXPECT_THAT(names, Contains(created_[0].string()));
  EXPECT_THAT(names, Contains(created_[1].string()));
  // Other tests may hold databases of the same server at the same time.
  EXPECT_GE(attachments, 3);
  EXPECT_GE(databases, 2);
  EXPECT_EQ(static_cast<std::size_t>(databases), names.size() - 1);
}

TEST_F(FirebirdServicesTest, PegarDataBasesRaisesTheServersMessage) {
  REQUIRE_SERVER(server_);
  Module wrong(server_->DataKey("none.fdb"), server_->user, server_->password + "x");
  std::vector<std::string> names;
  int32_t attachments = -1;
  int32_t databases = -1;
  auto call = [&](TVeskDMConexao* dm) {
    Export<tolvan::PegarDataBasesFn>("PegarDataBases")(dm, &names, attachments, databases);
  };
  EXPECT_THAT(tolvan::test::FailureOf([&] { call(&wrong.dm); }),
              AllOf(HasSubstr("Your user name and password are not defined"),
                    HasSubstr(" sqlcode:"), HasSubstr(" IBErrorCode:")));

  Module down("localhost/1:/none.fdb", server_->user, server_->password);
  EXPECT_THAT(tolvan::test::FailureOf([&] { call(&down.dm); }),
              HasSubstr("Unable to complete network request"));
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(databases, -1);
}

TEST_F(FirebirdServicesTest, UsersAreAddedListedModifiedAndDeleted) {
  REQUIRE_SERVER(server_);
  const std::string key = NewDatabase("services_users");
  Module sysdba(key, server_->user, server_->password);
  const std::string user = "TOLVAN_IT_" + std::to_string(getpid());
  auto can_log_in = [&](const std::string& password) {
    Module m(key, user, password);
    try {
      m.connection.Open();
      return true;
    } catch (const TVeskDriverError&) {
      return false;
    }
  };
  const Cleanup cleanup{[&] { Export<tolvan::DeleteUserFn>("DeleteUser")(&sysdba.dm, user); }};

  Export<tolvan::AddUserFn>("AddUser")(&sysdba.dm, user, "senha1", "ignored", "Ana", "Maria",
                                       "Costa");
  EXPECT_THAT(Users(&sysdba.dm), Contains(user + ";Ana;Maria;Costa"));
  EXPECT_TRUE(can_log_in("senha1"));
  EXPECT_THAT(tolvan::test::FailureOf([&] {
                Export<tolvan::AddUserFn>("AddUser")(&sysdba.dm, user, "senha1", "", "", "", "");
              }),
              HasSubstr(user));

  // After the failed action the next one works on a service of its own.
  Export<tolvan::ModifyUserFn>("ModifyUser")(&sysdba.dm, user, "senha2", "", "", "", "");
  EXPECT_FALSE(can_log_in("senha1"));
  EXPECT_TRUE(can_log_in("senha2"));
  EXPECT_THAT(Users(&sysdba.dm), Contains(user + ";Ana;Maria;Costa"));

  Export<tolvan::DeleteUserFn>("DeleteUser")(&sysdba.dm, user);
  EXPECT_THAT(Users(&sysdba.dm), Not(Contains(StartsWith(user + ";"))));
  EXPECT_THAT(tolvan::test::FailureOf(
                  [&] { Export<tolvan::DeleteUserFn>("DeleteUser")(&sysdba.dm, user); }),
              HasSubstr("not found"));
}

TEST_F(FirebirdServicesTest, PortugueseNamesReachTheServerAndComeBackByteForByte) {
  REQUIRE_SERVER(server_);
  const std::string key = NewDatabase("services_joao");
  Module sysdba(key, server_->user, server_->password);
  const std::string user = "joão";
  auto del = [&] { Export<tolvan::DeleteUserFn>("DeleteUser")(&sysdba.dm, user); };
  try {
    del();  // left over from an interrupted run
  } catch (const std::exception&) {
  }
  const Cleanup cleanup{del};

  Export<tolvan::AddUserFn>("AddUser")(&sysdba.dm, user, "S3nh@ção D'x;\"", "", "João",
                                       "da Conceição", "D'Ávila");
  // The server folds only the ASCII letters of a user name to upper case.
  EXPECT_THAT(Users(&sysdba.dm), Contains("JOãO;João;da Conceição;D'Ávila"));
  // The new user logs in through the host's connection with the name and password as typed.
  {
    Module login(key, user, "S3nh@ção D'x;\"");
    EXPECT_NO_THROW(login.connection.Open());
  }
  // The server's message names the user as it was sent.
  EXPECT_THAT(tolvan::test::FailureOf([&] {
                Export<tolvan::AddUserFn>("AddUser")(&sysdba.dm, user, "x", "", "", "", "");
              }),
              HasSubstr("'JOãO'"));

  Export<tolvan::ModifyUserFn>("ModifyUser")(&sysdba.dm, user, "", "", "Conceição", "Ñandú",
                                             "Güell");
  EXPECT_THAT(Users(&sysdba.dm), Contains("JOãO;Conceição;Ñandú;Güell"));

  del();
  EXPECT_THAT(Users(&sysdba.dm), Not(Contains(StartsWith("JOãO;"))));
}

TEST_F(FirebirdServicesTest, EmptyOrUnsafeNamesAreRefusedBeforeTheServerIsReached) {
  // A server that is not there: any attempt to reach it would fail with a network error.
  Module nowhere("localhost/1:/none.fdb", "SYSDBA", "x");
  auto add = [&](const std::string& name, const std::string& pass, const std::string& last) {
    return tolvan::test::FailureOf(
        [&] { Export<tolvan::AddUserFn>("AddUser")(&nowhere.dm, name, pass, "", "", "", last); });
  };
  EXPECT_EQ(add("", "x", ""), "AddUser: AUserName não poder ser nil");
  EXPECT_EQ(add("ana", "", ""), "AddUser: AUserPass não poder ser nil");
  for (const char* blank : {" ", "   "}) {
    EXPECT_THAT(add(blank, "x", ""), AllOf(StartsWith("AddUser: AUserName"), HasSubstr("branco"),
                                           Not(HasSubstr("network"))));
  }
  // A user of blanks that stands already may still be removed.
  EXPECT_THAT(tolvan::test::FailureOf(
                  [&] { Export<tolvan::DeleteUserFn>("DeleteUser")(&nowhere.dm, "   "); }),
              HasSubstr("network"));
  EXPECT_EQ(tolvan::test::FailureOf([&] {
              Export<tolvan::ModifyUserFn>("ModifyUser")(&nowhere.dm, "", "x", "", "", "", "");
            }),
            "AddUser: AUserName não poder ser nil");
  EXPECT_EQ(
      tolvan::test::FailureOf([&] { Export<tolvan::DeleteUserFn>("DeleteUser")(&nowhere.dm, ""); }),
      "DeleteUser: AUserName não poder ser nil");
  EXPECT_EQ(add("ana", "x", "Silva;Souza"),
            "AddUser: ALastName não pode conter \";\" (separa os campos da lista de usuários)");
  EXPECT_EQ(add("a;b", "x", ""),
            "AddUser: AUserName não pode conter \";\" (separa os campos da lista de usuários)");
  EXPECT_EQ(add("ana\tb", "x", ""), "AddUser: AUserName não pode conter caracteres de controle");
  EXPECT_EQ(add("an\xE3", "x", ""), "AddUser: AUserName não é um texto UTF-8 válido");
  // 31 bytes fit; 16 accented letters take 32.
  EXPECT_EQ(add(std::string(16 * 2, 'a').substr(0, 32), "x", ""),
            "AddUser: AUserName passa de 31 bytes (uma letra acentuada ocupa dois)");
  std::string accented;
  for (int i = 0; i < 16; ++i) {
    accented += "ã";
  }
  EXPECT_EQ(add(accented, "x", ""),
            "AddUser: AUserName passa de 31 bytes (uma letra acentuada ocupa dois)");
  EXPECT_THAT(add(std::string(31, 'a'), "x", ""), HasSubstr("network"));
  EXPECT_EQ(add("ana", "x", accented + "a"),
            "AddUser: ALastName passa de 32 bytes (uma letra acentuada ocupa dois)");
  EXPECT_THAT(add("ana", "x", accented), HasSubstr("network"));
  // The password may hold any character; a blank, ";" or a control character included.
  EXPECT_THAT(add("ana", " ;\t", ""), HasSubstr("network"));
  EXPECT_EQ(tolvan::test::FailureOf([&] {
              Export<tolvan::DeleteUserFn>("DeleteUser")(&nowhere.dm, std::string("a\x7F"));
            }),
            "DeleteUser: AUserName não pode conter caracteres de controle");
}

TEST_F(FirebirdServicesTest, UserActionsWithAWrongPasswordRaiseTheServersMessage) {
  REQUIRE_SERVER(server_);
  Module wrong(server_->DataKey("none.fdb"), server_->user, server_->password + "x");
  const std::string refused = "Your user name and password are not defined";
  EXPECT_THAT(tolvan::test::FailureOf([&] { Users(&wrong.dm); }), HasSubstr(refused));
  EXPECT_THAT(tolvan::test::FailureOf([&] {
                Export<tolvan::AddUserFn>("AddUser")(&wrong.dm, "TOLVAN_NEVER", "x", "", "", "",
                                                     "");
              }),
              HasSubstr(refused));
  std::vector<std::string>* none = nullptr;
  EXPECT_EQ(
      tolvan::test::FailureOf([&] { Export<tolvan::PegarUserFn>("PegarUser")(&wrong.dm, none); }),
      "PegarUser: _AUsr não poder ser nil");
}

}  // namespace
