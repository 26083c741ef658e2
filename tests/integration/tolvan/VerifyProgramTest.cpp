// tolvan's --verify with the real gbak and pg_dump/pg_restore, run as an operator runs it from an
// application folder of its own (so that a wrapper can stand in for a tool): a good backup is
// proven and takes its name; a cut one, or one whose rows differ, is kept beside the earlier
// good backup, which stays byte for byte; no scratch database outlives the run, interrupted or
// not.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "FirebirdTestServer.h"
#include "Plugin.h"
#include "RunningTolvan.h"
#include "StatusText.h"
#include "ci/SkipOrFail.h"
#include "ci/TestNames.h"
#include "platform/Environment.h"
#include "platform/Paths.h"
#include "vesk/VeskPack5.h"
#include "vesk/host/Firebird.h"

namespace {

using tolvan_test::LastLine;
using tolvan_test::Outcome;

std::string Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteScript(const fs::path& path, const std::string& text) {
  std::ofstream(path) << text;
  fs::permissions(path, fs::perms::owner_all);
}

using tolvan_test::DescendantRuns;

std::set<std::string> Entries(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

mode_t ModeOf(const fs::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 ? info.st_mode : 0;
}

// True once the process has ended (reaped or not).
bool Ended(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  return !std::getline(stat, line) || line.find(") Z") != std::string::npos;
}

class VerifyProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!tolvan_test::BesideTest({"tolvan", "gbak"})) {
      GTEST_SKIP() << "no tolvan and gbak beside the test (scripts/layout-appdir)";
    }
    dir_ = tolvan_test::FreshFolder("tolvan-verify", {"lock", "tmp", "bk"});
    env_ = {"XDG_DATA_HOME=" + (dir_ / "data").string(),
            "FIREBIRD_LOCK=" + (dir_ / "lock").string(), "TMPDIR=" + (dir_ / "tmp").string()};
    tolvan::platform::SetEnv("FIREBIRD_LOCK", (dir_ / "lock").string());
    // The application folder: tolvan copied (it finds its plug-ins and tools beside itself), the
    // rest linked, the tools replaceable by wrappers.
    app_ = dir_ / "app";
    tolvan_test::LayOutApplicationFolder(tolvan::platform::ExecutableDirectory(), app_);
  }
  void TearDown() override {
    if (!dir_.empty()) {
      fs::remove_all(dir_);
    }
  }

  Outcome Tolvan(std::vector<std::string> args, std::vector<std::string> env = {},
                 const std::function<bool(pid_t)>& watch = {},
                 std::optional<unsigned short> columns = std::nullopt) {
    args.insert(args.begin(), (app_ / "tolvan").string());
    env.insert(env.end(), env_.begin(), env_.end());
    return tolvan_test::RunWatching(args, env, watch, columns);
  }

  // gbak of the application folder replaced by a script around the real one.
  void WrapGbak(const std::string& body) {
    fs::remove(app_ / "gbak");
    WriteScript(app_ / "gbak", "#!/bin/bash\nset -o pipefail\n" + body);
  }

  // gbak of the application folder cuts every backup it writes to 100 bytes, which no restore
  // takes.
  void WrapGbakCuttingItsBackups() {
    WrapGbak(
        "/usr/bin/gbak \"$@\"; rc=$?\n"
        "if [[ \" $* \" == *\" -b \"* ]]; then for a in \"$@\"; do [[ $a == *.tmp ]] && "
        "f=$a; done\n  truncate -s 100 \"$f\"; fi\nexit $rc\n");
  }

  bool ScratchLeft() const { return !fs::is_empty(dir_ / "tmp"); }

  // An embedded database (or one of `server`) with tables, an index, constraints, a view, a
  // procedure, a trigger, generators and accented text; `rows` rows in its big table, and
  // `more_tables` empty tables.
  std::string MakeFirebirdDatabase(int rows, int more_tables = 0,
                                   const tolvan::test::FirebirdServer* server = nullptr) const {
    const std::string path =
        server ? server->DataKey(ServerFileName()) : (dir_ / "loja.fdb").string();
    const std::string user = server ? server->user : "SYSDBA";
    const std::string password = server ? server->password : "";
    vesk::firebird::CreateDatabase(path, user, password);
    TVeskSQLConnection c;
    c.DriverName = vesk::firebird::kDriverName;
    c.Params = {"Database=" + path, "USER_NAME=" + user, "PASSWORD=" + password};
    c.Open();
    for (const char* sql : {
             "create table clientes (id integer not null primary key, nome varchar(50) "
             "character set utf8 unique)",
             "create table pedidos (id integer not null primary key, cli integer references "
             "clientes(id), valor numeric(10,2) check (valor >= 0))",
             "create table vazia (x integer)",
             "create index ix_valor on pedidos (valor)",
             "create view v_ped as select p.id, c.nome from pedidos p join clientes c on c.id = "
             "p.cli",
             "create generator g_ped",
             "create sequence s_cli",
             "create procedure p_total returns (t numeric(18,2)) as begin select sum(valor) from "
             "pedidos into :t; suspend; end",
             "create trigger tr_ped for pedidos before insert as begin if (new.id is null) then "
             "new.id = gen_id(g_ped, 1); end",
             "insert into clientes values (1, 'João')",
             "insert into clientes values (2, 'D''Ávila')",
         }) {
      c.ExecuteDirect(sql);
    }
    c.ExecuteDirect("execute block as declare i integer = 0; begin while (i < " +
                    std::to_string(rows) +
                    ") do begin insert into pedidos (cli, valor) values (1 + mod(:i, 2), :i); i "
                    "= i + 1; end end");
    if (more_tables > 0) {
      c.ExecuteDirect("execute block as declare i integer = 0; begin while (i < " +
                      std::to_string(more_tables) +
                      ") do begin execute statement 'create table extra_' || i || ' (x integer)'; "
                      "i = i + 1; end end");
    }
    c.Close();
    return path;
  }

  // The name of this test's database in a server's data folder.
  static std::string ServerFileName() { return "verify_" + std::to_string(getpid()) + ".fdb"; }

  std::vector<std::string> FirebirdBackup(const std::string& db, const std::string& file) const {
    return {"firebird",   "Backup", "--database", db,   "--user", "SYSDBA",
            "--password", "x",      "--file",     file, "--yes"};
  }
  // A backup of db made to file without verification, as the good one a later run must keep; what
  // it wrote (nothing when the run failed).
  std::string GoodBackup(const std::string& db, const std::string& file) {
    const Outcome r = Tolvan(FirebirdBackup(db, file));
    EXPECT_EQ(r.status, 0) << r.err;
    return r.status == 0 ? Bytes(file) : std::string();
  }
  std::vector<std::string> VerifiedFirebirdBackup(const std::string& db,
                                                  const std::string& file) const {
    std::vector<std::string> args = FirebirdBackup(db, file);
    args.push_back("--verify");
    return args;
  }

  fs::path dir_;
  fs::path app_;
  std::vector<std::string> env_;
};

