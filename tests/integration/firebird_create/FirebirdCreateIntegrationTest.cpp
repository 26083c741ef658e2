// CriarDataBase, CriarDataBaseFD and CriarDataBaseVazia of the loaded plug-in against the private
// test server and the embedded engine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "DeclaredNames.h"
#include "FirebirdTestDatabase.h"
#include "FirebirdTestServer.h"
#include "LinkedPlugin.h"
#include "Recorders.h"
#include "TestFolders.h"
#include "ci/TestNames.h"
#include "firebird/IBComponents.h"
#include "platform/Environment.h"
#include "platform/Interrupt.h"
#include "platform/Paths.h"
#include "tolvan/Exports.h"
#include "vesk/VeskPack5.h"
#include "vesk/host/Firebird.h"

namespace {

using Server = tolvan::test::FirebirdServer;
using tolvan::test::FindFirebirdServer;
using Database = tolvan::test::FirebirdDatabase;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The names a script declares, upper case.
std::set<std::string> Declared(const std::string& script) {
  const std::vector<std::string> names = tolvan::test::DeclaredNames(script);
  return {names.begin(), names.end()};
}

const char* const kFunctionsSql =
    "select trim(rdb$function_name) from rdb$functions where coalesce(rdb$system_flag, 0) = 0 "
    "order by 1";

const char* const kMetadataSql =
    "select 'T ' || trim(rdb$relation_name) from rdb$relations where rdb$system_flag = 0 "
    "union all select 'G ' || trim(rdb$generator_name) from rdb$generators where "
    "rdb$system_flag = 0 "
    "union all select 'R ' || trim(rdb$trigger_name) from rdb$triggers where rdb$system_flag = 0 "
    "union all select 'P ' || trim(rdb$procedure_name) from rdb$procedures "
    "union all select 'F ' || trim(rdb$function_name) from rdb$functions "
    "where coalesce(rdb$system_flag, 0) = 0 "
    "union all select 'E ' || trim(rdb$exception_name) from rdb$exceptions "
    "order by 1";

class FirebirdCreate : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::cout << "declarations_all_dialect3: "
              << (TOLVAN_DECLARATIONS_PLACEHOLDER ? "the placeholder (no builder's file): "
                                                  : "the builder's file ")
              << TOLVAN_DECLARATIONS_SCRIPT << "\n";
  }
  void SetUp() override {
    plugin_ = tolvan::testing::LinkedPlugin::Load("TolvanFirebird");
    app_ = std::make_unique<tolvan::test::TestAppFolder>("tolvan-create-it");
    folder_ = app_->Root();
    if (fs::exists("/usr/bin/gbak")) {
      fs::create_symlink("/usr/bin/gbak", folder_ / "bin" / "gbak");
    }
    if (!tolvan::platform::GetEnv("FIREBIRD_LOCK")) {
      fs::create_directories(folder_ / "lock");
      tolvan::platform::SetEnv("FIREBIRD_LOCK", (folder_ / "lock").string());
    }
  }
  std::string ServerFile(const std::string& name) {
    return server_files_.Take(server_->data, name);
  }
  std::string Key(const std::string& path) const { return server_->Key(path); }

  // What the three scripts and the final one declare. Without the builder's file the third
  // script is the placeholder, which declares nothing: exactly the others' names, no F_ name.
  std::set<std::string> ExpectedFunctions() const {
    std::set<std::string> names = Declared(Slurp(TOLVAN_SCRIPTS_FOLDER "/fbudf.sql"));
    const auto ib = Declared(Slurp(TOLVAN_SCRIPTS_FOLDER "/ib_udf2.sql"));
    EXPECT_EQ(names.size(), 29u);
    EXPECT_EQ(ib.size(), 8u);
    names.insert(ib.begin(), ib.end());
    names.insert("ADD_MONTHS");
    if (!TOLVAN_DECLARATIONS_PLACEHOLDER) {
      const auto third = Declared(Slurp(TOLVAN_DECLARATIONS_SCRIPT));
      EXPECT_FALSE(third.empty());
      names.insert(third.begin(), third.end());
    }
    return names;
  }

  // Every log entry of a creation is a failure's.
  std::size_t FailuresLogged() const { return log_.Entries().size(); }

  void CheckEquipped(Database& db) {
    const Lines functions = db.Select(kFunctionsSql);
    EXPECT_EQ(std::set<std::string>(functions.begin(), functions.end()), ExpectedFunctions());
    EXPECT_THAT(db.Select("select trim(rdb$exception_name) || ' ' || rdb$message from "
                          "rdb$exceptions"),
                ElementsAre("ERROR not supported"));
    EXPECT_THAT(db.Select("select mon$sql_dialect from mon$database"), ElementsAre("3"));
  }

  std::optional<Server> server_ = FindFirebirdServer();
  std::unique_ptr<tolvan::testing::LinkedPlugin> plugin_;
  fs::path folder_;
  std::unique_ptr<tolvan::test::TestAppFolder> app_;
  tolvan::test::ServerFiles server_files_{"create"};
  tolvan::test::DialogRecorder dialogs_;
  tolvan::test::LogRecorder log_;
};

