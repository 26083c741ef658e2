// tolvan's CriarBackup --verify and --file with the real pg_dump and pg_restore against the test
// clusters, run as an operator runs it from an application folder of its own (so that a wrapper
// can stand in for a tool): a good dump is proven and takes its name; one whose copy differs is
// kept beside the earlier good dump, which stays byte for byte; no scratch database and no file of
// a run outlives it, killed or not, once the next run has run.
#include <signal.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "Plugin.h"
#include "RunningTolvan.h"
#include "ci/PostgresTestCluster.h"
#include "ci/SkipOrFail.h"
#include "ci/TestNames.h"
#include "platform/Environment.h"
#include "platform/Paths.h"
#include "tolvan/support/TarArchive.h"
#include "vesk/VeskPack5.h"
#include "vesk/VeskPackBase5.h"

namespace {

using tolvan_test::DescendantRuns;
using tolvan_test::LastLine;
using tolvan_test::Outcome;

struct Cluster {
  std::string server;  // "host/port"
  std::string user;
  std::string password;
};

// The cluster the environment names under prefix ("TOLVAN_PG_", "TOLVAN_PG17_").
std::optional<Cluster> ClusterOf(const std::string& prefix) {
  const auto pg = tolvan::test::FindPostgresCluster(prefix);
  if (!pg) {
    return std::nullopt;
  }
  return Cluster{pg->host + "/" + pg->port, pg->user, pg->password};
}

// Runs sql in database; a query gives its first column.
std::vector<std::string> Sql(const Cluster& cluster, const std::string& database,
                             const std::string& sql) {
  TVeskSQLConnection c;
  c.DriverName = tolvan::cli::DriverNameFor(tolvan::cli::PluginKind::PostgreSQL);
  c.Params = {"Database=" + cluster.server + ":" + database, "USER_NAME=" + cluster.user,
              "PASSWORD=" + cluster.password};
  c.Open();
  std::vector<std::string> column;
  if (sql.rfind("select", 0) == 0) {
    TVeskQuery q;
    q.SQLConnection = &c;
    q.SQL = sql;
    for (q.Open(); !q.Eof(); q.Next()) {
      column.push_back(q.FieldAsString(0));
    }
  } else {
    c.ExecuteDirect(sql);
  }
  c.Close();
  return column;
}

std::string Quoted(const std::string& name) {
  return "\"" + name + "\"";
}

std::string Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::set<std::string> Entries(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

constexpr const char* kShop = R"(
  create table clientes (id integer primary key, nome text unique not null);
  create table pedidos (id serial primary key, cli integer references clientes(id),
                        valor numeric(10,2) check (valor >= 0), nota text);
  create table vazia (x integer);
  create index ix_valor on pedidos (valor);
  create view v_ped as select p.id, c.nome from pedidos p join clientes c on c.id = p.cli;
  create sequence s_cli;
  create function f_total() returns numeric language sql as 'select sum(valor) from pedidos';
  create procedure p_zera() language sql as 'update pedidos set valor = 0';
  create function tg() returns trigger language plpgsql as
    'begin new.valor = coalesce(new.valor, 0); return new; end';
  create trigger tr_ped before insert on pedidos for each row execute function tg();
  insert into clientes values (1, 'João'), (2, 'D''Ávila');
  insert into pedidos (cli, valor, nota)
    select 1 + i % 2, i, E'linha\ncom quebra ' || i from generate_series(1, 500) i;
)";

class VerifyPostgres : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!tolvan_test::BesideTest({"tolvan", "PostgreSQL"})) {
      GTEST_SKIP() << "no tolvan and PostgreSQL/ beside the test (scripts/layout-appdir)";
    }
    const auto cluster = ClusterOf("TOLVAN_PG_");
    if (!cluster) {
      TOLVAN_SKIP_OR_FAIL(
          "no PostgreSQL test cluster: source \"$(scripts/postgres-server start)\"");
    }
    pg_ = *cluster;
    dir_ = tolvan_test::FreshFolder("tolvan-verify-pg", {"tmp", "bk"});
    env_ = {"XDG_DATA_HOME=" + (dir_ / "data").string(), "TMPDIR=" + (dir_ / "tmp").string()};
    app_ = dir_ / "app";
    tolvan_test::LayOutApplicationFolder(tolvan::platform::ExecutableDirectory(), app_);
    name_ = "tolvan_verify_pg_" + std::to_string(getpid());
    MakeDatabase(pg_, name_, kShop);
  }
  void TearDown() override {
    if (dir_.empty()) {
      return;
    }
    for (const auto& [cluster, database] : databases_) {
      Sql(cluster, "postgres", "drop database if exists " + Quoted(database) + " with (force)");
    }
    for (const std::string& scratch : ScratchDatabaseNames(pg_, started_)) {
      Sql(pg_, "postgres", "drop database " + scratch + " with (force)");
    }
    for (const std::string& role : roles_) {
      Sql(pg_, "postgres", "drop role if exists " + role);
    }
    fs::remove_all(dir_);
  }

  // A database of the cluster's user (or of owner), dropped when the test ends; sql runs in it.
  void MakeDatabase(const Cluster& cluster, const std::string& name, const std::string& sql,
                    const std::string& owner = "") {
    Sql(cluster, "postgres", "drop database if exists " + Quoted(name) + " with (force)");
    Sql(cluster, "postgres",
        "create database " + Quoted(name) + (owner.empty() ? "" : " owner " + owner));
    databases_.emplace_back(cluster, name);
    if (!sql.empty()) {
      Sql(owner.empty() ? cluster : Cluster{cluster.server, owner, cluster.password}, name, sql);
    }
  }

  // A role that may create databases and is not superuser, with a database of its own,
  // <name>_dele, whose table a fresh copy's autovacuum takes up at once and works on slowly (its
  // settings go with the table into the copy).
  Cluster MakeDatabaseOfItsOwnRole() {
    const Cluster role = MakeRole(name_ + "_cria", "createdb");
    MakeDatabase(pg_, name_ + "_dele",
                 "create table a (id integer primary key, s text) with "
                 "(autovacuum_vacuum_insert_threshold = 0, autovacuum_vacuum_insert_scale_factor "
                 "= 0, autovacuum_analyze_threshold = 0, autovacuum_analyze_scale_factor = 0, "
                 "autovacuum_vacuum_cost_delay = 100, autovacuum_vacuum_cost_limit = 1); insert "
                 "into a select i, 'x' from generate_series(1, 3000) i",
                 role.user);
    return role;
  }

  // A login role with the cluster's password; dropped when the test ends.
  Cluster MakeRole(const std::string& name, const std::string& rights) {
    Sql(pg_, "postgres",
        "create role " + name + " login " + rights + " password '" + pg_.password + "'");
    roles_.push_back(name);
    return Cluster{pg_.server, name, pg_.password};
  }

  Outcome Tolvan(std::vector<std::string> args, std::vector<std::string> env = {},
                 const std::function<bool(pid_t)>& watch = {}) {
    args.insert(args.begin(), (app_ / "tolvan").string());
    env.insert(env.end(), env_.begin(), env_.end());
    Outcome r = tolvan_test::RunWatching(args, env, [&](pid_t pid) {
      if (started_.empty() || started_.back() != pid) {
        started_.push_back(pid);
      }
      return !watch || watch(pid);
    });
    return r;
  }

  std::vector<std::string> CriarBackupArgs(const Cluster& cluster, const std::string& database,
                                           const std::vector<std::string>& more) const {
    std::vector<std::string> args = {
        "postgresql", "CriarBackup", "--database", cluster.server + ":" + database,
        "--user",     cluster.user,  "--yes"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }

  Outcome CriarBackup(std::vector<std::string> more, const Cluster* cluster = nullptr,
                      const std::string& database = "",
                      const std::function<bool(pid_t)>& watch = {}) {
    const Cluster& c = cluster ? *cluster : pg_;
    return Tolvan(CriarBackupArgs(c, database.empty() ? name_ : database, more),
                  {"TOLVAN_PASSWORD=" + c.password}, watch);
  }

  // The scratch databases on the cluster that runs of these processes made.
  static std::vector<std::string> ScratchDatabaseNames(const Cluster& cluster,
                                                       const std::vector<pid_t>& pids) {
    std::vector<std::string> names;
    for (const std::string& name :
         Sql(cluster, "postgres", "select datname from pg_database order by datname")) {
      for (const pid_t pid : pids) {
        if (name.rfind("tolvan_verificar_", 0) == 0 &&
            name.find("_" + std::to_string(pid) + "_") != std::string::npos) {
          names.push_back(name);
        }
      }
    }
    return names;
  }
  std::size_t ScratchDatabases() { return ScratchDatabaseNames(pg_, started_).size(); }

  // The application folder's tool replaced by a script: `body` runs with the real tool in $real;
  // a version query goes straight to the real tool.
  void WrapTool(const std::string& tool, const std::string& body) {
    const fs::path path = app_ / "PostgreSQL" / tool;
    const fs::path real = app_ / "PostgreSQL" / (tool + ".real");
    if (!fs::exists(real)) {
      fs::rename(path, real);
    }
    std::ofstream(path) << "#!/bin/bash\nreal=\"$(dirname \"$0\")/" + tool +
                               ".real\"\n[[ $1 == --version ]] && exec \"$real\" \"$@\"\n" + body;
    fs::permissions(path, fs::perms::owner_all);
  }
  void UnwrapTool(const std::string& tool) {
    const fs::path real = app_ / "PostgreSQL" / (tool + ".real");
    if (fs::exists(real)) {
      fs::rename(real, app_ / "PostgreSQL" / tool);
    }
  }

  // pg_restore wrapped: `before` runs before a restore into a database, `after` once it is done
  // (with psql, the server in $h and $p, the user in $u, the database in $d).
  void WrapPgRestore(const std::string& after, const std::string& before = ":") {
    WrapTool("pg_restore",
             "psql=/usr/lib/postgresql/15/bin/psql\nargs=(\"$@\")\n"
             "while (($#)); do case $1 in -h) h=$2; shift;; -p) p=$2; shift;; -U) u=$2; "
             "shift;; -d) d=$2; shift;; esac; shift; done\n"
             "if [[ -n $d ]]; then " +
                 before + "; fi\n\"$real\" \"${args[@]}\" || exit $?\nif [[ -n $d ]]; then " +
                 after + "; fi\n");
  }
  static std::string Psql(const std::string& sql, const std::string& user = "$u") {
    return "\"$psql\" -q -h \"$h\" -p \"$p\" -U \"" + user + "\" -d \"$d\" -c \"" + sql +
           "\" >/dev/null";
  }
  // The same in a session of its own that outlives the tool, and whose output is not the tool's.
  static std::string PsqlAside(const std::string& sql, const std::string& user = "$u") {
    return "(setsid " + Psql(sql, user) + " 2>&1 </dev/null &)";
  }

  // The 15 cluster, and the 17 one when the Debian 13 servers run, with 17's tools put where the
  // guard takes them from (after 15, so that 15 runs with its own).
  std::vector<std::pair<std::string, Cluster>> Clusters() {
    std::vector<std::pair<std::string, Cluster>> clusters = {{"15", pg_}};
    const auto pg17 = ClusterOf("TOLVAN_PG17_");
    const auto tools = tolvan::platform::GetEnv("TOLVAN_DEBIAN13_TOOLS");
    if (pg17 && tools) {
      fs::create_directories(app_ / "PostgreSQL17");
      for (const char* tool : {"pg_dump", "pg_restore"}) {
        fs::copy_file(fs::path(*tools) / "pg17" / tool, app_ / "PostgreSQL17" / tool,
                      fs::copy_options::skip_existing);
      }
      clusters.emplace_back("17", *pg17);
    } else if (tolvan::testing::UnderCi()) {
      ADD_FAILURE() << "no PostgreSQL 17 server (TOLVAN_PG17_*, TOLVAN_DEBIAN13_TOOLS)";
    } else {
      std::cout
          << "no PostgreSQL 17 server: only 15 (source \"$(scripts/debian13-servers start)\")\n";
    }
    return clusters;
  }

  Cluster pg_;
  fs::path dir_;
  fs::path app_;
  std::vector<std::string> env_;
  std::string name_;
  std::vector<pid_t> started_;
  std::vector<std::pair<Cluster, std::string>> databases_;
  std::vector<std::string> roles_;
};

