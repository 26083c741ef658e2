// The Firebird plug-in and the tolvan host against the private test server and the embedded
// engine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "FirebirdTestServer.h"
#include "ci/TestNames.h"
#include "platform/DynamicLibrary.h"
#include "platform/Environment.h"
#include "platform/Paths.h"
#include "tolvan/Exports.h"
#include "vesk/VeskPack5.h"
#include "vesk/host/DefaultConnection.h"
#include "vesk/host/Firebird.h"

namespace {

constexpr const char* kVersionLine = "LI-V3\\.[0-9]+\\.[0-9]+\\.[0-9]+ Firebird 3\\.0 ODS 12\\.0";

using Server = tolvan::test::FirebirdServer;
using tolvan::test::FindFirebirdServer;

std::string UniqueName(const std::string& stem) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return stem + "_" + info->name() + "_" + std::to_string(getpid()) + ".fdb";
}

// A plain path opens in-process; the embedded engine needs a lock folder it may write.
void EnsureLockFolder() {
  if (!tolvan::platform::GetEnv("FIREBIRD_LOCK")) {
    const fs::path lock =
        fs::temp_directory_path() / ("tolvan-it-lock-" + std::to_string(getuid()));
    fs::create_directories(lock);
    tolvan::platform::SetEnv("FIREBIRD_LOCK", lock.string());
  }
}

class Plugin {
 public:
  Plugin()
      : library_(tolvan::platform::DynamicLibrary::Load(tolvan::platform::ExecutableDirectory() +
                                                        "TolvanFirebird" TOLVAN_PLUGIN_SUFFIX)) {}
  std::string Versao(TVeskDMConexao* dm) const {
    return library_->Function<tolvan::VersaoFn>("Versao")(dm);
  }
  void PegarUsuarios(TVeskDMConexao* dm, std::vector<std::string>* list) const {
    library_->Function<tolvan::PegarUsuariosFn>("PegarUsuarios")(dm, list);
  }

 private:
  std::unique_ptr<tolvan::platform::DynamicLibrary> library_;
};

struct Module {
  Module(const std::string& key, const std::string& user, const std::string& password) {
    connection.DriverName = vesk::firebird::kDriverName;
    connection.Params = {"Database=" + key, "USER_NAME=" + user, "PASSWORD=" + password};
    dm.SQLConnection = &connection;
    vesk::SetDefaultConnection(&connection);
  }
  ~Module() { vesk::SetDefaultConnection(nullptr); }
  TVeskSQLConnection connection;
  TVeskDMConexao dm;
};

class FirebirdPluginTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const fs::path& f : created_) {
      std::error_code ec;
      fs::remove(f, ec);
    }
  }

  // A new database on the server, removed after the test.
  std::string NewServerDatabase() {
    const std::string name = UniqueName("plugin");
    const std::string key = server_->DataKey(name);
    vesk::firebird::CreateDatabase(key, server_->user, server_->password);
    created_.push_back(fs::path(server_->data) / name);
    return key;
  }

  std::optional<Server> server_ = FindFirebirdServer();
  Plugin plugin_;
  std::vector<fs::path> created_;
};

TEST_F(FirebirdPluginTest, VersaoOverTcp) {
  REQUIRE_SERVER(server_);
  Module m(NewServerDatabase(), server_->user, server_->password);
  EXPECT_THAT(plugin_.Versao(&m.dm), MatchesRegex(kVersionLine));
}

TEST_F(FirebirdPluginTest, PegarUsuariosListsOwnAttachmentOverTcp) {
  REQUIRE_SERVER(server_);
  Module m(NewServerDatabase(), server_->user, server_->password);
  m.connection.Open();
  std::vector<std::string> users = {"kept"};

  plugin_.PegarUsuarios(&m.dm, &users);

  ASSERT_GE(users.size(), 2u);
  EXPECT_EQ(users[0], "kept");
  EXPECT_THAT(users, Contains(MatchesRegex("SYSDBA em 127\\.0\\.0\\.1/[0-9]+ no .*"
                                           "firebird_plugin_integration_test")));
}

TEST(FirebirdEmbeddedTest, VersaoOnTheEmbeddedEngine) {
  EnsureLockFolder();
  const fs::path db = fs::temp_directory_path() / UniqueName("embedded");
  vesk::firebird::CreateDatabase(db.string(), "SYSDBA", "");
  Plugin plugin;
  {
    Module m(db.string(), "SYSDBA", "");
    EXPECT_THAT(plugin.Versao(&m.dm), MatchesRegex(kVersionLine));
  }
  fs::remove(db);
}