TEST_F(VerifyProgram, FirebirdBackupIsProvenWithItsTablesAndRows) {
  const std::string db = MakeFirebirdDatabase(1000);
  const std::string file = (dir_ / "bk" / "cópia da loja.fbk").string();
  std::vector<std::string> args = VerifiedFirebirdBackup(db, file);
  Outcome r = Tolvan(args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(LastLine(r.err), MatchesRegex("Backup verificado: " + file +
                                            ", 3 tabelas, 1.002 linhas, restaurado em "
                                            "[0-9]+,[0-9] s"));
  EXPECT_THAT(r.err, HasSubstr("Backup concluído: " + file));
  EXPECT_TRUE(fs::is_regular_file(file));
  EXPECT_FALSE(fs::exists(file + ".nao-verificado"));
  EXPECT_FALSE(ScratchLeft());
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "bk"), fs::directory_iterator()), 1);

  // BackupConn through the connection, the same proof.
  r = Tolvan({"firebird", "BackupConn", "--database", db, "--user", "SYSDBA", "--password", "x",
              "--file", file, "--yes", "--verify"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(LastLine(r.err), HasSubstr("3 tabelas, 1.002 linhas"));

  // For scripts: the same proof, and of gbak's lines nothing unless the run fails.
  args.push_back("--quiet");
  r = Tolvan(args);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.err, Not(HasSubstr("gbak:")));
  EXPECT_THAT(LastLine(r.err), HasSubstr("3 tabelas, 1.002 linhas"));

  // What --verify cannot do is refused before anything runs.
  r = Tolvan({"firebird", "Backup", "--database", "servidor:" + db, "--user", "SYSDBA",
              "--password", "x", "--file", file, "--service", "--verify", "--yes"});
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, HasSubstr("--service"));
}

