// Backup and restore of the Firebird plug-in with the real gbak: embedded, through the private
// server over TCP and through its service manager.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FirebirdTestDatabase.h"
#include "FirebirdTestServer.h"
#include "Recorders.h"
#include "platform/DynamicLibrary.h"
#include "platform/Environment.h"
#include "platform/Paths.h"
#include "tolvan/Exports.h"
#include "vesk/VeskPack5.h"
#include "vesk/host/Firebird.h"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;
using Lines = std::vector<std::string>;

using Server = tolvan::test::FirebirdServer;
using tolvan::test::FindFirebirdServer;
using Database = tolvan::test::FirebirdDatabase;

const char* const kSchema[] = {
    "create table clientes (id integer not null primary key, nome varchar(40), saldo "
    "numeric(12,2))",
    "create index ix_clientes_nome on clientes (nome)",
    "create generator g_clientes",
    "create trigger t_clientes for clientes before insert as begin "
    "if (new.id is null) then new.id = gen_id(g_clientes, 1); end",
    "insert into clientes (nome, saldo) values ('Ana', 10.50)",
    "insert into clientes (nome, saldo) values ('Bruno', -3.25)",
    "insert into clientes (nome, saldo) values ('Célia', 0)",
};

// What a restore must bring back: the user objects and, separately, the rows.
const char* const kMetadataSql =
    "select 'T ' || trim(rdb$relation_name) from rdb$relations where rdb$system_flag = 0 "
    "union all select 'G ' || trim(rdb$generator_name) from rdb$generators where "
    "rdb$system_flag = 0 "
    "union all select 'R ' || trim(rdb$trigger_name) from rdb$triggers where rdb$system_flag = 0 "
    "union all select 'I ' || trim(rdb$index_name) || ' ' || coalesce(rdb$index_inactive, 0) "
    "from rdb$indices where rdb$system_flag = 0 and rdb$index_name not starting 'RDB$' "
    "order by 1";
const char* const kRowsSql = "select id || ' ' || nome || ' ' || saldo from clientes order by id";

std::string Message(const std::function<void()>& call) {
  try {
    call();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no failure)";
}

class FirebirdGbak : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists("/usr/bin/gbak")) {
      GTEST_SKIP() << "no /usr/bin/gbak (package firebird3.0-utils)";
    }
    const std::string real = tolvan::platform::RealExecutablePath();
    plugin_ = tolvan::platform::DynamicLibrary::Load(real.substr(0, real.rfind('/') + 1) +
                                                     "TolvanFirebird" TOLVAN_PLUGIN_SUFFIX);
    folder_ = fs::temp_directory_path() /
              ("tolvan-gbak-it-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_ / "bin");
    // The application folder as scripts/layout-appdir lays it out.
    fs::create_symlink("/usr/bin/gbak", folder_ / "bin" / "gbak");
    fs::create_symlink("/usr/lib/x86_64-linux-gnu/libfbclient.so.2",
                       folder_ / "bin" / "libfbclient.so.2");
    app_ = std::make_unique<tolvan::platform::ScopedExecutablePathOverride>(
        (folder_ / "bin" / "tolvan").string());
    if (!tolvan::platform::GetEnv("FIREBIRD_LOCK")) {
      fs::create_directories(folder_ / "lock");
      tolvan::platform::SetEnv("FIREBIRD_LOCK", (folder_ / "lock").string());
    }
  }

  void TearDown() override {
    app_.reset();
    std::error_code ignored;
    for (const auto& path : server_files_) {
      fs::remove(path, ignored);
    }
    if (!folder_.empty()) {
      fs::remove_all(folder_, ignored);
    }
  }

  // A file of the server's data folder, removed after the test.
  std::string ServerFile(const Server& server, const std::string& name) {
    const std::string path = server.data + "/gbak_" + std::to_string(getpid()) + "_" + name;
    fs::remove(path);
    server_files_.push_back(path);
    return path;
  }

  static void Fill(Database& db) {
    for (const char* sql : kSchema) {
      db.connection.ExecuteDirect(sql);
    }
  }

  template <typename Fn>
  Fn Export(const char* name) const {
    return plugin_->Function<Fn>(name);
  }

  fs::path folder_;
  std::vector<std::string> server_files_;
  std::unique_ptr<tolvan::platform::ScopedExecutablePathOverride> app_;
  std::unique_ptr<tolvan::platform::DynamicLibrary> plugin_;
  tolvan::test::DialogRecorder dialogs_;
  tolvan::test::PlainMessageRecorder boxes_;
  TVeskFraProgresso frame_;
};