TEST_F(FirebirdCreate, OnTheServerDeclaresTheScriptsFunctionsAndRefusesAnExistingName) {
  REQUIRE_SERVER(server_);
  const std::string path = ServerFile("novo.fdb");
  auto criar_fd = plugin_->Function<tolvan::CriarDataBaseFDFn>("CriarDataBaseFD");
  criar_fd(server_->host, std::stoi(server_->port), path, server_->user, server_->password);
  ASSERT_THAT(dialogs_.Alerts(), IsEmpty());
  // A creation that succeeded writes nothing to the log (an entry of its origin is a failure).
  // Without the builder's file a note says, once, that the library's functions are missing.
  EXPECT_THAT(log_.Entries(), IsEmpty());
  if (TOLVAN_DECLARATIONS_PLACEHOLDER) {
    ASSERT_EQ(dialogs_.Notes().size(), 1u);
    EXPECT_THAT(dialogs_.Notes()[0], ::testing::HasSubstr(Key(path)));
  } else {
    EXPECT_THAT(dialogs_.Notes(), IsEmpty());
  }
  Database db(Key(path), server_->user, server_->password);
  CheckEquipped(db);
  db.connection.Close();

  // The same name again: the server's message, then the name; logged; no exception.
  EXPECT_NO_THROW(
      criar_fd(server_->host, std::stoi(server_->port), path, server_->user, server_->password));
  ASSERT_EQ(dialogs_.Alerts().size(), 1u);
  const std::string text = dialogs_.Alerts()[0];
  EXPECT_THAT(text, EndsWith("\r\n" + Key(path)));
  EXPECT_GT(text.size(), Key(path).size() + 2);
  ASSERT_EQ(FailuresLogged(), 1u);
  EXPECT_EQ(log_.Entries().back().Text, text);
  // Still the first database, untouched.
  Database again(Key(path), server_->user, server_->password);
  CheckEquipped(again);
}

TEST_F(FirebirdCreate, BadPlacesAndADownServerAreReportedWithTheName) {
  REQUIRE_SERVER(server_);
  auto criar_fd = plugin_->Function<tolvan::CriarDataBaseFDFn>("CriarDataBaseFD");
  criar_fd(server_->host, std::stoi(server_->port), "/proc/tolvan-no-such/x.fdb", server_->user,
           server_->password);
  criar_fd(server_->host, 1, "/tmp/x.fdb", server_->user, server_->password);
  ASSERT_EQ(dialogs_.Alerts().size(), 2u);
  EXPECT_THAT(dialogs_.Alerts()[0], EndsWith("\r\n" + Key("/proc/tolvan-no-such/x.fdb")));
  EXPECT_THAT(dialogs_.Alerts()[1], EndsWith("\r\n" + server_->host + "/1:/tmp/x.fdb"));
  EXPECT_EQ(FailuresLogged(), 2u);
}

TEST_F(FirebirdCreate, OnTheEmbeddedEngineWithTheConnectionsCredentials) {
  const std::string path = (folder_ / "embedded.fdb").string();
  Database host_db("/nowhere.fdb", "SYSDBA", "");
  auto criar = plugin_->Function<tolvan::CriarDataBaseFn>("CriarDataBase");
  criar(&host_db.dm, path, "", "");
  ASSERT_THAT(dialogs_.Alerts(), IsEmpty());
  Database db(path, "SYSDBA", "");
  CheckEquipped(db);
}