TEST_F(VerifyProgram, ProgressShowsTheVerificationWithinTheTerminalWidth) {
  const std::string db = MakeFirebirdDatabase(20000);
  const std::string file = (dir_ / "bk" / "loja.fbk").string();
  std::vector<std::string> args = FirebirdBackup(db, file);
  args.insert(args.end(), {"--verify", "--progress"});
  const Outcome r = Tolvan(args, {}, {}, 40);
  ASSERT_EQ(r.status, 0) << r.err;
  // The status line, redraw by redraw, up to the result line.
  const std::regex starts("\r\x1b\\[K|\r\n|\r");
  bool restoring = false;
  bool comparing = false;
  for (std::sregex_token_iterator it(r.err.begin(), r.err.end(), starts, -1), end; it != end;
       ++it) {
    const std::string piece = *it;
    if (piece.rfind("Backup concluído: ", 0) == 0) {
      break;
    }
    EXPECT_LT(tolvan::cli::DisplayWidth(piece), 40u) << piece;
    restoring = restoring || piece.find("verificando, re") != std::string::npos;
    comparing = comparing || piece.find("verificando, co") != std::string::npos;
  }
  EXPECT_TRUE(restoring) << r.err;
  EXPECT_TRUE(comparing) << r.err;
  EXPECT_THAT(r.err, HasSubstr("Backup verificado:"));
}

TEST_F(VerifyProgram, FirebirdBackupCutAtHalfIsKeptBesideTheEarlierGoodOne) {
  const std::string db = MakeFirebirdDatabase(2000);
  const std::string file = (dir_ / "bk" / "loja.fbk").string();
  const std::string good = GoodBackup(db, file);
  ASSERT_FALSE(good.empty());

  // The real gbak, then its backup cut at half, as a disk or a copy that failed would leave it.
  WrapGbak(
      "/usr/bin/gbak \"$@\"; rc=$?\n"
      "if [[ \" $* \" == *\" -b \"* ]]; then for a in \"$@\"; do f=$a; done\n"
      "  for a in \"$@\"; do [[ $a == *.tmp ]] && f=$a; done\n"
      "  truncate -s $(( $(stat -c %s \"$f\") / 2 )) \"$f\"; fi\nexit $rc\n");
  const Outcome r = Tolvan(VerifiedFirebirdBackup(db, file));
  EXPECT_EQ(r.status, 1) << r.err;
  // gbak's own error line first, as in every failure block.
  EXPECT_THAT(r.err, HasSubstr("erro:\n  ERROR: Backup incomplete\n  a verificação do backup "
                               "falhou:\n  a restauração falhou:\n"));
  EXPECT_THAT(r.err, HasSubstr("o backup anterior, bom, continua em " + file));
  EXPECT_THAT(r.err, HasSubstr("o backup não verificado ficou em " + file + ".nao-verificado"));
  EXPECT_THAT(r.err, Not(HasSubstr("Backup verificado")));
  EXPECT_EQ(Bytes(file), good) << "the earlier good backup stays byte for byte";
  EXPECT_TRUE(fs::is_regular_file(file + ".nao-verificado"));
  EXPECT_FALSE(ScratchLeft());
}