TEST_F(FirebirdGbak, EmbeddedBackupRestoresUnderANewNameWithTheSameMetadataAndRows) {
  const std::string source = (folder_ / "loja.fdb").string();
  const std::string file = (folder_ / "loja.fbk").string();
  const std::string target = (folder_ / "nova.fdb").string();
  vesk::firebird::CreateDatabase(source, "SYSDBA", "");
  Database original(source, "SYSDBA", "");
  Fill(original);
  const Lines metadata = original.Select(kMetadataSql);
  const Lines rows = original.Select(kRowsSql);
  ASSERT_EQ(metadata.size(), 4u) << ::testing::PrintToString(metadata);
  ASSERT_EQ(rows.size(), 3u);
  original.connection.Close();

  TVeskFraProgresso frame;
  // The embedded engine ignores the password, but gbak wants one on its command line.
  Export<tolvan::BackupFn>("Backup")(source, "SYSDBA", "x", file, false, &frame, false, false, "",
                                     "libfbclient.so.2", false);
  EXPECT_THAT(frame.GetCaptureText(), HasSubstr("gbak:"));
  Export<tolvan::RestoreFn>("Restore")(target, "SYSDBA", "x", file, false, nullptr, false, true, "",
                                       "libfbclient.so.2", false);
  Database restored(target, "SYSDBA", "");
  EXPECT_EQ(restored.Select(kMetadataSql), metadata);
  EXPECT_EQ(restored.Select(kRowsSql), rows);
  EXPECT_THAT(dialogs_.Texts(), IsEmpty()) << "gbak and the client library are of one version";

  // gbak leaves the half-made database of a failed restore behind: it must not stay.
  const std::string truncated = (folder_ / "truncated.fbk").string();
  fs::copy_file(file, truncated);
  fs::resize_file(truncated, 1000);
  const std::string half = (folder_ / "half.fdb").string();
  EXPECT_THAT(Message([&] {
                Export<tolvan::RestoreFn>("Restore")(half, "SYSDBA", "x", truncated, false, nullptr,
                                                     false, true, "", "libfbclient.so.2", false);
              }),
              StartsWith("Restore:\r\n"));
  EXPECT_FALSE(fs::exists(half));
  EXPECT_THAT(boxes_.Texts(), IsEmpty());
}

TEST_F(FirebirdGbak, ServerRunsOverTcpAndThroughTheServiceManager) {
  const auto server = FindFirebirdServer();
  REQUIRE_SERVER(server);
  const std::string source = ServerFile(*server, "loja.fdb");
  vesk::firebird::CreateDatabase(server->Key(source), server->user, server->password);
  Database original(server->Key(source), server->user, server->password);
  Fill(original);
  const Lines metadata = original.Select(kMetadataSql);
  const Lines rows = original.Select(kRowsSql);

  // Over TCP without the service manager, back through it (and the other way round).
  const std::string tcp_file = ServerFile(*server, "tcp.fbk");
  const std::string by_service = ServerFile(*server, "by_service.fdb");
  Export<tolvan::BackupConnFn>("BackupConn")(&original.dm, tcp_file, false, &frame_, false, false);
  EXPECT_TRUE(original.connection.Connected());
  Export<tolvan::RestoreConnFn>("RestoreConn")(&original.dm, server->password, tcp_file, by_service,
                                               true, &frame_, true, false);
  EXPECT_TRUE(original.connection.Connected());
  Database restored(server->Key(by_service), server->user, server->password);
  EXPECT_EQ(restored.Select(kMetadataSql), metadata);
  EXPECT_EQ(restored.Select(kRowsSql), rows);

  const std::string service_file = ServerFile(*server, "service.fbk");
  const std::string by_tcp = ServerFile(*server, "by_tcp.fdb");
  Export<tolvan::BackupConnFn>("BackupConn")(&original.dm, service_file, true, nullptr, false,
                                             false);
  Export<tolvan::RestoreFn>("Restore")(server->Key(by_tcp), server->user, server->password,
                                       service_file, false, nullptr, false, true, "",
                                       "libfbclient.so.2", true);
  Database inactive(server->Key(by_tcp), server->user, server->password);
  EXPECT_EQ(inactive.Select(kRowsSql), rows);
  EXPECT_THAT(inactive.Select(kMetadataSql), ::testing::Contains("I IX_CLIENTES_NOME 1"))
      << "restored with the indexes inactive";
}

