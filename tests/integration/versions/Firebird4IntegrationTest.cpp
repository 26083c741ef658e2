// The Firebird plug-in against a Firebird 4.0 server (scripts/debian13-servers), with the real
// gbak 4.0 of that server's root made to run here, and this machine's gbak 3.0 beside it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FirebirdTestDatabase.h"
#include "FirebirdTestServer.h"
#include "LinkedPlugin.h"
#include "Recorders.h"
#include "TestFolders.h"
#include "ci/FailureOf.h"
#include "ci/SkipOrFail.h"
#include "ci/TestNames.h"
#include "platform/Environment.h"
#include "platform/Paths.h"
#include "tolvan/Exports.h"
#include "vesk/VeskPack5.h"
#include "vesk/host/DefaultConnection.h"
#include "vesk/host/Firebird.h"

namespace {

using Database = tolvan::test::FirebirdDatabase;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Firebird4Server {
  std::string host, port, user, password, data, messages, version, tools;
  std::string Key(const std::string& path) const { return host + "/" + port + ":" + path; }
};

std::optional<Firebird4Server> FindFirebird4Server() {
  using tolvan::platform::GetEnv;
  Firebird4Server s;
  for (auto [field, name] :
       {std::pair{&s.host, "TOLVAN_FB4_HOST"}, std::pair{&s.port, "TOLVAN_FB4_PORT"},
        std::pair{&s.user, "TOLVAN_FB4_USER"}, std::pair{&s.password, "TOLVAN_FB4_PASSWORD"},
        std::pair{&s.data, "TOLVAN_FB4_DATA"}, std::pair{&s.messages, "TOLVAN_FB4_MSG"},
        std::pair{&s.version, "TOLVAN_FB4_VERSION"},
        std::pair{&s.tools, "TOLVAN_DEBIAN13_TOOLS"}}) {
    const auto value = GetEnv(name);
    if (!value) {
      return std::nullopt;
    }
    *field = *value;
  }
  return s;
}

// Types Firebird 3's gbak cannot read (it stops at INT128: "data type 26 not understood").
const char* const kNewTypes[] = {
    "create table medidas (id integer not null primary key, grande int128, "
    "preciso decfloat(34), hora time with time zone, nome varchar(30))",
    "insert into medidas values (1, 170141183460469231731687303715884105727, "
    "1234567890.123456789012345678901234, time '10:11:12.5 America/Sao_Paulo', 'João')",
    "insert into medidas values (2, -170141183460469231731687303715884105728, -1E-6000, "
    "time '23:59:59 +03:00', 'Célia')",
};
const char* const kNewTypesRows =
    "select id || ' ' || grande || ' ' || preciso || ' ' || hora || ' ' || nome from medidas "
    "order by id";

class Firebird4 : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = FindFirebird4Server();
    if (!server_) {
      const std::string why =
          "no Firebird 4 server (TOLVAN_FB4_*, TOLVAN_DEBIAN13_TOOLS); source \"$(scripts/"
          "debian13-servers start)\"";
      TOLVAN_SKIP_OR_FAIL(why);
    }
    plugin_ = tolvan::testing::LinkedPlugin::Load("TolvanFirebird");
    app_ = std::make_unique<tolvan::test::TestAppFolder>("tolvan-fb4-it");
    folder_ = app_->Root();
    // gbak 4.0 finds its messages there.
    tolvan::platform::SetEnv("FIREBIRD_MSG", server_->messages);
  }

  void TearDown() override {
    app_.reset();
    tolvan::platform::SetEnv("FIREBIRD_MSG", "");
  }

  // A path in the server's data folder, removed after the test.
  std::string ServerFile(const std::string& name) {
    return server_files_.Take(server_->data, name);
  }

  std::string NewDatabase(const std::string& name) {
    const std::string key = server_->Key(ServerFile(name));
    vesk::firebird::CreateDatabase(key, server_->user, server_->password);
    return key;
  }

  // The application folder of an operator who upgraded the server and not the tools: this
  // machine's gbak 3.0 in place, the client library of 4.0, and, when asked, the real gbak 4.0
  // kept beside them under its version's name.
  void LayOutUpgradedFolder(bool keep_gbak4) {
    fs::create_symlink("/usr/bin/gbak", folder_ / "bin" / "gbak");
    fs::copy_file(fs::path(server_->tools) / "fb4" / "libfbclient.so.2",
                  folder_ / "bin" / "libfbclient.so.2");
    if (keep_gbak4) {
      fs::copy_file(fs::path(server_->tools) / "fb4" / "gbak",
                    folder_ / "bin" / ("gbak_" + server_->version));
    }
  }

  template <typename F>
  F Export(const char* name) {
    return plugin_->Function<F>(name);
  }

  Lines Users(TVeskDMConexao* dm) {
    Lines users;
    Export<tolvan::PegarUserFn>("PegarUser")(dm, &users);
    return users;
  }

  std::optional<Firebird4Server> server_;
  std::unique_ptr<tolvan::testing::LinkedPlugin> plugin_;
  fs::path folder_;
  tolvan::test::ServerFiles server_files_{"v"};
  std::unique_ptr<tolvan::test::TestAppFolder> app_;
  tolvan::test::DialogRecorder dialogs_;
  tolvan::test::PlainMessageRecorder boxes_;
  tolvan::test::LogRecorder log_;
};