TEST_F(VerifyProgram, FirebirdRowCountThatDiffersFailsWithBothCounts) {
  const std::string db = MakeFirebirdDatabase(10);
  const std::string file = (dir_ / "bk" / "loja.fbk").string();
  // gbak's backup run says CLIENTES has one row more than it wrote.
  WrapGbak(
      "if [[ \" $* \" == *\" -b \"* ]]; then\n"
      "  /usr/bin/gbak \"$@\" 2>&1 | sed 's/^gbak:2 records written/gbak:3 records written/'\n"
      "else exec /usr/bin/gbak \"$@\"; fi\n");
  const Outcome r = Tolvan(VerifiedFirebirdBackup(db, file));
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_THAT(r.err, HasSubstr("tabela CLIENTES: 3 linhas no backup, 2 na cópia restaurada"));
  EXPECT_THAT(r.err, HasSubstr("não havia backup anterior em " + file));
  EXPECT_FALSE(fs::exists(file));
  EXPECT_TRUE(fs::is_regular_file(file + ".nao-verificado"));
  EXPECT_FALSE(ScratchLeft());
}

TEST_F(VerifyProgram, AnInterruptDuringTheVerificationLeavesNoScratchAndExitsWithItsStatus) {
  const std::string db = MakeFirebirdDatabase(200000);
  const std::string file = (dir_ / "bk" / "loja.fbk").string();
  const std::string good = GoodBackup(db, file);
  ASSERT_FALSE(good.empty());
  std::vector<std::string> args = VerifiedFirebirdBackup(db, file);
  for (const auto& [signal_number, name] : {std::pair{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}}) {
    SCOPED_TRACE(name);
    // The moment the restore of the verification runs.
    const Outcome r = Tolvan(args, {}, [signal_number = signal_number](pid_t tolvan) {
      if (!DescendantRuns(tolvan, "gbak", "-c")) {
        return false;
      }
      kill(tolvan, signal_number);
      return true;
    });
    EXPECT_EQ(r.status, 128 + signal_number) << r.err;
    EXPECT_THAT(LastLine(r.err),
                MatchesRegex("Backup interrompido \\(" + std::string(name) + "\\) depois de .*"));
    EXPECT_EQ(Bytes(file), good);
    EXPECT_TRUE(fs::is_regular_file(file + ".nao-verificado"));
    EXPECT_THAT(r.err, HasSubstr(file + ".nao-verificado\n"));
    EXPECT_FALSE(ScratchLeft());
  }
}

TEST_F(VerifyProgram, WhatIsNotAFileAtTheBackupPathIsRefusedBeforeAnythingRunsAndStaysAsItWas) {
  struct Node {
    const char* what;
    const char* name;
    std::function<int(const char*)> make;
    mode_t type;
  };
  const Node nodes[] = {
      // A device of the test's own folder stands for /dev/null.
      {"a device", "null", [](const char* p) { return mknod(p, S_IFCHR | 0666, makedev(1, 3)); },
       S_IFCHR},
      {"a named pipe nobody reads", "saida.fbk", [](const char* p) { return mkfifo(p, 0600); },
       S_IFIFO},
      {"a folder", "pasta.fbk", [](const char* p) { return mkdir(p, 0755); }, S_IFDIR},
  };
  // A database gbak would back up, were the path not refused.
  const std::string db = MakeFirebirdDatabase(10);
  for (const Node& node : nodes) {
    SCOPED_TRACE(node.what);
    const fs::path path = dir_ / "bk" / node.name;
    if (node.make(path.c_str()) != 0) {
      ASSERT_EQ(errno, EPERM) << "mknod needs root";
      continue;
    }
    const std::set<std::string> before = Entries(dir_ / "bk");
    std::vector<std::string> verify = VerifiedFirebirdBackup(db, path.string());
    for (const auto& args :
         {FirebirdBackup(db, path.string()), verify,
          std::vector<std::string>{"postgresql", "CriarBackup", "--database", "127.0.0.1/1:nenhum",
                                   "--user", "u", "--file", path.string(), "--yes"}}) {
      SCOPED_TRACE(args[0] + " " + args[1] + " " + args.back());
      const auto started = std::chrono::steady_clock::now();
      const Outcome r = Tolvan(args, {"TOLVAN_PASSWORD=x"});
      EXPECT_EQ(r.status, 1) << r.err;
      EXPECT_THAT(r.err, HasSubstr(path.string()));
      EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
      EXPECT_EQ(ModeOf(path) & S_IFMT, node.type);
      EXPECT_EQ(Entries(dir_ / "bk"), before);
      EXPECT_FALSE(ScratchLeft());
    }
  }
}

