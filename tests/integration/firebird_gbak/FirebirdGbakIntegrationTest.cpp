// Backup and restore of the Firebird plug-in with the real gbak: embedded, through the private
// server over TCP and through its service manager.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "FirebirdTestDatabase.h"
#include "FirebirdTestServer.h"
#include "LinkedPlugin.h"
#include "Recorders.h"
#include "TestFolders.h"
#include "ci/FailureOf.h"
#include "ci/TestNames.h"
#include "platform/Environment.h"
#include "platform/Interrupt.h"
#include "platform/Paths.h"
#include "tolvan/Exports.h"
#include "vesk/VeskPack5.h"
#include "vesk/host/Firebird.h"

namespace {

// The client library reads the names of its login blocks in the character set of the locale it
// first ran under, as a program that takes its locale from a UTF-8 environment has it.
const bool kUtf8Locale = std::setlocale(LC_ALL, "C.UTF-8") != nullptr;

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

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The temporary files a backup left in a folder.
Lines Leftovers(const fs::path& folder) {
  Lines names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename().string().find(".~") != std::string::npos) {
      names.push_back(entry.path().filename().string());
    }
  }
  return names;
}

// A gbak that this process started and that still runs.
std::optional<pid_t> RunningGbak() {
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    const std::string stat = ReadAll(entry.path() / "stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos || stat.find("(gbak)") == std::string::npos) {
      continue;
    }
    int parent = 0;
    char state = 0;
    if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &parent) == 2 &&
        parent == getpid() && state != 'Z') {
      return static_cast<pid_t>(std::stoi(name));
    }
  }
  return std::nullopt;
}

Lines NulSeparated(const std::string& text) {
  Lines pieces;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\0', start);
    pieces.push_back(text.substr(start, end - start));
    start = end == std::string::npos ? text.size() : end + 1;
  }
  return pieces;
}

using tolvan::test::HookedFrame;

