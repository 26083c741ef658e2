// A nightly job's backups with the real gbak, run from an application folder of the test's own
// (so that a failing fake can stand in for gbak): --keep keeps the newest of tolvan's own dated
// backups and never the last proven one after failed nights, never touches a file it did not
// write, and two runs to one name never write at once.
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "FirebirdTestServer.h"
#include "Rotation.h"
#include "RunningTolvan.h"
#include "ci/TestNames.h"
#include "platform/Environment.h"
#include "platform/Paths.h"
#include "vesk/VeskPack5.h"
#include "vesk/host/Firebird.h"

namespace {

using tolvan_test::Outcome;
using tolvan_test::Tolvan;

class RotationProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string bin = tolvan::platform::ExecutableDirectory();
    if (!fs::exists(bin + "tolvan") || !fs::exists(bin + "gbak")) {
      GTEST_SKIP() << "no tolvan and gbak beside the test (scripts/layout-appdir)";
    }
    dir_ = fs::temp_directory_path() / ("tolvan-rotation-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "lock");
    fs::create_directories(dir_ / "bk");
    env_ = {"XDG_DATA_HOME=" + (dir_ / "data").string(),
            "FIREBIRD_LOCK=" + (dir_ / "lock").string(), "TMPDIR=" + dir_.string()};
    tolvan::platform::SetEnv("FIREBIRD_LOCK", (dir_ / "lock").string());
    app_ = dir_ / "app";
    tolvan_test::LayOutApplicationFolder(bin, app_);
    db_ = (dir_ / "loja.fdb").string();
    vesk::firebird::CreateDatabase(db_, "SYSDBA", "");
    TVeskSQLConnection c;
    c.DriverName = vesk::firebird::kDriverName;
    c.Params = {"Database=" + db_, "USER_NAME=SYSDBA", "PASSWORD="};
    c.Open();
    c.ExecuteDirect("create table clientes (id integer, nome varchar(40))");
    c.ExecuteDirect("insert into clientes values (1, 'João')");
    c.Close();
  }
  void TearDown() override {
    if (!dir_.empty()) {
      fs::remove_all(dir_);
    }
    if (!server_file_.empty()) {
      fs::remove(server_file_);
    }
  }

  Tolvan::Start Backup(std::vector<std::string> more) const {
    std::vector<std::string> args = {
        "firebird", "Backup", "--database", db_,
        "--user",   user_,    "--file",     (dir_ / "bk" / "loja.fbk").string(),
        "--yes"};
    args.insert(args.end(), more.begin(), more.end());
    return Tolvan::Start{args, env_, std::nullopt, false, false, (app_ / "tolvan").string()};
  }

  Outcome Run(std::vector<std::string> more) const {
    Tolvan tolvan(Backup(std::move(more)));
    return tolvan.Finish();
  }

  // The folder's file names, sorted.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_ / "bk")) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // gbak replaced by a script.
  void ReplaceGbak(const std::string& body) const {
    fs::remove(app_ / "gbak");
    std::ofstream(app_ / "gbak") << "#!/bin/bash\n" << body;
    fs::permissions(app_ / "gbak", fs::perms::owner_all);
  }

  fs::path dir_;
  fs::path app_;
  std::string db_;
  std::string user_ = "SYSDBA";
  // A database the test made on the server, removed with the test's folder.
  std::string server_file_;
  std::vector<std::string> env_;
};