TEST_F(VerifyProgram, WhatAKilledVerificationLeftGoesWithTheNextBackup) {
  // On a server, so that a gbak killed while it backs up leaves no embedded engine's locks behind.
  const auto server = tolvan::test::FindFirebirdServer();
  REQUIRE_SERVER(server);
  // Big enough to catch each step, with tables enough that the comparison takes a while.
  const std::string db = MakeFirebirdDatabase(100000, 150, &*server);
  const struct Removed {
    std::string path;
    ~Removed() { fs::remove(path); }
  } removed{server->data + "/" + ServerFileName()};
  const std::string file = (dir_ / "bk" / "loja.fbk").string();
  const std::vector<std::string> plain = {"firebird",   "Backup", "--database", db,     "--user",
                                          server->user, "--file", file,         "--yes"};
  const std::vector<std::string> password = {"TOLVAN_PASSWORD=" + server->password};
  ASSERT_EQ(Tolvan(plain, password).status, 0);
  std::vector<std::string> verify = plain;
  verify.push_back("--verify");
  const auto restored_copy_stands = [this] {
    for (const auto& folder : fs::directory_iterator(dir_ / "tmp")) {
      if (fs::exists(folder.path() / "copia.fdb")) {
        return true;
      }
    }
    return false;
  };
  struct Step {
    const char* name;
    std::function<bool(pid_t)> reached;
  };
  const Step steps[] = {
      {"backup", [](pid_t tolvan) { return DescendantRuns(tolvan, "gbak", "-b"); }},
      {"restore", [](pid_t tolvan) { return DescendantRuns(tolvan, "gbak", "-c"); }},
      {"comparison",
       [&](pid_t tolvan) {
         return restored_copy_stands() && tolvan_test::ChildrenOf(tolvan).empty();
       }},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    const std::string good = Bytes(file);
    bool killed = false;
    Outcome r = Tolvan(verify, password, [&](pid_t tolvan) {
      if (Ended(tolvan)) {
        return true;
      }
      if (!step.reached(tolvan)) {
        return false;
      }
      kill(tolvan, SIGKILL);
      killed = true;
      return true;
    });
    ASSERT_TRUE(killed) << "the run ended before the step: " << r.err;
    EXPECT_EQ(Bytes(file), good) << "the earlier good backup stays";
    std::set<std::string> left = Entries(dir_ / "bk");
    left.erase("loja.fbk");
    left.erase("loja.fbk.~trava");  // the lock of the name, which no process holds now
    ASSERT_EQ(left.size(), 1u) << "the run's own folder beside the backup";
    EXPECT_EQ(ModeOf(dir_ / "bk" / *left.begin()) & 0777, 0700u);

    r = Tolvan(plain, password);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Entries(dir_ / "bk"), std::set<std::string>{"loja.fbk"});
    EXPECT_FALSE(ScratchLeft());
  }
}

TEST_F(VerifyProgram, ABackupNameAsLongAsTheFileSystemAllowsIsBackedUpVerifiedAndKept) {
  const std::string db = MakeFirebirdDatabase(10);
  // 245 bytes, two-byte letters where the names beside it are cut.
  std::string name;
  for (int i = 0; i < 120; ++i) {
    name += "ó";
  }
  name += "x.fbk";
  ASSERT_EQ(name.size(), 245u);
  const std::string file = (dir_ / "bk" / name).string();
  Outcome r = Tolvan(FirebirdBackup(db, file));
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> verify = VerifiedFirebirdBackup(db, file);
  r = Tolvan(verify);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(LastLine(r.err), HasSubstr("Backup verificado: " + file));
  EXPECT_EQ(Entries(dir_ / "bk"), std::set<std::string>{name});

  // One that fails its verification is kept beside it under a name within the limit.
  WrapGbakCuttingItsBackups();
  r = Tolvan(verify);
  EXPECT_EQ(r.status, 1) << r.err;
  std::set<std::string> names = Entries(dir_ / "bk");
  names.erase(name);
  ASSERT_EQ(names.size(), 1u);
  const std::string& unverified = *names.begin();
  EXPECT_THAT(unverified, ::testing::EndsWith(".nao-verificado"));
  ASSERT_LE(unverified.size(), 255u);
  // Cut before a whole letter.
  const std::size_t stem = unverified.size() - std::string(".nao-verificado").size();
  EXPECT_EQ(unverified.substr(0, stem), name.substr(0, stem));
  EXPECT_NE(static_cast<unsigned char>(name[stem]) & 0xC0, 0x80);
  EXPECT_THAT(r.err, HasSubstr((dir_ / "bk" / unverified).string()));
  EXPECT_FALSE(ScratchLeft());
}