TEST_F(Firebird4, VersaoSessionsAndDatabasesOfTheServer) {
  const std::string key = NewDatabase("reports.fdb");
  Database db(key, server_->user, server_->password);
  db.connection.Open();

  const std::string version = Export<tolvan::VersaoFn>("Versao")(&db.dm);
  EXPECT_THAT(version, AllOf(HasSubstr("V4.0.5"), EndsWith(" ODS 13.0"))) << version;

  Lines sessions;
  vesk::SetDefaultConnection(&db.connection);
  Export<tolvan::PegarUsuariosFn>("PegarUsuarios")(&db.dm, &sessions);
  vesk::SetDefaultConnection(nullptr);
  EXPECT_THAT(sessions, Contains(HasSubstr("127.0.0.1")));

  Lines names;
  int32_t attachments = -1;
  int32_t databases = -1;
  Export<tolvan::PegarDataBasesFn>("PegarDataBases")(&db.dm, &names, attachments, databases);
  // The database's path on the server, after the key's host/port.
  EXPECT_THAT(names, Contains(key.substr(key.find(':') + 1)));
  EXPECT_GE(attachments, 1);
}

TEST_F(Firebird4, UserNamesOfUpTo63CharactersWithAccents) {
  const std::string key = NewDatabase("users.fdb");
  Database sysdba(key, server_->user, server_->password);
  // 41 characters, 44 bytes: past Firebird 3's 31 bytes, within Firebird 4's 63 characters.
  const std::string user = "joão_conceição_d_ávila_da_silva_pereira_x";
  ASSERT_GT(user.size(), 31u);
  auto del = [&] { Export<tolvan::DeleteUserFn>("DeleteUser")(&sysdba.dm, user); };
  try {
    del();  // left by an interrupted run
  } catch (const std::exception&) {
  }

  // 32 characters in each of the three names, accented ones included.
  const std::string first = "Conceição Aparecida dos Santos é";
  Export<tolvan::AddUserFn>("AddUser")(&sysdba.dm, user, "S3nh@ção D'x", "", first, "Ñandú",
                                       "D'Ávila");
  const std::string listed = "JOãO_CONCEIçãO_D_áVILA_DA_SILVA_PEREIRA_X";
  EXPECT_THAT(Users(&sysdba.dm), Contains(listed + ";" + first + ";Ñandú;D'Ávila"));
  {
    Database login(key, user, "S3nh@ção D'x");
    EXPECT_NO_THROW(login.connection.Open());
  }
  Export<tolvan::ModifyUserFn>("ModifyUser")(&sysdba.dm, user, "", "", "Güell", "", "");
  EXPECT_THAT(Users(&sysdba.dm), Contains(StartsWith(listed + ";Güell;")));
  del();
  EXPECT_THAT(Users(&sysdba.dm), Not(Contains(StartsWith(listed + ";"))));

  // Past the server's limits the text says which, before the server is asked.
  const std::string too_long(64, 'u');
  EXPECT_EQ(tolvan::test::FailureOf([&] {
              Export<tolvan::AddUserFn>("AddUser")(&sysdba.dm, too_long, "x", "", "", "", "");
            }),
            "AddUser: AUserName passa de 63 caracteres");
  EXPECT_EQ(tolvan::test::FailureOf([&] {
              Export<tolvan::ModifyUserFn>("ModifyUser")(&sysdba.dm, "u", "", "",
                                                         std::string(33, 'n'), "", "");
            }),
            "ModifyUser: AFirstName passa de 32 caracteres");

  // Firebird 3 keeps its own limit, in bytes.
  if (const auto fb3 = tolvan::test::FindFirebirdServer()) {
    Database old(fb3->Key(fb3->data + "/none.fdb"), fb3->user, fb3->password);
    EXPECT_EQ(tolvan::test::FailureOf([&] {
                Export<tolvan::AddUserFn>("AddUser")(&old.dm, user, "x", "", "", "", "");
              }),
              "AddUser: AUserName passa de 31 bytes (uma letra acentuada ocupa dois)");
  }
}