TEST_F(VerifyPostgres, CriarBackupIsProvenAndPutAtTheOperatorsPath) {
  // --file writes beside its own path: the application folder's temp/ is not needed.
  fs::remove(app_ / "temp");
  const std::string file = (dir_ / "bk" / "cópia.dump").string();
  Outcome r = CriarBackup({"--verify", "--file", file});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, file + "\n");
  EXPECT_THAT(LastLine(r.err), MatchesRegex("Backup verificado: " + file +
                                            ", 3 tabelas, 502 linhas, restaurado em "
                                            "[0-9]+,[0-9] s"));
  EXPECT_TRUE(fs::is_regular_file(file));
  EXPECT_EQ(ScratchDatabases(), 0u);

  // Without --verify the finished dump goes to the path all the same.
  const std::string other = (dir_ / "bk" / "outra.dump").string();
  r = CriarBackup({"--file", other});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, other + "\n");
  EXPECT_EQ(Bytes(other).substr(0, 7), "toc.dat");
  EXPECT_THAT(r.err, Not(HasSubstr("verificado")));
  EXPECT_THAT(Entries(dir_ / "bk"), ElementsAre("cópia.dump", "outra.dump"));
}

TEST_F(VerifyPostgres, FileRunsCheckTheirTargetBeforeTheDumpAndEndWithTheResultLine) {
  // A pg_dump that leaves a mark when it runs.
  const fs::path ran = dir_ / "pg_dump-ran";
  WrapTool("pg_dump", "touch " + ran.string() + "\nexec \"$real\" \"$@\"\n");
  fs::create_directories(dir_ / "bk" / "pasta.dump");
  struct Case {
    std::string file;
    std::string password;
    std::string says;
  };
  const Case cases[] = {
      {(dir_ / "falta" / "loja.dump").string(), pg_.password, "a pasta não existe"},
      {(dir_ / "bk" / "pasta.dump").string(), pg_.password, "uma pasta com esse nome"},
      {"/dev/null", pg_.password, "um dispositivo com esse nome"},
      {(dir_ / "bk" / "loja.dump").string(), "errada", "password authentication failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const Outcome r =
        Tolvan(CriarBackupArgs(pg_, name_, {"--file", c.file}), {"TOLVAN_PASSWORD=" + c.password});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_THAT(r.err, HasSubstr(c.says));
    EXPECT_THAT(LastLine(r.err), MatchesRegex("CriarBackup falhou em [0-9]+,[0-9] s"));
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fs::exists(ran)) << "pg_dump ran";
  }
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_THAT(Entries(dir_ / "bk"), ElementsAre("pasta.dump"));
}