class FirebirdGbak : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists("/usr/bin/gbak")) {
      GTEST_SKIP() << "no /usr/bin/gbak (package firebird3.0-utils)";
    }
    plugin_ = tolvan::testing::LinkedPlugin::Load("TolvanFirebird");
    app_ = std::make_unique<tolvan::test::TestAppFolder>("tolvan-gbak-it");
    folder_ = app_->Root();
    // The application folder as scripts/layout-appdir lays it out.
    fs::create_symlink("/usr/bin/gbak", folder_ / "bin" / "gbak");
    fs::create_symlink("/usr/lib/x86_64-linux-gnu/libfbclient.so.2",
                       folder_ / "bin" / "libfbclient.so.2");
    if (!tolvan::platform::GetEnv("FIREBIRD_LOCK")) {
      fs::create_directories(folder_ / "lock");
      tolvan::platform::SetEnv("FIREBIRD_LOCK", (folder_ / "lock").string());
    }
  }

  void TearDown() override {
    for (const auto& undo : undo_) {
      undo();
    }
    app_.reset();
  }

  // A file of the server's data folder, removed after the test.
  std::string ServerFile(const Server& server, const std::string& name) {
    return server_files_.Take(server.data, name);
  }

  static void Fill(Database& db) {
    for (const char* sql : kSchema) {
      db.connection.ExecuteDirect(sql);
    }
  }

  // An embedded database of 300,000 rows, whose backup takes gbak most of a second.
  static void MakeBigDatabase(const std::string& path) {
    vesk::firebird::CreateDatabase(path, "SYSDBA", "");
    // Synchronous page writes would make the filling take ten times as long.
    ASSERT_EQ(std::system(("/usr/bin/gfix -write async '" + path + "' -user SYSDBA").c_str()), 0);
    Database db(path, "SYSDBA", "");
    db.connection.ExecuteDirect("create table linhas (id integer, texto varchar(100))");
    db.connection.ExecuteDirect(
        "execute block as declare i integer = 0; begin while (i < 300000) do begin "
        "insert into linhas values (:i, lpad('', 100, 'x')); i = i + 1; end end");
    db.connection.Close();
  }

  void BackupEmbedded(const std::string& database, const std::string& file,
                      TVeskFraProgresso* frame = nullptr) {
    Export<tolvan::BackupFn>("Backup")(database, "SYSDBA", "", file, false, frame, false, false, "",
                                       "libfbclient.so.2", false);
  }
  void RestoreEmbedded(const std::string& file, const std::string& target) {
    Export<tolvan::RestoreFn>("Restore")(target, "SYSDBA", "", file, false, nullptr, false, true,
                                         "", "libfbclient.so.2", false);
  }
  static std::string CountRows(const std::string& database) {
    Database db(database, "SYSDBA", "");
    return db.Select("select count(*) from linhas").at(0);
  }

  template <typename Fn>
  Fn Export(const char* name) const {
    return plugin_->Function<Fn>(name);
  }

  fs::path folder_;
  tolvan::test::ServerFiles server_files_{"gbak"};
  // Run before the folder is removed: unmounts, attributes taken back.
  std::vector<std::function<void()>> undo_;
  std::unique_ptr<tolvan::test::TestAppFolder> app_;
  std::unique_ptr<tolvan::testing::LinkedPlugin> plugin_;
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
  EXPECT_THAT(tolvan::test::FailureOf([&] {
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

  const std::string wrong_password = tolvan::test::FailureOf([&] {
    Export<tolvan::BackupFn>("Backup")(server->Key(source), server->user, "wrong", file, false,
                                       &frame_, false, false, "", "libfbclient.so.2", false);
  });
  EXPECT_THAT(wrong_password, StartsWith("Backup:\r\nError cod: 1\r\n"));
  EXPECT_THAT(wrong_password, HasSubstr("password"));
  EXPECT_FALSE(fs::exists(file));

  const std::string missing = tolvan::test::FailureOf([&] {
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
  EXPECT_THAT(tolvan::test::FailureOf([&] {
                Export<tolvan::BackupConnFn>("BackupConn")(&db.dm, no_folder, false, nullptr, false,
                                                           false);
              }),
              AllOf(HasSubstr("Não foi possível criar um arquivo na pasta do backup"),
                    HasSubstr("(a pasta não existe)")));
  EXPECT_TRUE(db.connection.Connected());

  // A target that exists already is refused and left as it was.
  Export<tolvan::BackupConnFn>("BackupConn")(&db.dm, file, false, nullptr, false, false);
  const std::string exists = tolvan::test::FailureOf([&] {
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
  EXPECT_EQ(tolvan::test::FailureOf([&] {
              Export<tolvan::BackupConnFn>("BackupConn")(&db.dm, file + "2", false, &fresh, false,
                                                         false);
            }),
            "Backup:\r\nError cod: -1\r\ngbak.exe não Encontrado.");
  EXPECT_TRUE(db.connection.Connected());
}

TEST_F(FirebirdGbak, AGoodBackupOutlivesAWrongPasswordAndAKilledGbakAndGivesWayToASuccess) {
  const auto server = FindFirebirdServer();
  REQUIRE_SERVER(server);
  const std::string big = (folder_ / "grande.fdb").string();
  MakeBigDatabase(big);
  const std::string file = (folder_ / "grande.fbk").string();
  BackupEmbedded(big, file);
  const std::string good = ReadAll(file);
  ASSERT_GT(good.size(), 1000000u);

  const std::string on_server = ServerFile(*server, "senha.fdb");
  vesk::firebird::CreateDatabase(server->Key(on_server), server->user, server->password);
  EXPECT_THAT(tolvan::test::FailureOf([&] {
                Export<tolvan::BackupFn>("Backup")(server->Key(on_server), server->user, "errada",
                                                   file, false, nullptr, false, false, "",
                                                   "libfbclient.so.2", false);
              }),
              HasSubstr("password"));
  EXPECT_TRUE(ReadAll(file) == good) << "a wrong password left the backup changed";
  EXPECT_THAT(Leftovers(folder_), IsEmpty());

  bool killed = false;
  HookedFrame killer([&](const std::string& line) {
    if (!killed && line.find("records written") != std::string::npos) {
      const auto gbak = RunningGbak();
      ASSERT_TRUE(gbak) << "no running gbak found";
      killed = kill(*gbak, SIGKILL) == 0;
    }
  });
  EXPECT_THAT(tolvan::test::FailureOf([&] { BackupEmbedded(big, file, &killer); }),
              StartsWith("Backup:\r\n"));
  ASSERT_TRUE(killed) << "gbak ended before the test could kill it";
  EXPECT_TRUE(ReadAll(file) == good) << "a killed gbak left the backup changed";
  EXPECT_THAT(Leftovers(folder_), IsEmpty());

  {
    Database db(big, "SYSDBA", "");
    db.connection.ExecuteDirect("insert into linhas values (-1, 'nova')");
  }
  BackupEmbedded(big, file);
  EXPECT_FALSE(ReadAll(file) == good);
  EXPECT_THAT(Leftovers(folder_), IsEmpty());
  const std::string restored = (folder_ / "restaurado.fdb").string();
  RestoreEmbedded(file, restored);
  EXPECT_EQ(CountRows(restored), "300001");
}

TEST_F(FirebirdGbak, AWaitThatFailsAfterGbakRanKeepsItsBackupBesideTheOldOne) {
  const std::string source = (folder_ / "loja.fdb").string();
  vesk::firebird::CreateDatabase(source, "SYSDBA", "");
  {
    Database db(source, "SYSDBA", "");
    Fill(db);
  }
  const std::string file = (folder_ / "loja.fbk").string();
  BackupEmbedded(source, file);
  const std::string good = ReadAll(file);

  // With SIGCHLD ignored the system reaps gbak itself, and the wait for it fails.
  const auto previous = std::signal(SIGCHLD, SIG_IGN);
  const std::string message = tolvan::test::FailureOf([&] { BackupEmbedded(source, file); });
  std::signal(SIGCHLD, previous);
  EXPECT_THAT(message, HasSubstr("não foi possível saber como ele terminou"));
  EXPECT_TRUE(ReadAll(file) == good);
  const Lines kept = Leftovers(folder_);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_THAT(message, HasSubstr((folder_ / kept[0]).string()));
  const std::string restored = (folder_ / "conferido.fdb").string();
  RestoreEmbedded((folder_ / kept[0]).string(), restored);
  Database db(restored, "SYSDBA", "");
  EXPECT_EQ(db.Select(kRowsSql).size(), 3u) << "the kept backup is whole";
}

TEST_F(FirebirdGbak, ARestoreThatCannotActivateAnIndexKeepsTheDatabaseAndRaises) {
  // An index whose key fits the pages of the source but not the restore's 8192-byte pages: a
  // verbose gbak restores every row and leaves the database offline with the index inactive
  // (code 2). Without -V this gbak stops at the index instead (code 1), with the database half
  // made.
  const std::string source = (folder_ / "paginas.fdb").string();
  const std::string script = (folder_ / "paginas.sql").string();
  std::ofstream(script) << "create database '" << source << "' user 'SYSDBA' page_size 16384;\n"
                        << "create table t (id integer, nome varchar(1000) character set utf8);\n"
                        << "create index ix_t_nome on t (nome);\ncommit;\n"
                        << "insert into t values (1, 'um');\ncommit;\n";
  ASSERT_EQ(std::system(("/usr/bin/isql-fb -q -i '" + script + "'").c_str()), 0);
  const std::string file = (folder_ / "paginas.fbk").string();
  BackupEmbedded(source, file);

  const std::string target = (folder_ / "paginas_restaurado.fdb").string();
  const std::string message = tolvan::test::FailureOf([&] {
    Export<tolvan::RestoreFn>("Restore")(target, "SYSDBA", "", file, false, nullptr, false, false,
                                         "", "libfbclient.so.2", false);
  });
  EXPECT_THAT(message, StartsWith("Restore:\r\n"));
  EXPECT_THAT(message, HasSubstr("gfix -online")) << "gbak's own advice";
  EXPECT_THAT(message, HasSubstr("O banco \"" + target + "\" foi restaurado e mantido"));
  ASSERT_TRUE(fs::exists(target));
  EXPECT_GT(fs::file_size(target), 100000u);
}

TEST_F(FirebirdGbak, ANamedPipeAtTheBackupOrTargetPathIsNeverUnlinked) {
  const std::string source = (folder_ / "loja.fdb").string();
  vesk::firebird::CreateDatabase(source, "SYSDBA", "");
  {
    Database db(source, "SYSDBA", "");
    Fill(db);
  }
  const std::string pipe = (folder_ / "saida.fbk").string();
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const auto is_pipe = [&] {
    struct stat st {};
    return lstat(pipe.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
  };
  // A backup is refused before gbak runs: with no reader it would wait for ever, and a rename
  // would replace the pipe.
  EXPECT_THAT(tolvan::test::FailureOf([&] { BackupEmbedded(source, pipe); }),
              AllOf(StartsWith("Backup:\r\n"), HasSubstr(pipe), HasSubstr("pipe nomeado")));
  EXPECT_TRUE(is_pipe());
  const std::string file = (folder_ / "loja.fbk").string();
  BackupEmbedded(source, file);
  EXPECT_THAT(tolvan::test::FailureOf([&] { RestoreEmbedded(file, pipe); }),
              StartsWith("Restore:\r\n"));
  EXPECT_TRUE(is_pipe());
  EXPECT_THAT(Leftovers(folder_), IsEmpty());
}

TEST_F(FirebirdGbak, TwoBackupsToOneFileStartedTogetherLeaveABackupThatRestores) {
  const std::string source = (folder_ / "loja.fdb").string();
  vesk::firebird::CreateDatabase(source, "SYSDBA", "");
  {
    Database db(source, "SYSDBA", "");
    Fill(db);
  }
  const std::string file = (folder_ / "loja.fbk").string();
  int successes = 0;
  for (int round = 0; round < 20; ++round) {
    bool ok[2] = {false, false};
    std::thread runs[2];
    for (int i = 0; i < 2; ++i) {
      runs[i] = std::thread([&, i] {
        try {
          BackupEmbedded(source, file);
          ok[i] = true;
        } catch (const std::exception&) {
        }
      });
    }
    runs[0].join();
    runs[1].join();
    EXPECT_THAT(Leftovers(folder_), IsEmpty()) << "round " << round;
    if (!ok[0] && !ok[1]) {
      continue;
    }
    ++successes;
    const std::string target = (folder_ / ("r" + std::to_string(round) + ".fdb")).string();
    ASSERT_NO_THROW(RestoreEmbedded(file, target)) << "round " << round;
    Database restored(target, "SYSDBA", "");
    EXPECT_EQ(restored.Select("select count(*) from clientes").at(0), "3") << "round " << round;
  }
  EXPECT_GT(successes, 0);
}

// A user of the test server made for one test, with a password holding a blank and a quote.
class FirebirdGbakUser : public FirebirdGbak {
 protected:
  void SetUp() override {
    FirebirdGbak::SetUp();
    if (IsSkipped()) {
      return;
    }
    server_ = FindFirebirdServer();
    if (!server_) {
      return;
    }
    user_ = "TOLVAN_GBAK_" + std::to_string(getpid());
    admin_ = std::make_unique<Database>(server_->Key(ServerFile(*server_, "admin.fdb")),
                                        server_->user, server_->password);
    vesk::firebird::CreateDatabase(admin_->connection.GetParam("Database"), server_->user,
                                   server_->password);
    admin_->connection.ExecuteDirect("create user " + user_ + " password '" + kPassword + "'");
    admin_->connection.ExecuteDirect("grant create database to user " + user_);
  }
  void TearDown() override {
    if (admin_) {
      try {
        admin_->connection.ExecuteDirect("drop user " + user_);
      } catch (...) {
        // The test's own failure is the one to see.
      }
      admin_->connection.Close();
    }
    FirebirdGbak::TearDown();
  }

  static constexpr const char* kPassword = "se \"nha\" -x";
  std::optional<Server> server_;
  std::string user_;
  std::unique_ptr<Database> admin_;
};

TEST_F(FirebirdGbakUser,
       APasswordWithABlankAndAQuoteWorksEmbeddedOverTcpAndThroughTheServiceManager) {
  REQUIRE_SERVER(server_);
  const auto backup = [&](const std::string& database, const std::string& password,
                          const std::string& file, bool service, TVeskFraProgresso* frame) {
    Export<tolvan::BackupFn>("Backup")(database, user_, password, file, service, frame, false,
                                       false, "", "libfbclient.so.2", false);
  };
  const auto restore = [&](const std::string& target, const std::string& file, bool service) {
    Export<tolvan::RestoreFn>("Restore")(target, user_, kPassword, file, service, nullptr, false,
                                         true, "", "libfbclient.so.2", false);
  };
  const std::string source = ServerFile(*server_, "dono.fdb");
  vesk::firebird::CreateDatabase(server_->Key(source), user_, kPassword);
  {
    Database db(server_->Key(source), user_, kPassword);
    Fill(db);
  }
  const auto rows = [&](const std::string& key) {
    Database db(key, user_, kPassword);
    return db.Select(kRowsSql).size();
  };

  // Over TCP, with a look at the running gbak's command line and environment.
  Lines argv;
  std::string environment;
  HookedFrame spy([&](const std::string&) {
    if (argv.empty()) {
      if (const auto gbak = RunningGbak()) {
        const std::string proc = "/proc/" + std::to_string(*gbak);
        argv = NulSeparated(ReadAll(proc + "/cmdline"));
        environment = ReadAll(proc + "/environ");
      }
    }
  });
  const std::string tcp_file = (folder_ / "tcp.fbk").string();
  backup(server_->Key(source), kPassword, tcp_file, false, &spy);
  ASSERT_FALSE(argv.empty()) << "the running gbak was not found";
  EXPECT_THAT(argv, Not(Contains("-pas")));
  EXPECT_THAT(argv, Each(Not(HasSubstr("nha"))));
  EXPECT_THAT(argv, Contains(user_));
  EXPECT_THAT(NulSeparated(environment), Contains(std::string("ISC_PASSWORD=") + kPassword));
  const std::string by_tcp = ServerFile(*server_, "por_tcp.fdb");
  restore(server_->Key(by_tcp), tcp_file, false);
  EXPECT_EQ(rows(server_->Key(by_tcp)), 3u);

  // Through the service manager: the files are the server's.
  const std::string service_file = ServerFile(*server_, "servico.fbk");
  backup(server_->Key(source), kPassword, service_file, true, nullptr);
  const std::string by_service = ServerFile(*server_, "por_servico.fdb");
  restore(server_->Key(by_service), service_file, true);
  EXPECT_EQ(rows(server_->Key(by_service)), 3u);

  // Embedded: the engine of this process opens the file itself.
  const std::string local = (folder_ / "local.fdb").string();
  restore(local, tcp_file, false);
  const std::string embedded_file = (folder_ / "embutido.fbk").string();
  backup(local, kPassword, embedded_file, false, nullptr);
  const std::string by_embedded = (folder_ / "embutido.fdb").string();
  restore(by_embedded, embedded_file, false);
  EXPECT_EQ(rows(by_embedded), 3u);

  // A wrong password fails the same way on both server routes.
  for (const bool service : {false, true}) {
    EXPECT_THAT(tolvan::test::FailureOf([&] {
                  backup(server_->Key(source), "se \"nha\"", ServerFile(*server_, "x.fbk"), service,
                         nullptr);
                }),
                HasSubstr("password"))
        << (service ? "service manager" : "tcp");
  }
}

TEST_F(FirebirdGbak, BadBackupFoldersAndAFullDiskGiveAClearMessageAndKeepWhatWasThere) {
  const std::string source = (folder_ / "loja.fdb").string();
  vesk::firebird::CreateDatabase(source, "SYSDBA", "");
  {
    Database db(source, "SYSDBA", "");
    Fill(db);
  }
  EXPECT_THAT(tolvan::test::FailureOf(
                  [&] { BackupEmbedded(source, (folder_ / "nao_existe" / "x.fbk").string()); }),
              HasSubstr("Não foi possível criar um arquivo na pasta do backup"));

  // A folder nobody may write in, root included.
  const fs::path locked = folder_ / "trancada";
  fs::create_directory(locked);
  const std::string kept = (locked / "loja.fbk").string();
  BackupEmbedded(source, kept);
  const std::string before = ReadAll(kept);
  if (std::system(("chattr +i '" + locked.string() + "' 2>/dev/null").c_str()) == 0) {
    undo_.push_back([locked] { std::system(("chattr -i '" + locked.string() + "'").c_str()); });
    EXPECT_THAT(tolvan::test::FailureOf([&] { BackupEmbedded(source, kept); }),
                HasSubstr("Não foi possível criar um arquivo na pasta do backup"));
    EXPECT_TRUE(ReadAll(kept) == before);
    EXPECT_THAT(Leftovers(locked), IsEmpty());
  } else {
    std::cout << "[ SKIPPED  ] an unwritable folder: chattr +i does not work here\n";
  }

  // A disk that fills part-way: gbak's own clean-up removes only our temporary file.
  const fs::path small = folder_ / "pequeno";
  fs::create_directory(small);
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=2m") != 0) {
    GTEST_SKIP() << "a full disk: a small tmpfs cannot be mounted here";
  }
  undo_.insert(undo_.begin(), [small] { umount2(small.c_str(), MNT_DETACH); });
  const std::string on_small = (small / "grande.fbk").string();
  BackupEmbedded(source, on_small);
  const std::string small_backup = ReadAll(on_small);
  const std::string big = (folder_ / "grande.fdb").string();
  MakeBigDatabase(big);
  const std::string message = tolvan::test::FailureOf([&] { BackupEmbedded(big, on_small); });
  EXPECT_THAT(message, StartsWith("Backup:\r\n"));
  EXPECT_THAT(message, HasSubstr("Backup incomplete")) << "gbak asked for another volume";
  EXPECT_TRUE(ReadAll(on_small) == small_backup);
  EXPECT_THAT(Leftovers(small), IsEmpty());
}

TEST_F(FirebirdGbak, ABackupToStandardOutputOrOntoTheDatabaseIsRefusedAndTheDatabaseStaysWhole) {
  const auto server = FindFirebirdServer();
  REQUIRE_SERVER(server);
  const std::string local = (folder_ / "loja.fdb").string();
  vesk::firebird::CreateDatabase(local, "SYSDBA", "");
  {
    Database db(local, "SYSDBA", "");
    Fill(db);
  }
  fs::create_directories(folder_ / "sub");
  fs::create_symlink(local, folder_ / "atalho.fdb");
  for (const std::string& file : Lines{"stdout", "-", (folder_ / "atalho.fdb").string(),
                                       (folder_ / "sub" / ".." / "loja.fdb").string(), local}) {
    EXPECT_THAT(tolvan::test::FailureOf([&] { BackupEmbedded(local, file); }),
                AllOf(StartsWith("Backup:\r\nO arquivo de backup \"" + file + "\""),
                      HasSubstr("nada foi executado")));
  }
  Database after(local, "SYSDBA", "");
  EXPECT_EQ(after.Select(kRowsSql).size(), 3u);
  after.connection.Close();

  // On the server, by the host's connection, with and without the service manager.
  const std::string source = ServerFile(*server, "propria.fdb");
  vesk::firebird::CreateDatabase(server->Key(source), server->user, server->password);
  Database db(server->Key(source), server->user, server->password);
  Fill(db);
  for (const bool service : {false, true}) {
    EXPECT_THAT(tolvan::test::FailureOf([&] {
                  Export<tolvan::BackupConnFn>("BackupConn")(&db.dm, source, service, nullptr,
                                                             false, false);
                }),
                HasSubstr("é o próprio banco de dados"));
    EXPECT_TRUE(db.connection.Connected());
  }
  EXPECT_EQ(db.Select(kRowsSql).size(), 3u);
}

// A restore to the server that does not end well leaves no database behind, whichever way it
// went: a cut backup, an interrupt; through the service manager or over TCP.
TEST_F(FirebirdGbak, ARestoreToTheServerThatFailsLeavesNoDatabaseAndARetrySucceeds) {
  const auto server = FindFirebirdServer();
  REQUIRE_SERVER(server);
  const std::string big = (folder_ / "grande.fdb").string();
  MakeBigDatabase(big);
  const std::string whole = (folder_ / "grande.fbk").string();
  BackupEmbedded(big, whole);
  const std::string cut = (folder_ / "cortado.fbk").string();
  {
    const std::string bytes = ReadAll(whole);
    std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  }
  const std::string source = ServerFile(*server, "conexao.fdb");
  vesk::firebird::CreateDatabase(server->Key(source), server->user, server->password);
  Database db(server->Key(source), server->user, server->password);
  db.connection.Open();
  const auto restore = [&](const std::string& file, const std::string& target, bool service,
                           TVeskFraProgresso* frame) {
    Export<tolvan::RestoreConnFn>("RestoreConn")(&db.dm, server->password, file, target, service,
                                                 frame, false, false);
  };
  for (const bool service : {true, false}) {
    const std::string where = service ? "service manager" : "tcp";
    const std::string target = ServerFile(*server, service ? "se.fdb" : "tcp.fdb");
    EXPECT_THAT(tolvan::test::FailureOf([&] { restore(cut, target, service, nullptr); }),
                AllOf(StartsWith("Restore:\r\n"), Not(HasSubstr("não pôde ser apagado"))))
        << where;
    EXPECT_FALSE(fs::exists(target)) << where << ": the cut backup left a database";
    EXPECT_TRUE(db.connection.Connected()) << where;

    bool interrupted = false;
    HookedFrame interrupter([&](const std::string& line) {
      if (!interrupted && line.find("LINHAS") != std::string::npos) {
        tolvan::platform::RequestInterrupt(SIGINT);
        interrupted = true;
      }
    });
    EXPECT_THAT(tolvan::test::FailureOf([&] { restore(whole, target, service, &interrupter); }),
                AllOf(StartsWith("Restore:\r\n"), Not(HasSubstr("não pôde ser apagado"))))
        << where;
    tolvan::platform::ClearInterrupt();
    ASSERT_TRUE(interrupted) << where << ": gbak ended before the test could interrupt it";
    EXPECT_FALSE(fs::exists(target)) << where << ": the interrupted run left a database";
    EXPECT_TRUE(db.connection.Connected()) << where;

    // Through the service manager: over TCP a restore takes many times as long.
    restore(whole, target, true, nullptr);
    Database restored(server->Key(target), server->user, server->password);
    EXPECT_EQ(restored.Select("select count(*) from linhas").at(0), "300000") << where;
  }

  // A database that stood there before the run is the operator's: gbak refuses it, and it stays.
  const std::string existing = ServerFile(*server, "existente.fdb");
  vesk::firebird::CreateDatabase(server->Key(existing), server->user, server->password);
  EXPECT_THAT(tolvan::test::FailureOf([&] { restore(whole, existing, true, nullptr); }),
              StartsWith("Restore:"));
  Database kept(server->Key(existing), server->user, server->password);
  EXPECT_THAT(kept.Select("select count(*) from rdb$database"), ::testing::ElementsAre("1"));
}

// A restore to the server onto a disk that fills part-way: the server's own text in our framing,
// nothing left on that disk (its space is free again), and a retry to the same path with room
// succeeds. The server runs on this machine, so the path it writes is a path here.
TEST_F(FirebirdGbak, ARestoreToTheServerOnAFullDiskLeavesNothingAndARetrySucceeds) {
  const auto server = FindFirebirdServer();
  REQUIRE_SERVER(server);
  if (geteuid() != 0) {
    GTEST_SKIP() << "a full disk: mounting a small tmpfs needs root";
  }
  const fs::path small = folder_ / "pequeno";
  fs::create_directory(small);
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m,mode=0777") != 0) {
    GTEST_SKIP() << "a full disk: a small tmpfs cannot be mounted here (" << std::strerror(errno)
                 << ")";
  }
  undo_.insert(undo_.begin(), [small] { umount2(small.c_str(), MNT_DETACH); });
  const auto used = [&] {
    struct statvfs disk {};
    EXPECT_EQ(statvfs(small.c_str(), &disk), 0);
    return (disk.f_blocks - disk.f_bfree) * disk.f_frsize;
  };
  const std::uintmax_t empty = used();

  const std::string big = (folder_ / "grande.fdb").string();
  MakeBigDatabase(big);
  const std::string file = (folder_ / "grande.fbk").string();
  BackupEmbedded(big, file);
  ASSERT_GT(fs::file_size(file), 4u << 20) << "the backup must not fit the small disk";

  const std::string source = ServerFile(*server, "conexao_cheio.fdb");
  vesk::firebird::CreateDatabase(server->Key(source), server->user, server->password);
  Database db(server->Key(source), server->user, server->password);
  db.connection.Open();
  const auto restore = [&](const std::string& target, bool service) {
    Export<tolvan::RestoreConnFn>("RestoreConn")(&db.dm, server->password, file, target, service,
                                                 nullptr, false, false);
  };
  // At 1 MiB the disk fills while the server still makes the database, which it can then no
  // longer open (nor drop); at 2 MiB it fills during the rows.
  for (const char* size : {"size=1m,mode=0777", "size=2m,mode=0777"}) {
    ASSERT_EQ(mount("tmpfs", small.c_str(), "tmpfs", MS_REMOUNT, size), 0) << std::strerror(errno);
    for (const bool service : {true, false}) {
      const std::string where = std::string(size) + (service ? ", service manager" : ", tcp");
      const std::string target = (small / (service ? "se.fdb" : "tcp.fdb")).string();
      const std::string message = tolvan::test::FailureOf([&] { restore(target, service); });
      EXPECT_THAT(message, AllOf(StartsWith("Restore:\r\n"), HasSubstr("No space left on device"),
                                 Not(HasSubstr("não pôde ser apagado"))))
          << where;
      EXPECT_FALSE(fs::exists(target)) << where << ": the full disk kept a half database";
      EXPECT_THAT(tolvan::test::FailureOf([&] {
                    Database left(server->Key(target), server->user, server->password);
                    left.connection.Open();
                  }),
                  Not(std::string("(no failure)")))
          << where << ": the server still attaches the half database";
      EXPECT_EQ(used(), empty) << where << ": the disk's space was not given back";
      EXPECT_TRUE(db.connection.Connected()) << where;
    }
  }

  // The same path once the disk has room: nothing of the failed runs stands in the way.
  ASSERT_EQ(mount("tmpfs", small.c_str(), "tmpfs", MS_REMOUNT, "size=256m,mode=0777"), 0)
      << std::strerror(errno);
  const std::string target = (small / "se.fdb").string();
  restore(target, true);
  Database restored(server->Key(target), server->user, server->password);
  EXPECT_EQ(restored.Select("select count(*) from linhas").at(0), "300000");
  restored.connection.Close();
}

// The security database keeps "joão" as "JOãO"; gbak logs in with it as the driver does.
TEST_F(FirebirdGbak, AnAccentedUserBacksUpAndRestores) {
  const auto server = FindFirebirdServer();
  REQUIRE_SERVER(server);
  ASSERT_TRUE(kUtf8Locale) << "no C.UTF-8 locale";
  const std::string user = "joão";
  const std::string password = "s3nh@ d'ela";
  Database admin(server->Key(ServerFile(*server, "admin_acento.fdb")), server->user,
                 server->password);
  vesk::firebird::CreateDatabase(admin.connection.GetParam("Database"), server->user,
                                 server->password);
  admin.connection.ExecuteDirect("create or alter user \"JOãO\" password 's3nh@ d''ela'");
  admin.connection.ExecuteDirect("grant create database to user \"JOãO\"");
  struct DropUser {
    Database& admin;
    ~DropUser() {
      try {
        admin.connection.ExecuteDirect("drop user \"JOãO\"");
      } catch (...) {
        // The test's own failure is the one to see.
      }
    }
  } drop_user{admin};
  const std::string source = ServerFile(*server, "do_joao.fdb");
  // Created under the name as it is kept, so that only the runs below fold it.
  vesk::firebird::CreateDatabase(server->Key(source), "JOãO", password);
  {
    Database db(server->Key(source), user, password);
    Fill(db);
  }
  for (const bool service : {false, true}) {
    const std::string where = service ? "service manager" : "tcp";
    const std::string file = ServerFile(*server, service ? "joao_se.fbk" : "joao_tcp.fbk");
    const std::string target = ServerFile(*server, service ? "joao_se.fdb" : "joao_tcp.fdb");
    Export<tolvan::BackupFn>("Backup")(server->Key(source), user, password, file, service, nullptr,
                                       false, true, "", "libfbclient.so.2", false);
    Export<tolvan::RestoreFn>("Restore")(server->Key(target), user, password, file, service,
                                         nullptr, false, true, "", "libfbclient.so.2", false);
    Database restored(server->Key(target), user, password);
    EXPECT_EQ(restored.Select(kRowsSql).size(), 3u) << where;
  }
}

}  // namespace