TEST_F(Firebird4, CriarDataBaseDeclaresTheFunctionsAndNotesThatTheServerWillNotRunThem) {
  const std::string path = ServerFile("criada.fdb");
  Export<tolvan::CriarDataBaseFDFn>("CriarDataBaseFD")(server_->host, std::stoi(server_->port),
                                                       path, server_->user, server_->password);

  Database created(server_->Key(path), server_->user, server_->password);
  EXPECT_THAT(created.Select("select trim(rdb$function_name) from rdb$functions"),
              AllOf(Contains("STRLEN"), Contains("ADD_MONTHS"), Contains("SDOW")));
  EXPECT_THAT(dialogs_.Alerts(), IsEmpty());
  EXPECT_THAT(log_.Entries(), IsEmpty()) << "a log entry of the creation reads as its failure";
  Lines lines;
  for (const std::string& note : dialogs_.Notes()) {
    // (A build without the FreeAdhocUDF script notes that as well.)
    if (note.find("(UDF)") != std::string::npos) {
      lines.push_back(note);
    }
  }
  ASSERT_EQ(lines.size(), 1u) << ::testing::PrintToString(lines);
  EXPECT_THAT(lines[0], AllOf(StartsWith("As funções externas (UDF) foram declaradas no banco " +
                                         server_->host + "/" + server_->port + ":" + path +
                                         ", mas o servidor não as executa: "),
                              HasSubstr("UdfAccess = Restrict UDF")));
}

TEST_F(Firebird4, TheKeptGbak4IsSwappedInAndBacksUpAndRestoresTheNewTypes) {
  LayOutUpgradedFolder(true);
  const std::string key = NewDatabase("tipos.fdb");
  Lines rows;
  {
    Database db(key, server_->user, server_->password);
    for (const char* sql : kNewTypes) {
      db.connection.ExecuteDirect(sql);
    }
    rows = db.Select(kNewTypesRows);
  }
  ASSERT_EQ(rows.size(), 2u);
  const std::string file = (folder_ / "tipos.fbk").string();
  const std::string target = ServerFile("tipos_restaurado.fdb");

  Export<tolvan::BackupFn>("Backup")(key, server_->user, server_->password, file, false, nullptr,
                                     false, true, server_->version, "libfbclient.so.2", false);

  // gbak 4.0 in place, 3.0's kept under its version's name.
  EXPECT_EQ(ReadAll(folder_ / "bin" / "gbak"), ReadAll(fs::path(server_->tools) / "fb4" / "gbak"));
  EXPECT_TRUE(fs::exists(folder_ / "bin" / "gbak_3.0.11.33637"));
  // The swapped-in gbak, the expected version and the folder's client library agree: no warning.
  EXPECT_THAT(boxes_.Texts(), IsEmpty());
  EXPECT_THAT(dialogs_.Texts(), IsEmpty());
  ASSERT_TRUE(fs::exists(file));

  Export<tolvan::RestoreFn>("Restore")(server_->Key(target), server_->user, server_->password, file,
                                       true, nullptr, false, true, server_->version,
                                       "libfbclient.so.2", false);
  Database restored(server_->Key(target), server_->user, server_->password);
  EXPECT_EQ(restored.Select(kNewTypesRows), rows);

  // Through the host's connection too.
  Database host(key, server_->user, server_->password);
  host.dm.ExpectedClientVersion = server_->version;
  host.connection.Open();
  const std::string conn_file = (folder_ / "tipos_conn.fbk").string();
  const std::string conn_target = ServerFile("tipos_conn.fdb");
  Export<tolvan::BackupConnFn>("BackupConn")(&host.dm, conn_file, false, nullptr, false, false);
  Export<tolvan::RestoreConnFn>("RestoreConn")(&host.dm, server_->password, conn_file, conn_target,
                                               true, nullptr, false, false);
  EXPECT_TRUE(host.connection.Connected());
  EXPECT_THAT(boxes_.Texts(), IsEmpty());
  EXPECT_THAT(dialogs_.Texts(), IsEmpty());
  Database conn_restored(server_->Key(conn_target), server_->user, server_->password);
  EXPECT_EQ(conn_restored.Select(kNewTypesRows), rows);
}