TEST_F(VerifyPostgres, RowsMissingInTheRestoredCopyFailWithBothCounts) {
  // A plain CriarBackup's dump in temp/, which no --file run may touch.
  const fs::path dump = app_ / "temp" / (name_ + ".dump");
  ASSERT_EQ(CriarBackup({}).status, 0);
  const std::string earlier_dump = Bytes(dump);
  ASSERT_FALSE(earlier_dump.empty());
  const std::string file = (dir_ / "bk" / "loja.dump").string();
  Outcome r = CriarBackup({"--file", file});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string good = Bytes(file);

  // The real pg_restore, then the foreign key and a row of clientes gone from the copy.
  WrapPgRestore(
      Psql("alter table pedidos drop constraint pedidos_cli_fkey; delete from clientes where id "
           "= 2"));
  r = CriarBackup({"--verify", "--file", file});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_THAT(r.err, HasSubstr("restrição public.pedidos pedidos_cli_fkey"));
  EXPECT_EQ(Bytes(file), good);
  EXPECT_TRUE(fs::is_regular_file(file + ".nao-verificado"));
  EXPECT_EQ(Bytes(dump), earlier_dump);
  EXPECT_EQ(ScratchDatabases(), 0u);

  // Without --file the proven dump goes to temp/: the earlier one stays until then.
  WrapPgRestore(Psql("delete from pedidos where id = 7"));
  r = CriarBackup({"--verify"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(Bytes(dump), earlier_dump);
  EXPECT_TRUE(fs::is_regular_file(dump.string() + ".nao-verificado"));
  EXPECT_THAT(r.err, HasSubstr("tabela public.pedidos: 500 linhas no backup, 499 na cópia "
                               "restaurada"));
  EXPECT_EQ(ScratchDatabases(), 0u);
}

TEST_F(VerifyPostgres, SigintDuringTheRestoreDropsTheScratchDatabaseAndSaysWhereTheDumpIs) {
  const std::string file = (dir_ / "bk" / "loja.dump").string();
  Outcome r = CriarBackup({"--file", file});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string good = Bytes(file);
  // A restore slow enough to be interrupted while the scratch database exists.
  WrapPgRestore(":", "sleep 30");
  bool seen = false;
  r = CriarBackup({"--verify", "--file", file}, nullptr, "", [&](pid_t tolvan) {
    if (!DescendantRuns(tolvan, "pg_restore", "-d")) {
      return false;
    }
    seen = ScratchDatabases() == 1;
    kill(tolvan, SIGINT);
    return true;
  });
  EXPECT_TRUE(seen) << "the scratch database existed while the restore ran";
  EXPECT_EQ(r.status, 130) << r.err;
  EXPECT_THAT(r.err, HasSubstr("o backup não verificado ficou em " + file + ".nao-verificado\n"));
  EXPECT_THAT(LastLine(r.err), MatchesRegex("CriarBackup interrompido \\(SIGINT\\) depois de .*"));
  EXPECT_TRUE(fs::is_regular_file(file + ".nao-verificado"));
  EXPECT_EQ(ScratchDatabases(), 0u);
  EXPECT_EQ(Bytes(file), good);
}

TEST_F(VerifyPostgres, AUserWhoCannotCreateDatabasesIsRefusedBeforeTheBackup) {
  const Cluster role = MakeRole(name_ + "_sem", "nocreatedb");
  const std::string file = (dir_ / "bk" / "loja.dump").string();
  const Outcome r = CriarBackup({"--verify", "--file", file}, &role);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_THAT(r.err, HasSubstr("--verify precisa de um usuário que possa criar bancos de dados"));
  EXPECT_THAT(Entries(dir_ / "bk"), ElementsAre());
  EXPECT_FALSE(fs::exists(app_ / "temp" / (name_ + ".dump")));
}

TEST_F(VerifyPostgres, NamesThatReadAsConnectionStringsOrAreCutInALetterVerifyIntoTheirOwnCopy) {
  // Another role's database, which a name read as a connection string would name: short, so that
  // the whole name fits where a scratch name would keep only its first 30 bytes.
  const std::string other = "vv" + std::to_string(getpid() % 100);
  MakeRole(name_ + "_outro", "");
  MakeDatabase(pg_, other, "");
  Sql(pg_, other,
      "create table dela (id integer); insert into dela values (1), (2), (3); alter table dela "
      "owner to " +
          name_ + "_outro");
  const auto other_state = [&] {
    return Sql(pg_, other,
               "select c.relname || ' ' || pg_get_userbyid(c.relowner) || ' ' || (select "
               "count(*) from dela) from pg_class c join pg_namespace n on n.oid = "
               "c.relnamespace where n.nspname = 'public' order by 1");
  };
  const auto before = other_state();
  ASSERT_THAT(before, ElementsAre("dela " + name_ + "_outro 3"));
  const std::string names[] = {
      "dbname=" + other + " application_name=",
      // "ç" on bytes 30 and 31.
      name_ + std::string(29 - name_.size(), 'a') + "ção",
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    MakeDatabase(pg_, name, "create table minha (id integer); insert into minha values (1), (2)");
    const std::string file = (dir_ / "bk" / "x.dump").string();
    const Outcome r = CriarBackup({"--verify", "--file", file}, nullptr, name);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(LastLine(r.err), HasSubstr(", 1 tabela, 2 linhas, "));
    EXPECT_EQ(other_state(), before) << "another role's database changed";
    EXPECT_EQ(ScratchDatabases(), 0u);
  }
}

TEST_F(VerifyPostgres, AUserWhoIsNotSuperuserLeavesNoScratchDatabaseWithAutovacuumOn) {
  const Cluster role = MakeDatabaseOfItsOwnRole();
  // A server whose autovacuum visits each database every second, and analyzes a fresh copy's
  // tables as soon as it does.
  Sql(pg_, "postgres", "alter system set autovacuum_naptime = 1");
  Sql(pg_, "postgres", "select pg_reload_conf()");
  struct ResetNaptime {
    const Cluster& pg;
    ~ResetNaptime() {
      Sql(pg, "postgres", "alter system reset autovacuum_naptime");
      Sql(pg, "postgres", "select pg_reload_conf()");
    }
  } reset{pg_};
  const std::string file = (dir_ / "bk" / "dele.dump").string();
  // A second for the launcher to send a worker to the copy.
  WrapPgRestore("sleep 1");
  for (int run = 0; run < 20; ++run) {
    const Outcome r = CriarBackup({"--verify", "--file", file}, &role, name_ + "_dele");
    ASSERT_EQ(r.status, 0) << "run " << run << "\n" << r.err;
    ASSERT_EQ(ScratchDatabases(), 0u) << "run " << run;
  }
}

TEST_F(VerifyPostgres, AScratchDatabaseThatCannotBeDroppedIsNamedAndTheNextRunDropsIt) {
  const Cluster role = MakeDatabaseOfItsOwnRole();
  const std::string file = (dir_ / "bk" / "dele.dump").string();
  // A session this user may not end, on the copy.
  WrapPgRestore(PsqlAside("select pg_sleep(60)", pg_.user) + "; sleep 1");
  Outcome r = CriarBackup({"--verify", "--file", file}, &role, name_ + "_dele");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_THAT(r.err, HasSubstr("Backup verificado: " + file));
  ASSERT_EQ(ScratchDatabases(), 1u);
  const std::string left = ScratchDatabaseNames(pg_, started_).front();
  EXPECT_THAT(r.err, HasSubstr("DROP DATABASE \"" + left + "\";"));
  // Once that session is gone, the next run drops what the gone run left.
  Sql(pg_, "postgres",
      "select pg_terminate_backend(pid) from pg_stat_activity where datname = '" + left + "'");
  UnwrapTool("pg_restore");
  r = CriarBackup({"--verify", "--file", file}, &role, name_ + "_dele");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ScratchDatabases(), 0u);
}

TEST_F(VerifyPostgres, AKillDuringEachPhaseLeavesOnlyTheBackupsOnceTheNextRunHasRun) {
  struct Phase {
    const char* name;
    const char* tool;
    std::string wrapper;
    std::function<bool(pid_t)> running;
    bool with_file;
  };
  const std::string parse =
      "psql=/usr/lib/postgresql/15/bin/psql\nargs=(\"$@\")\nwhile (($#)); do case $1 in -h) "
      "h=$2; shift;; -p) p=$2; shift;; -U) u=$2; shift;; -d) d=$2; shift;; esac; shift; done\n";
  const Phase phases[] = {
      {"pg_dump", "pg_dump", "sleep 30\nexec \"$real\" \"$@\"\n",
       [](pid_t t) { return DescendantRuns(t, "pg_dump", "-F"); }, true},
      {"sumário", "pg_restore", "[[ $1 == -l ]] && sleep 30\nexec \"$real\" \"$@\"\n",
       [](pid_t t) { return DescendantRuns(t, "pg_restore", "-l"); }, true},
      {"restauração", "pg_restore", "[[ $1 != -l ]] && sleep 30\nexec \"$real\" \"$@\"\n",
       [](pid_t t) { return DescendantRuns(t, "pg_restore", "-d"); }, true},
      {"restauração em temp/", "pg_restore", "[[ $1 != -l ]] && sleep 30\nexec \"$real\" \"$@\"\n",
       [](pid_t t) { return DescendantRuns(t, "pg_restore", "-d"); }, false},
      // The copy's largest table locked by a session of its own while tolvan counts it.
      {"comparação", "pg_restore",
       parse + "\"$real\" \"${args[@]}\" || exit $?\n[[ -n $d ]] && " +
           PsqlAside("begin; lock table pedidos; select pg_sleep(60)") + "\nsleep 1\n",
       [this](pid_t) {
         return !Sql(pg_, "postgres",
                     "select 1 from pg_stat_activity where wait_event_type = 'Lock' and query "
                     "like 'select count(*) from only%'")
                     .empty();
       },
       true},
  };
  const fs::path file = dir_ / "bk" / "loja.dump";
  const fs::path temp_dump = app_ / "temp" / (name_ + ".dump");
  ASSERT_EQ(CriarBackup({"--file", file.string()}).status, 0);
  ASSERT_EQ(CriarBackup({}).status, 0);
  for (const Phase& phase : phases) {
    SCOPED_TRACE(phase.name);
    const fs::path final_path = phase.with_file ? file : temp_dump;
    const std::vector<std::string> where = phase.with_file
                                               ? std::vector<std::string>{"--file", file.string()}
                                               : std::vector<std::string>{};
    const std::string good = Bytes(final_path);
    std::vector<std::string> args = where;
    args.push_back("--verify");
    WrapTool(phase.tool, phase.wrapper);
    const Outcome killed = CriarBackup(args, nullptr, "", [&](pid_t tolvan) {
      if (!phase.running(tolvan)) {
        return false;
      }
      kill(tolvan, SIGKILL);
      return true;
    });
    UnwrapTool(phase.tool);
    ASSERT_EQ(killed.status, 1000 + SIGKILL) << killed.err;
    EXPECT_EQ(Bytes(final_path), good) << "the earlier good dump is at the final name";

    const Outcome next = CriarBackup(args);
    EXPECT_EQ(next.status, 0) << next.err;
    EXPECT_THAT(Entries(dir_ / "bk"), ElementsAre("loja.dump"));
    EXPECT_THAT(Entries(app_ / "temp"), ElementsAre(name_ + ".dump"));
    EXPECT_EQ(ScratchDatabases(), 0u);
  }
}

TEST_F(VerifyPostgres, TwoRunsToOneFileAtOnceBothEndWithAWholeDumpThere) {
  const std::string file = (dir_ / "bk" / "loja.dump").string();
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::vector<std::string> args = CriarBackupArgs(pg_, name_, {"--verify", "--file", file});
    args.insert(args.begin(), (app_ / "tolvan").string());
    std::vector<std::string> env = env_;
    env.push_back("TOLVAN_PASSWORD=" + pg_.password);
    std::vector<std::unique_ptr<tolvan_test::Tolvan>> runs;
    for (int i = 0; i < 2; ++i) {
      runs.push_back(std::make_unique<tolvan_test::Tolvan>(tolvan_test::Tolvan::Start{
          {args.begin() + 1, args.end()}, env, std::nullopt, false, false, args.front()}));
      started_.push_back(runs.back()->pid());
    }
    for (const auto& run : runs) {
      const Outcome r = run->Finish();
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_THAT(LastLine(r.err), HasSubstr("3 tabelas, 502 linhas"));
    }
    EXPECT_EQ(tolvan::support::ReadTarArchive(file).front().Name, "toc.dat");
    EXPECT_THAT(Entries(dir_ / "bk"), ElementsAre("loja.dump"));
  }
  EXPECT_EQ(ScratchDatabases(), 0u);
}