// ---------------------------------------------------------------------------------------------
// The tolvan program.

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return q + "'";
}

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs tolvan with the arguments and the extra environment (NAME=VALUE, or -NAME to unset);
// stdin is the null device, so nothing waits on a terminal.
RunResult RunTolvan(const std::vector<std::string>& args,
                    const std::vector<std::string>& env = {}) {
  const fs::path dir = fs::temp_directory_path() / ("tolvan-it-" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::string cmd = "env";
  for (const std::string& e : env) {
    if (e[0] == '-') {
      cmd += " -u " + Quote(e.substr(1));
    }
  }
  for (const std::string& e : env) {
    if (e[0] != '-') {
      cmd += " " + Quote(e);
    }
  }
  cmd += " " + Quote(tolvan::platform::ExecutableDirectory() + "tolvan");
  for (const std::string& a : args) {
    cmd += " " + Quote(a);
  }
  cmd += " </dev/null >" + Quote((dir / "out").string()) + " 2>" + Quote((dir / "err").string());
  RunResult r;
  const int raw = std::system(cmd.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = Slurp(dir / "out");
  r.err = Slurp(dir / "err");
  fs::remove_all(dir);
  return r;
}

class TolvanProgramTest : public FirebirdPluginTest {};

TEST_F(TolvanProgramTest, PrintsTheVersionLineAndTheAttachments) {
  REQUIRE_SERVER(server_);
  const std::string key = NewServerDatabase();
  const std::string password = "TOLVAN_PASSWORD=" + server_->password;

  RunResult r = RunTolvan(
      {"firebird", "Versao", "--database", key, "--user", server_->user, "--quiet-result"},
      {password});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, MatchesRegex(std::string(kVersionLine) + "\n"));
  EXPECT_EQ(r.err, "");

  r = RunTolvan({"firebird", "PegarUsuarios", "--database", key, "--user", server_->user,
                 "--password", server_->password});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, ContainsRegex("SYSDBA em 127\\.0\\.0\\.1/[0-9]+ no [^\n]*tolvan\n"));

  r = RunTolvan({"firebird", "PegarPlan", "--database", key, "--user", server_->user, "--sql",
                 "select 1 from rdb$database"},
                {password});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "não suportado\n");
}

TEST_F(TolvanProgramTest, ServerFailuresAreAnErrorBlockAndStatusOne) {
  REQUIRE_SERVER(server_);
  const std::string key = NewServerDatabase();
  struct Case {
    const char* what;
    std::vector<std::string> args;
  } cases[] = {
      {"wrong password",
       {"firebird", "PegarUsuarios", "--database", key, "--user", server_->user, "--password",
        "wrong"}},
      {"missing database",
       {"firebird", "Versao", "--database", server_->DataKey("no_such_file.fdb"), "--user",
        server_->user, "--password", server_->password}},
      {"unreachable server",
       {"firebird", "Versao", "--database", "localhost/1:/nowhere.fdb", "--user", "SYSDBA",
        "--password", "x"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const RunResult r = RunTolvan(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("erro:\n  ", 0), 0u) << r.err;
    EXPECT_THAT(r.err, HasSubstr(" falhou em ")) << r.err;
  }
}

TEST(TolvanProgramUsageTest, BadInputIsAUsageErrorWithStatusTwo) {
  struct Case {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"nosuch", "Versao"}, "plug-in desconhecido \"nosuch\""},
      {{"firebird", "Versaoo"}, "exportação desconhecida \"Versaoo\""},
      {{"firebird", "CriarBackup"}, "não oferece CriarBackup"},
      {{"firebird", "Versao", "--bogus"}, "--bogus"},
      {{"firebird", "Versao", "--port", "many"}, "--port"},
      {{"firebird"}, "diga a exportação"},
      {{}, "diga o plug-in"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    const RunResult r = RunTolvan(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_THAT(r.err.substr(0, r.err.find('\n')), HasSubstr(c.says)) << r.err;
    EXPECT_THAT(r.err, HasSubstr("uso: tolvan"));
  }
}

TEST(TolvanProgramUsageTest, HelpListsWhatThePluginOffersAndTheDefaultDatabase) {
  const fs::path data = fs::temp_directory_path() / ("tolvan-it-help-" + std::to_string(getpid()));
  const RunResult r = RunTolvan({"firebird", "--help"}, {"XDG_DATA_HOME=" + data.string()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, ContainsRegex("\n  Versao +[^\n]+\n  PegarUsuarios "));
  EXPECT_THAT(r.out, Not(HasSubstr("  CriarBackup ")));
  EXPECT_THAT(r.out, HasSubstr((data / "tolvan" / "default.fdb").string()));
  EXPECT_FALSE(fs::exists(data)) << "help must not create the database";
}

TEST(TolvanProgramTourTest, RunsOnTheEmbeddedDefaultDatabaseCreatedOnFirstUse) {
  const fs::path data = fs::temp_directory_path() / ("tolvan-it-tour-" + std::to_string(getpid()));
  fs::remove_all(data);
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run == 0 ? "creating" : "reusing");
    const RunResult r = RunTolvan({"tour"}, {"XDG_DATA_HOME=" + data.string(), "-FIREBIRD_LOCK"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, MatchesRegex("== Versao ==\n" + std::string(kVersionLine) +
                                    "\n== PegarUsuarios ==\n(.*\n)*"));
  }
  EXPECT_TRUE(fs::exists(data / "tolvan" / "default.fdb"));
  EXPECT_TRUE(fs::is_directory(data / "tolvan" / "lock"));
  fs::remove_all(data);
}

}  // namespace