// CriarDataBase through the host's connection and the empty copy, with gbak 4.0 in place.
TEST_F(Firebird4, CriarDataBaseAndCriarDataBaseVaziaThroughTheHostsConnection) {
  fs::copy_file(fs::path(server_->tools) / "fb4" / "gbak", folder_ / "bin" / "gbak");
  const std::string key = NewDatabase("origem.fdb");
  Database host(key, server_->user, server_->password);
  host.dm.ExpectedClientVersion = server_->version;
  for (const char* sql : kNewTypes) {
    host.connection.ExecuteDirect(sql);
  }

  const std::string created = ServerFile("pelo_host.fdb");
  Export<tolvan::CriarDataBaseFn>("CriarDataBase")(&host.dm, server_->Key(created), "", "");
  EXPECT_THAT(dialogs_.Alerts(), IsEmpty());
  Database made(server_->Key(created), server_->user, server_->password);
  EXPECT_THAT(made.Select("select trim(rdb$function_name) from rdb$functions"), Contains("STRLEN"));

  // The client library beside gbak only now: the creation's components would load it into this
  // process, which cannot run the root's libraries.
  fs::copy_file(fs::path(server_->tools) / "fb4" / "libfbclient.so.2",
                folder_ / "bin" / "libfbclient.so.2");
  const std::string empty = ServerFile("vazia.fdb");
  server_files_.Add(empty.substr(0, empty.size() - 4) + ".fbk");
  Export<tolvan::CriarDataBaseVaziaFn>("CriarDataBaseVazia")(&host.dm, empty, "", "", false);
  EXPECT_TRUE(host.connection.Connected());
  Database copy(server_->Key(empty), server_->user, server_->password);
  EXPECT_EQ(copy.Select("select count(*) from medidas"), Lines{"0"});
  EXPECT_EQ(copy.Select("select trim(rdb$field_name) from rdb$relation_fields where "
                        "rdb$relation_name = 'MEDIDAS' order by rdb$field_position"),
            (Lines{"ID", "GRANDE", "PRECISO", "HORA", "NOME"}));
  EXPECT_THAT(boxes_.Texts(), IsEmpty());
  // The creation's notes above are information; nothing may warn or fail.
  EXPECT_THAT(dialogs_.Alerts(), IsEmpty());
}

TEST_F(Firebird4, WithoutTheKeptGbak4TheWarningNamesTheVersionsAndGbaksOwnTextEndsTheRun) {
  LayOutUpgradedFolder(false);
  const std::string key = NewDatabase("sem_copia.fdb");
  {
    Database db(key, server_->user, server_->password);
    for (const char* sql : kNewTypes) {
      db.connection.ExecuteDirect(sql);
    }
  }
  const std::string file = (folder_ / "sem_copia.fbk").string();
  const std::string before = "backup anterior";
  std::ofstream(file, std::ios::binary) << before;

  const std::string message = tolvan::test::FailureOf([&] {
    Export<tolvan::BackupFn>("Backup")(key, server_->user, server_->password, file, false, nullptr,
                                       false, true, server_->version, "libfbclient.so.2", false);
  });
  EXPECT_THAT(message, AllOf(StartsWith("Backup:"), HasSubstr("data type 26")));
  EXPECT_THAT(boxes_.Texts(),
              Contains("gbak 3.0.11.33637 diferente do fbclient " + server_->version));
  EXPECT_THAT(dialogs_.Texts(),
              Contains("A versão do arquivo libfbclient.so.2 é " + server_->version +
                       "\r\n e esperava-se 3.0.11.33637.\r\n\r\nFavor copiar a versão correta "
                       "para o diretório do aplicativo."));
  // Nothing lost: the older backup and the database are as they were.
  EXPECT_EQ(ReadAll(file), before);
  Database db(key, server_->user, server_->password);
  EXPECT_EQ(db.Select("select count(*) from medidas"), Lines{"2"});
}