TEST_F(VerifyPostgres, PartitionsAndInheritedTablesVerifyWithTheirOwnRowsOn15And17) {
  // 24 monthly partitions and a default one under a key and an index of the parent's, attached
  // to each; a parent with rows of its own and a child that inherits it.
  const std::string schema = R"(
    create table pagamento (id integer, quando date, valor numeric, primary key (id, quando))
      partition by range (quando);
    do $$ begin for m in 0..23 loop
      execute format('create table pagamento_%s partition of pagamento for values from (%L) to (%L)',
                     m, date '2022-01-01' + make_interval(months => m),
                     date '2022-01-01' + make_interval(months => m + 1));
    end loop; end $$;
    create table pagamento_outros partition of pagamento default;
    create index on pagamento (valor);
    insert into pagamento select i, date '2022-01-01' + i % 730, i from generate_series(1, 2400) i;
    create table pessoa (id integer primary key, nome text);
    create table cliente (limite numeric) inherits (pessoa);
    insert into pessoa values (1, 'João'), (2, 'D''Ávila');
    insert into cliente values (3, 'Ana', 10), (4, 'Bia', 20), (5, 'Caio', 30);
  )";
  for (const auto& [version, cluster] : Clusters()) {
    SCOPED_TRACE("PostgreSQL " + version);
    const std::string database = name_ + "_part";
    MakeDatabase(cluster, database, schema);
    const std::string file = (dir_ / "bk" / (version + ".dump")).string();
    const Outcome r = CriarBackup({"--verify", "--file", file}, &cluster, database);
    EXPECT_EQ(r.status, 0) << r.err;
    // 28 tables, the partitioned parent of none of its own; 2.400 rows in the partitions, the
    // parent of inherited rows 2 of its own and its child 3.
    EXPECT_THAT(LastLine(r.err), HasSubstr(file + ", 28 tabelas, 2.405 linhas, "));
    EXPECT_TRUE(ScratchDatabaseNames(cluster, started_).empty());
  }
}