TEST_F(FirebirdGbak, MetadataOnlyBackupRestoresTablesWithoutRows) {
  const auto server = FindFirebirdServer();
  REQUIRE_SERVER(server);
  const std::string source = ServerFile(*server, "meta.fdb");
  vesk::firebird::CreateDatabase(server->Key(source), server->user, server->password);
  Database original(server->Key(source), server->user, server->password);
  Fill(original);
  const std::string file = ServerFile(*server, "meta.fbk");
  const std::string target = ServerFile(*server, "meta_restored.fdb");
  Export<tolvan::BackupConnFn>("BackupConn")(&original.dm, file, true, &frame_, false, true);
  Export<tolvan::RestoreConnFn>("RestoreConn")(&original.dm, server->password, file, target, true,
                                               nullptr, false, false);
  Database restored(server->Key(target), server->user, server->password);
  EXPECT_EQ(restored.Select(kMetadataSql), original.Select(kMetadataSql));
  EXPECT_THAT(restored.Select(kRowsSql), IsEmpty());
}

TEST_F(FirebirdGbak, FailuresCarryGbaksTextAndLeaveNothingThatLooksGood) {
  const auto server = FindFirebirdServer();
  REQUIRE_SERVER(server);
  const std::string source = ServerFile(*server, "fail.fdb");
  vesk::firebird::CreateDatabase(server->Key(source), server->user, server->password);
  const std::string file = ServerFile(*server, "fail.fbk");

  const std::string wrong_password = Message([&] {
    Export<tolvan::BackupFn>("Backup")(server->Key(source), server->user, "wrong", file, false,
                                       &frame_, false, false, "", "libfbclient.so.2", false);
  });
  EXPECT_THAT(wrong_password, StartsWith("Backup:\r\nError cod: 1\r\n"));
  EXPECT_THAT(wrong_password, HasSubstr("password"));
  EXPECT_FALSE(fs::exists(file));

  const std::string missing = Message([&] {
    Export<tolvan::BackupFn>("Backup")(server->Key(server->data + "/no_such.fdb"), server->user,
                                       server->password, file, false, nullptr, false, true, "",
                                       "libfbclient.so.2", false);
  });
  EXPECT_THAT(missing, StartsWith("Backup:\r\n"));
  EXPECT_THAT(missing, HasSubstr("gbak:"));
  EXPECT_FALSE(fs::exists(file));

  Database db(server->Key(source), server->user, server->password);
  db.connection.Open();
  const std::string no_folder = server->data + "/no_such_folder/x.fbk";
  EXPECT_THAT(Message([&] {
                Export<tolvan::BackupConnFn>("BackupConn")(&db.dm, no_folder, false, nullptr, false,
                                                           false);
              }),
              HasSubstr("cannot open backup file"));
  EXPECT_TRUE(db.connection.Connected());

  // A target that exists already is refused and left as it was.
  Export<tolvan::BackupConnFn>("BackupConn")(&db.dm, file, false, nullptr, false, false);
  const std::string exists = Message([&] {
    Export<tolvan::RestoreConnFn>("RestoreConn")(&db.dm, server->password, file, source, false,
                                                 nullptr, false, false);
  });
  EXPECT_THAT(exists, StartsWith("Restore:\r\n"));
  EXPECT_THAT(exists, HasSubstr("already exists"));
  EXPECT_TRUE(db.connection.Connected());
  EXPECT_NO_THROW(db.Select("select count(*) from rdb$relations"));

  // Without gbak in the application folder.
  fs::remove(folder_ / "bin" / "gbak");
  TVeskFraProgresso fresh;
  EXPECT_EQ(Message([&] {
              Export<tolvan::BackupConnFn>("BackupConn")(&db.dm, file + "2", false, &fresh, false,
                                                         false);
            }),
            "Backup:\r\nError cod: -1\r\ngbak.exe não Encontrado.");
  EXPECT_TRUE(db.connection.Connected());
}

}  // namespace