// Two builds of one major and minor version: with none kept of the expected build, the kept
// copy of the other stands in for it, and the mismatch left is reported.
TEST_F(Firebird4, AnotherBuildOfTheSameMajorAndMinorStandsInForTheExpectedOne) {
  const auto fb3 = tolvan::test::FindFirebirdServer();
  const fs::path gbak3012 = fs::path(server_->tools) / "fb3" / "gbak";
  if (!fb3 || !fs::exists(gbak3012)) {
    GTEST_SKIP() << "no Firebird 3 server or no gbak 3.0.12 staged";
  }
  // gbak 4.0 in place, this machine's 3.0.11 client beside it, 3.0.12 kept.
  fs::copy_file(fs::path(server_->tools) / "fb4" / "gbak", folder_ / "bin" / "gbak");
  fs::create_symlink("/usr/lib/x86_64-linux-gnu/libfbclient.so.2",
                     folder_ / "bin" / "libfbclient.so.2");
  fs::copy_file(gbak3012, folder_ / "bin" / "gbak_3.0.12.33787");
  const std::string path = fb3->data + "/v3b_" + std::to_string(getpid()) + ".fdb";
  server_files_.Add(path);
  vesk::firebird::CreateDatabase(fb3->Key(path), fb3->user, fb3->password);
  {
    Database db(fb3->Key(path), fb3->user, fb3->password);
    db.connection.ExecuteDirect("create table t (nome varchar(10))");
    db.connection.ExecuteDirect("insert into t values ('Célia')");
  }
  const std::string file = (folder_ / "v3b.fbk").string();
  Export<tolvan::BackupFn>("Backup")(fb3->Key(path), fb3->user, fb3->password, file, false, nullptr,
                                     false, true, "3.0.11.33637", "libfbclient.so.2", false);

  EXPECT_EQ(ReadAll(folder_ / "bin" / "gbak"), ReadAll(gbak3012));
  EXPECT_TRUE(fs::exists(folder_ / "bin" / ("gbak_" + server_->version)));
  EXPECT_THAT(boxes_.Texts(), ElementsAre("gbak 3.0.12.33787 diferente do fbclient 3.0.11.33637"));
  EXPECT_THAT(dialogs_.Texts(),
              ElementsAre("A versão do arquivo libfbclient.so.2 é 3.0.11.33637\r\n e esperava-se "
                          "3.0.12.33787.\r\n\r\nFavor copiar a versão correta para o diretório "
                          "do aplicativo."));
  const std::string target = fb3->data + "/v3b_r_" + std::to_string(getpid()) + ".fdb";
  server_files_.Add(target);
  Export<tolvan::RestoreFn>("Restore")(fb3->Key(target), fb3->user, fb3->password, file, true,
                                       nullptr, false, true, "", "libfbclient.so.2", false);
  Database restored(fb3->Key(target), fb3->user, fb3->password);
  EXPECT_EQ(restored.Select("select nome from t"), Lines{"Célia"});
}

// The upgrade path: a backup made by Firebird 3's gbak from a Firebird 3 server, restored on
// Firebird 4 by its own gbak.
TEST_F(Firebird4, AFirebird3BackupRestoresOnFirebird4) {
  const auto fb3 = tolvan::test::FindFirebirdServer();
  if (!fb3) {
    GTEST_SKIP() << tolvan::test::NoFirebirdServerMessage();
  }
  fs::create_symlink("/usr/bin/gbak", folder_ / "bin" / "gbak");
  const std::string old_path = fb3->data + "/v3_" + std::to_string(getpid()) + ".fdb";
  server_files_.Add(old_path);
  vesk::firebird::CreateDatabase(fb3->Key(old_path), fb3->user, fb3->password);
  Lines rows;
  {
    Database old(fb3->Key(old_path), fb3->user, fb3->password);
    old.connection.ExecuteDirect(
        "create table clientes (id integer primary key, nome varchar(40), saldo numeric(12,2))");
    old.connection.ExecuteDirect("insert into clientes values (1, 'Ana', 10.50)");
    old.connection.ExecuteDirect("insert into clientes values (2, 'Célia', -3.25)");
    rows = old.Select("select id || ' ' || nome || ' ' || saldo from clientes order by id");
  }
  const std::string file = (folder_ / "v3.fbk").string();
  Export<tolvan::BackupFn>("Backup")(fb3->Key(old_path), fb3->user, fb3->password, file, false,
                                     nullptr, false, true, "", "", false);

  // The operator's folder after the upgrade: gbak 4.0 in place.
  fs::remove(folder_ / "bin" / "gbak");
  fs::copy_file(fs::path(server_->tools) / "fb4" / "gbak", folder_ / "bin" / "gbak");
  const std::string target = ServerFile("v3_no_4.fdb");
  Export<tolvan::RestoreFn>("Restore")(server_->Key(target), server_->user, server_->password, file,
                                       true, nullptr, false, true, "", "", false);
  Database restored(server_->Key(target), server_->user, server_->password);
  EXPECT_EQ(restored.Select("select id || ' ' || nome || ' ' || saldo from clientes order by id"),
            rows);
  EXPECT_EQ(restored.Select("select mon$ods_major from mon$database"), Lines{"13"});
}

}  // namespace