// On a terminal, the dump and then the verification's restore each show a percentage from the
// server's COPY progress: it moves within the table that holds nearly all the data, never goes
// back, and reaches 100 when that part ends.
TEST_F(VerifyPostgres, ProgressMovesWithinABigTableAndEndsAtOneHundred) {
  for (const auto& [version, cluster] : Clusters()) {
    SCOPED_TRACE("PostgreSQL " + version);
    const std::string database = name_ + "_grande";
    MakeDatabase(cluster, database,
                 "create table grande as select i as id, 'cliente número ' || i as nome from "
                 "generate_series(1, 3000000) i; create table pequena as select i as id, "
                 "'cliente ' || i as nome from generate_series(1, 30000) i");
    std::vector<std::string> env = env_;
    env.push_back("TOLVAN_PASSWORD=" + cluster.password);
    const std::string file = (dir_ / "bk" / (version + "-grande.dump")).string();
    tolvan_test::Tolvan tolvan(tolvan_test::Tolvan::Start{
        CriarBackupArgs(cluster, database, {"--verify", "--file", file, "--progress"}), env, 120,
        false, false, (app_ / "tolvan").string()});
    const Outcome r = tolvan.Finish();
    ASSERT_EQ(r.status, 0) << r.err;

    // The percentages of the dump's status, then of the verification's, each change once.
    std::vector<int> shown[2];
    const std::regex percent("([0-9]+)% \\(([0-9]+)/2 tabelas\\)");
    int part = 0;
    for (const std::string& piece : tolvan_test::TerminalPieces(r.err)) {
      part = piece.find("verificando, ") != std::string::npos ? 1 : part;
      std::smatch m;
      if (std::regex_search(piece, m, percent) &&
          (shown[part].empty() || shown[part].back() != std::stoi(m[1]))) {
        shown[part].push_back(std::stoi(m[1]));
      }
    }
    for (const std::vector<int>& percents : shown) {
      SCOPED_TRACE(::testing::PrintToString(percents));
      ASSERT_FALSE(percents.empty()) << r.err.substr(0, 3000);
      EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
      EXPECT_EQ(percents.back(), 100);
      // The small table is 1% of the data: values between its share and the end are the big one's.
      EXPECT_GE(
          std::count_if(percents.begin(), percents.end(), [](int p) { return p > 1 && p < 99; }),
          3);
    }
  }
}

}  // namespace