// Versao works on a clone of the host's connection; BackupConn closes the host's connection for
// gbak. On the embedded engine gbak cannot open the file while the clone still holds it.
TEST_F(FirebirdCreate, VersaoThenBackupConnOnTheEmbeddedEngineInOneProcess) {
  if (!fs::exists("/usr/bin/gbak")) {
    GTEST_SKIP() << "no /usr/bin/gbak (package firebird3.0-utils)";
  }
  fs::create_symlink("/usr/lib/x86_64-linux-gnu/libfbclient.so.2",
                     folder_ / "bin" / "libfbclient.so.2");
  const std::string path = (folder_ / "embedded.fdb").string();
  vesk::firebird::CreateDatabase(path, "SYSDBA", "");
  // gbak wants a password even where the embedded engine ignores it.
  Database db(path, "SYSDBA", "ignored");
  db.connection.Open();
  auto versao = plugin_->Function<tolvan::VersaoFn>("Versao");
  EXPECT_THAT(versao(&db.dm), ::testing::HasSubstr("3.0"));
  const std::string backup = (folder_ / "embedded.fbk").string();
  auto backup_conn = plugin_->Function<tolvan::BackupConnFn>("BackupConn");
  EXPECT_NO_THROW(backup_conn(&db.dm, backup, false, nullptr, false, false));
  EXPECT_TRUE(fs::is_regular_file(backup));
  EXPECT_GT(fs::file_size(backup), 0u);
  EXPECT_TRUE(db.connection.Connected());
  EXPECT_THAT(dialogs_.Alerts(), IsEmpty());
}

TEST_F(FirebirdCreate, EmptyCopyHasTheSameMetadataAndNoRows) {
  REQUIRE_SERVER(server_);
  if (!fs::exists("/usr/bin/gbak")) {
    GTEST_SKIP() << "no /usr/bin/gbak (package firebird3.0-utils)";
  }
  const std::string source = ServerFile("fonte.fdb");
  vesk::firebird::CreateDatabase(Key(source), server_->user, server_->password);
  Database db(Key(source), server_->user, server_->password);
  db.connection.Open();
  for (const char* sql :
       {"create table clientes (id integer not null primary key, nome varchar(40))",
        "create generator gen_clientes",
        "create trigger clientes_bi for clientes before insert as begin "
        "if (new.id is null) then new.id = gen_id(gen_clientes, 1); end",
        "create procedure contar returns (n integer) as begin "
        "select count(*) from clientes into :n; suspend; end",
        "create exception nao_pode 'nao pode'", "insert into clientes (nome) values ('ana')",
        "insert into clientes (nome) values ('rui')"}) {
    db.connection.ExecuteDirect(sql);
  }
  ASSERT_THAT(db.Select("select count(*) from clientes"), ElementsAre("2"));
  const Lines metadata = db.Select(kMetadataSql);

  const std::string target = ServerFile("vazio.fdb");
  server_files_.Add(server_->data + "/create_" + std::to_string(getpid()) + "_vazio.fbk");
  auto vazia = plugin_->Function<tolvan::CriarDataBaseVaziaFn>("CriarDataBaseVazia");
  vazia(&db.dm, target, "", "", false);
  EXPECT_TRUE(db.connection.Connected());

  Database copy(Key(target), server_->user, server_->password);
  EXPECT_EQ(copy.Select(kMetadataSql), metadata);
  EXPECT_THAT(copy.Select("select count(*) from clientes"), ElementsAre("0"));
}

