// tolvan's --verify with the real gbak and pg_dump/pg_restore, run as an operator runs it from an
// application folder of its own (so that a wrapper can stand in for a tool): a good backup is
// proven and takes its name; a cut one, or one whose rows differ, is kept beside the earlier
// good backup, which stays byte for byte; no scratch database outlives the run, interrupted or
// not.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
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
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Plugin.h"
#include "RunningTolvan.h"
#include "StatusText.h"
#include "platform/Environment.h"
#include "platform/Paths.h"
#include "vesk/VeskPack5.h"
#include "vesk/host/Firebird.h"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;
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

class VerifyProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string bin = tolvan::platform::ExecutableDirectory();
    if (!fs::exists(bin + "tolvan") || !fs::exists(bin + "gbak")) {
      GTEST_SKIP() << "no tolvan and gbak beside the test (scripts/layout-appdir)";
    }
    dir_ = fs::temp_directory_path() / ("tolvan-verify-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "lock");
    fs::create_directories(dir_ / "tmp");
    fs::create_directories(dir_ / "bk");
    env_ = {"XDG_DATA_HOME=" + (dir_ / "data").string(),
            "FIREBIRD_LOCK=" + (dir_ / "lock").string(), "TMPDIR=" + (dir_ / "tmp").string()};
    tolvan::platform::SetEnv("FIREBIRD_LOCK", (dir_ / "lock").string());
    // The application folder: tolvan copied (it finds its plug-ins and tools beside itself), the
    // rest linked, the tools replaceable by wrappers.
    app_ = dir_ / "app";
    tolvan_test::LayOutApplicationFolder(bin, app_);
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

  bool ScratchLeft() const { return !fs::is_empty(dir_ / "tmp"); }

  // An embedded database with tables, an index, constraints, a view, a procedure, a trigger,
  // generators and accented text; `rows` rows in its big table.
  std::string MakeFirebirdDatabase(int rows) const {
    const std::string path = (dir_ / "loja.fdb").string();
    vesk::firebird::CreateDatabase(path, "SYSDBA", "");
    TVeskSQLConnection c;
    c.DriverName = vesk::firebird::kDriverName;
    c.Params = {"Database=" + path, "USER_NAME=SYSDBA", "PASSWORD="};
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
    c.Close();
    return path;
  }

  std::vector<std::string> FirebirdBackup(const std::string& db, const std::string& file) const {
    return {"firebird",   "Backup", "--database", db,   "--user", "SYSDBA",
            "--password", "x",      "--file",     file, "--yes"};
  }

  fs::path dir_;
  fs::path app_;
  std::vector<std::string> env_;
};

TEST_F(VerifyProgram, FirebirdBackupIsProvenWithItsTablesAndRows) {
  const std::string db = MakeFirebirdDatabase(1000);
  const std::string file = (dir_ / "bk" / "cópia da loja.fbk").string();
  std::vector<std::string> args = FirebirdBackup(db, file);
  args.push_back("--verify");
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
  EXPECT_THAT(LastLine(r.err), HasSubstr("Backup verificado: "));
}

TEST_F(VerifyProgram, FirebirdBackupCutAtHalfIsKeptBesideTheEarlierGoodOne) {
  const std::string db = MakeFirebirdDatabase(2000);
  const std::string file = (dir_ / "bk" / "loja.fbk").string();
  Outcome r = Tolvan(FirebirdBackup(db, file));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string good = Bytes(file);

  // The real gbak, then its backup cut at half, as a disk or a copy that failed would leave it.
  WrapGbak(
      "/usr/bin/gbak \"$@\"; rc=$?\n"
      "if [[ \" $* \" == *\" -b \"* ]]; then for a in \"$@\"; do f=$a; done\n"
      "  for a in \"$@\"; do [[ $a == *.tmp ]] && f=$a; done\n"
      "  truncate -s $(( $(stat -c %s \"$f\") / 2 )) \"$f\"; fi\nexit $rc\n");
  std::vector<std::string> args = FirebirdBackup(db, file);
  args.push_back("--verify");
  r = Tolvan(args);
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
  std::vector<std::string> args = FirebirdBackup(db, file);
  args.push_back("--verify");
  const Outcome r = Tolvan(args);
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
  Outcome r = Tolvan(FirebirdBackup(db, file));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string good = Bytes(file);
  std::vector<std::string> args = FirebirdBackup(db, file);
  args.push_back("--verify");
  for (const auto& [signal_number, name] : {std::pair{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}}) {
    SCOPED_TRACE(name);
    // The moment the restore of the verification runs.
    r = Tolvan(args, {}, [signal_number = signal_number](pid_t tolvan) {
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
    EXPECT_FALSE(ScratchLeft());
  }
}

}  // namespace