TEST_F(RotationProgram, KeepsItsNewestAndTheLastVerifiedAndNothingItDidNotWrite) {
  // Named as tolvan names them, older than any run, but not written by tolvan.
  const std::string foreign = "loja-2020-01-01_0000.fbk";
  std::ofstream(dir_ / "bk" / foreign) << "de outra ferramenta";

  std::vector<std::string> written;
  for (int night = 1; night <= 6; ++night) {
    const Outcome r = Run({"--keep", "3", "--verify", "--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::smatch name;
    ASSERT_TRUE(std::regex_search(r.err, name, std::regex("Backup verificado: .*/(loja-[^,]+)")))
        << r.err;
    written.push_back(name[1]);
    EXPECT_THAT(r.err, HasSubstr(night <= 3 ? "Rotação (--keep 3): nada a remover"
                                            : "Rotação (--keep 3): removido " +
                                                  written[static_cast<std::size_t>(night) - 4]))
        << r.err;
    EXPECT_THAT(r.err, Not(HasSubstr("gbak:")))
        << "--quiet prints the tool's lines on failure only";
  }
  std::vector<std::string> expected = {foreign};
  for (std::size_t i = 3; i < 6; ++i) {
    expected.push_back(written[i]);
    expected.push_back(written[i] + ".tolvan");
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_THAT(Files(), ElementsAreArray(expected));

  // Four nights whose backup fails: nothing is removed, the last proven backup above all.
  ReplaceGbak("echo 'gbak: ERROR:I/O error during \"read\" operation' >&2\nexit 1\n");
  for (int night = 1; night <= 4; ++night) {
    const Outcome r = Run({"--keep", "1", "--verify", "--quiet"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_THAT(r.err, HasSubstr("ERROR:I/O error")) << "held, then printed for the failure";
    EXPECT_THAT(r.err, Not(HasSubstr("Rotação")));
  }
  EXPECT_THAT(Files(), ElementsAreArray(expected));

  // The listing: the newest first, each with its size, its date and whether it was proven.
  Tolvan listing(
      Tolvan::Start{{"firebird", "backups", "--file", (dir_ / "bk" / "loja.fbk").string()},
                    env_,
                    std::nullopt,
                    false,
                    false,
                    (app_ / "tolvan").string()});
  const Outcome l = listing.Finish();
  ASSERT_EQ(l.status, 0) << l.err;
  const std::string size = "[0-9]+(,[0-9])? (KB|bytes)";
  const std::string date = "[0-9]{2}/[0-9]{2}/[0-9]{4} [0-9]{2}:[0-9]{2}";
  EXPECT_THAT(l.out, MatchesRegex(written[5] + " +" + size + "  " + date + "  verificado\n" +
                                  written[4] + " +" + size + "  " + date + "  verificado\n" +
                                  written[3] + " +" + size + "  " + date + "  verificado\n" +
                                  foreign + " +" + size + "  " + date + "  não é do tolvan\n"));
}

TEST_F(RotationProgram, ASecondRunToTheSameNameWaitsOrWithNoWaitExitsWithItsOwnStatus) {
  // A backup slow enough to be caught at work.
  ReplaceGbak("sleep 3\nexec /usr/bin/gbak \"$@\"\n");
  Tolvan first(Backup({}));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!fs::exists(dir_ / "bk" / "loja.fbk.~trava") &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(fs::exists(dir_ / "bk" / "loja.fbk.~trava")) << "the first run never took its lock";

  const Outcome busy = Run({"--no-wait"});
  EXPECT_EQ(busy.status, 75) << busy.err;
  EXPECT_THAT(busy.err, HasSubstr("outra execução está gravando"));
  Tolvan waiting(Backup({"--keep", "2"}));
  const Outcome done = first.Finish();
  const Outcome after = waiting.Finish();
  EXPECT_EQ(done.status, 0) << done.err;
  EXPECT_EQ(after.status, 0) << after.err;
  EXPECT_THAT(after.err, HasSubstr("esperando ela terminar"));
  EXPECT_FALSE(fs::exists(dir_ / "bk" / "loja.fbk.~trava")) << "the lock goes with the last run";
}

// The nightly recipe of the docs, its cron line and its service's command as written, with only the
// places (program, password file, database, backup folder) the test's own. The database is
// embedded, which checks no password: the password file is only read as the recipe reads it.
TEST_F(RotationProgram, TheNightlyRecipeOfTheDocsRunsAsWritten) {
  std::ifstream docs(std::string(TOLVAN_DOCS_DIR) + "/tolvan.md");
  std::vector<std::string> commands;
  const std::regex cron("^(\\S+ ){5}root (.*)$");
  const std::regex service("^ExecStart=/bin/sh -c '(.*)'$");
  for (std::string line; std::getline(docs, line);) {
    std::smatch match;
    if (std::regex_match(line, match, cron)) {
      commands.push_back(match[2]);
    } else if (std::regex_match(line, match, service)) {
      // A unit file writes "$" as "$$".
      commands.push_back(std::regex_replace(match[1].str(), std::regex("\\$\\$"), "$$"));
    }
  }
  ASSERT_EQ(commands.size(), 2u) << "the cron line and the service's command";
  std::ofstream((dir_ / "senha").string()) << "p'a$s\"w rd";
  const std::string file = (dir_ / "bk" / "loja.fbk").string();
  for (std::string& command : commands) {
    for (const auto& [place, ours] :
         {std::pair<std::string, std::string>{"/usr/local/bin/tolvan", (app_ / "tolvan").string()},
          {"/etc/tolvan/senha", (dir_ / "senha").string()},
          {"servidor/3050:/dados/loja.fdb", db_},
          {"/srv/backups/loja.fbk", file}}) {
      const std::size_t at = command.find(place);
      ASSERT_NE(at, std::string::npos) << place << " in " << command;
      command.replace(at, place.size(), ours);
    }
  }
  commands.push_back(commands.front());
  for (const std::string& command : commands) {
    const Outcome r =
        Tolvan(Tolvan::Start{{"-c", command}, env_, std::nullopt, false, false, "/bin/sh"})
            .Finish();
    ASSERT_EQ(r.status, 0) << command << "\n" << r.err;
    EXPECT_THAT(r.err, HasSubstr("Backup verificado:"));
    EXPECT_THAT(r.err, Not(HasSubstr("gbak:"))) << "--quiet";
  }
  const auto backups = tolvan::cli::ListDatedBackups(file);
  ASSERT_EQ(backups.size(), 3u);
  for (const auto& backup : backups) {
    ASSERT_TRUE(backup.record) << backup.path;
    EXPECT_TRUE(backup.record->verified) << backup.path;
  }
}

// A table holding 100 times the rows of the other: the percentage of a backup follows the bytes
// written, not the count of tables, whether the rows are counted on the server beside gbak (a
// first backup of a server's database), estimated from a local file's pages before gbak opens it
// (its embedded engine then holds the file alone), or come from what the name's last verified
// backup recorded. The time left, once shown, is near what the run really took after it.
TEST_F(RotationProgram, ThePercentageOfABackupFollowsTheRowsCountedBesideItOrRecordedByItsName) {
  const auto server = tolvan::test::FindFirebirdServer();
  REQUIRE_SERVER(server);
  const std::string on_server = server->DataKey("rotacao-" + std::to_string(getpid()) + ".fdb");
  server_file_ = server->data + "/rotacao-" + std::to_string(getpid()) + ".fdb";
  const std::string local = (dir_ / "grande.fdb").string();
  user_ = server->user;
  env_.push_back("TOLVAN_PASSWORD=" + server->password);
  for (const auto& [database, password] :
       {std::pair{on_server, server->password}, std::pair{local, std::string()}}) {
    vesk::firebird::CreateDatabase(database, user_, password);
    TVeskSQLConnection db;
    db.DriverName = vesk::firebird::kDriverName;
    db.Params = {"Database=" + database, "USER_NAME=" + user_, "PASSWORD=" + password};
    db.Open();
    // The big one's name needs quoting, as an operator's may.
    for (const auto& [table, rows] :
         {std::pair{"\"Preço \"\"Médio\"\"\"", 300000}, std::pair{"pequena", 3000}}) {
      db.ExecuteDirect(std::string("create table ") + table + " (id integer, s varchar(200))");
      db.ExecuteDirect("execute block as declare i integer = 0; begin while (i < " +
                       std::to_string(rows) + ") do begin insert into " + table +
                       " values (:i, lpad('x', 200, 'y')); i = i + 1; end end");
    }
    db.Close();
  }

  struct Case {
    const char* what;
    std::string database;
    std::vector<std::string> before;  // a run that comes first, when any
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"counted beside a first backup", on_server, {}, {"--progress"}},
      {"estimated from a local file's pages", local, {}, {"--progress"}},
      {"recorded by the name's last verified backup",
       on_server,
       {"--keep", "3", "--verify"},
       {"--keep", "3", "--progress"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    db_ = c.database;
    fs::remove_all(dir_ / "bk");
    fs::create_directories(dir_ / "bk");
    if (!c.before.empty()) {
      ASSERT_EQ(Run(c.before).status, 0);
    }

    Tolvan::Start start = Backup(c.args);
    start.terminal_columns = 200;
    const auto began = std::chrono::steady_clock::now();
    const Outcome r = Tolvan(start).Finish();
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    ASSERT_EQ(r.status, 0) << r.err;
    const auto backups = tolvan::cli::ListDatedBackups((dir_ / "bk" / "loja.fbk").string());
    ASSERT_EQ(backups.size(), c.before.empty() ? 0u : 2u);
    const double total = static_cast<double>(
        backups.empty() ? fs::file_size(dir_ / "bk" / "loja.fbk") : backups.front().size);

    const std::regex status(
        "^. (?:([0-9]+),([0-9]) s|([0-9]+) min ([0-9]+) s) · ([0-9]+)% .*· ([0-9]+)(?:,([0-9]))? "
        "(bytes|KB|MB)");
    const std::regex left("faltam (?:menos de 1 min|~(?:([0-9]+) min )?([0-9]+) s)");
    const std::regex pieces("\r\x1b\\[K|\r\n|\r");
    int shown = 0;
    for (std::sregex_token_iterator it(r.err.begin(), r.err.end(), pieces, -1), end; it != end;
         ++it) {
      const std::string piece = *it;
      std::smatch m;
      if (!std::regex_search(piece, m, status)) {
        continue;
      }
      const double elapsed = m[1].matched ? std::stod(m[1]) + std::stod(m[2]) / 10
                                          : std::stod(m[3]) * 60 + std::stod(m[4]);
      const int percent = std::stoi(m[5]);
      const double unit = m[8] == "MB" ? 1024.0 * 1024 : m[8] == "KB" ? 1024.0 : 1.0;
      const double size = (std::stod(m[6]) + (m[7].matched ? std::stod(m[7]) / 10 : 0)) * unit;
      if (percent == 100) {
        continue;
      }
      ++shown;
      EXPECT_NEAR(percent, 100 * size / total, 10) << piece;
      std::smatch l;
      if (std::regex_search(piece, l, left)) {
        // What the run really took after this redraw; the result line and the exit come after.
        const double remainder = took - elapsed;
        if (l[2].matched) {
          const double seconds = (l[1].matched ? std::stod(l[1]) * 60 : 0) + std::stod(l[2]);
          EXPECT_NEAR(seconds, remainder, 0.3 * remainder + 1) << piece;
        } else {
          // Below a minute, within the same bounds: a remainder that less than a minute is near.
          EXPECT_LT(remainder, (60 + 1) / 0.7) << piece;
        }
      }
    }
    EXPECT_GE(shown, 3) << r.err;
  }
}

}  // namespace