// An empty copy whose restore does not end well leaves neither the new database nor the
// structure's backup of the run, so that a retry under the same name works: a gbak that made the
// whole database and then failed, and an interrupt while the restore runs.
TEST_F(FirebirdCreate, AnEmptyCopyThatFailsLeavesNeitherDatabaseNorBackupAndARetryWorks) {
  REQUIRE_SERVER(server_);
  if (!fs::exists("/usr/bin/gbak")) {
    GTEST_SKIP() << "no /usr/bin/gbak (package firebird3.0-utils)";
  }
  const std::string source = ServerFile("origem.fdb");
  vesk::firebird::CreateDatabase(Key(source), server_->user, server_->password);
  Database db(Key(source), server_->user, server_->password);
  db.connection.Open();
  db.connection.ExecuteDirect("create table clientes (id integer, nome varchar(40))");
  const std::string target = ServerFile("copia.fdb");
  const std::string fbk = server_->data + "/create_" + std::to_string(getpid()) + "_copia.fbk";
  server_files_.Add(fbk);

  // gbak behind a script: with "fail" there the restore runs whole and then fails; with "slow"
  // there the restore says so in "restoring" and waits before it starts.
  const fs::path bin = folder_ / "bin";
  fs::remove(bin / "gbak");
  std::ofstream(bin / "gbak")
      << "#!/bin/sh\n"
      << "D='" << folder_.string() << "'\n"
      << "case \" $* \" in *\" -c \"*)\n"
      << "  if [ -e \"$D/slow\" ]; then : > \"$D/restoring\"; sleep 5; fi\n"
      << "  if [ -e \"$D/fail\" ]; then /usr/bin/gbak \"$@\"; exit 1; fi;;\n"
      << "esac\n"
      << "exec /usr/bin/gbak \"$@\"\n";
  fs::permissions(bin / "gbak", fs::perms::owner_all);
  auto vazia = plugin_->Function<tolvan::CriarDataBaseVaziaFn>("CriarDataBaseVazia");
  const auto run = [&] {
    try {
      vazia(&db.dm, target, "", "", false);
    } catch (const std::exception& e) {
      return std::string(e.what());
    }
    return std::string("(no failure)");
  };
  const auto nothing_left = [&](const char* how) {
    EXPECT_FALSE(fs::exists(target)) << how;
    EXPECT_FALSE(fs::exists(fbk)) << how;
    EXPECT_TRUE(db.connection.Connected()) << how;
  };

  std::ofstream(folder_ / "fail");
  EXPECT_THAT(run(), ::testing::StartsWith("Restore:\r\n"));
  nothing_left("gbak failed");
  fs::remove(folder_ / "fail");

  std::ofstream(folder_ / "slow");
  std::thread interrupter([&] {
    for (int i = 0; i < 300 && !fs::exists(folder_ / "restoring"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    tolvan::platform::RequestInterrupt(SIGINT);
  });
  const std::string interrupted = run();
  interrupter.join();
  tolvan::platform::ClearInterrupt();
  EXPECT_TRUE(fs::exists(folder_ / "restoring")) << "interrupted before the restore";
  EXPECT_THAT(interrupted, ::testing::StartsWith("Restore:\r\n"));
  nothing_left("interrupted");
  fs::remove(folder_ / "slow");

  EXPECT_EQ(run(), "(no failure)");
  Database copy(Key(target), server_->user, server_->password);
  EXPECT_THAT(copy.Select("select count(*) from clientes"), ElementsAre("0"));
  EXPECT_TRUE(fs::exists(fbk)) << "a good run keeps the structure's backup";
}

}  // namespace

namespace {

// The default database holds the plug-in's declarations whichever command makes it.
TEST(TolvanTourCreation, CreatesTheDefaultDatabaseWithCriarDataBaseWhateverCommandRunsFirst) {
  const std::string real = tolvan::platform::RealExecutablePath();
  const std::string tolvan = real.substr(0, real.rfind('/') + 1) + "tolvan";
  if (!fs::exists(tolvan)) {
    GTEST_SKIP() << "no tolvan program beside the test";
  }
  for (const char* first : {"tour", "firebird Versao", "firebird PegarUser"}) {
    SCOPED_TRACE(first);
    const fs::path data =
        fs::temp_directory_path() / ("tolvan-create-tour-" + std::to_string(getpid()));
    fs::remove_all(data);
    const std::string command = "env -u FIREBIRD_LOCK XDG_DATA_HOME='" + data.string() + "' '" +
                                tolvan + "' " + first + " >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    {
      Database db((data / "tolvan" / "default.fdb").string(), "SYSDBA", "");
      tolvan::platform::SetEnv("FIREBIRD_LOCK", (data / "tolvan" / "lock").string());
      EXPECT_THAT(db.Select("select trim(rdb$exception_name) || ' ' || rdb$message from "
                            "rdb$exceptions"),
                  ElementsAre("ERROR not supported"));
      EXPECT_THAT(db.Select("select count(*) from rdb$functions where rdb$function_name = "
                            "'ADD_MONTHS'"),
                  ElementsAre("1"));
    }
    // Nothing but the database, its lock folder and the log.
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(data / "tolvan")) {
      left.push_back(entry.path().filename().string());
    }
    EXPECT_THAT(left, ::testing::UnorderedElementsAre("default.fdb", "lock", "tolvan.log"));
    fs::remove_all(data);
  }
}

}  // namespace