TEST_F(VerifyProgram, NewBackupsAreTheirOwnersAloneAndOneThatReplacesAFileKeepsItsMode) {
  const mode_t umask_before = umask(022);
  const std::string db = MakeFirebirdDatabase(10);
  const fs::path file = dir_ / "bk" / "loja.fbk";
  ASSERT_EQ(Tolvan(FirebirdBackup(db, file.string())).status, 0);
  EXPECT_EQ(ModeOf(file) & 0777, 0600u) << "a new backup";

  ASSERT_EQ(chmod(file.c_str(), 0640), 0);
  std::vector<std::string> verify = VerifiedFirebirdBackup(db, file.string());
  Outcome r = Tolvan(verify);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ModeOf(file) & 0777, 0640u) << "a proven backup in place of an earlier one";

  WrapGbakCuttingItsBackups();
  r = Tolvan(verify);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(ModeOf(file.string() + ".nao-verificado") & 0777, 0600u) << "a new unverified one";
  umask(umask_before);
}

// The guard put the kept gbak 4.0 in place (the server was upgraded); this machine's embedded
// engine is 3.0's.
TEST_F(VerifyProgram,
       AGbakOfAnotherVersionThanTheEmbeddedEngineFailsTheVerificationSayingWhatToInstall) {
  using tolvan::platform::GetEnv;
  const auto host = GetEnv("TOLVAN_FB4_HOST");
  const auto port = GetEnv("TOLVAN_FB4_PORT");
  const auto user = GetEnv("TOLVAN_FB4_USER");
  const auto password = GetEnv("TOLVAN_FB4_PASSWORD");
  const auto data = GetEnv("TOLVAN_FB4_DATA");
  const auto messages = GetEnv("TOLVAN_FB4_MSG");
  const auto version = GetEnv("TOLVAN_FB4_VERSION");
  const auto tools = GetEnv("TOLVAN_DEBIAN13_TOOLS");
  if (!host || !port || !user || !password || !data || !messages || !version || !tools) {
    TOLVAN_SKIP_OR_FAIL("no Firebird 4 server: source \"$(scripts/debian13-servers start)\"");
  }
  fs::copy_file(fs::path(*tools) / "fb4" / "gbak", app_ / ("gbak_" + *version));
  const std::string path = *data + "/verify_" + std::to_string(getpid()) + ".fdb";
  const std::string key = *host + "/" + *port + ":" + path;
  vesk::firebird::CreateDatabase(key, *user, *password);
  const std::string file = (dir_ / "bk" / "loja.fbk").string();
  std::ofstream(file, std::ios::binary) << "backup anterior";

  const Outcome r = Tolvan({"firebird", "Backup", "--database", key, "--user", *user, "--file",
                            file, "--expected-client-version", *version, "--verify", "--yes"},
                           {"FIREBIRD_MSG=" + *messages, "TOLVAN_PASSWORD=" + *password});
  fs::remove(path);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_THAT(r.err, HasSubstr("gbak em uso é da versão " + *version));
  EXPECT_THAT(r.err, HasSubstr("instale nesta máquina o Firebird 4.0"));
  EXPECT_EQ(Bytes(file), "backup anterior");
  EXPECT_TRUE(fs::is_regular_file(file + ".nao-verificado"));
  EXPECT_FALSE(ScratchLeft());
}

}  // namespace
