// With the real server and tools: texts that would change a statement where the server reads
// backslashes as escapes, database names the tools would read as connection strings, a new
// database that refuses connections, cut dumps, and an empty copy interrupted half-way.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "PostgresCluster.h"
#include "Recorders.h"
#include "ci/FailureOf.h"
#include "ci/SkipOrFail.h"
#include "ci/TestNames.h"
#include "platform/Interrupt.h"
#include "vesk/host/DefaultConnection.h"

namespace tolvan::postgresql {
namespace {

const std::string kCountTables =
    "select count(*) from pg_class where relkind = 'r' and relnamespace = "
    "'public'::regnamespace";

class PostgresSafety : public PostgresCluster {
 protected:
  void TearDown() override {
    if (cluster_) {
      auto admin = Connect("postgres");
      for (const auto& role : roles_) {
        admin->ExecuteDirect("DROP ROLE IF EXISTS " + role);
      }
    }
    PostgresCluster::TearDown();
  }

  // A role name of this test, dropped at its end whatever happened.
  std::string NewRoleName(const std::string& stem) {
    roles_.push_back(Unique(stem));
    return roles_.back();
  }

  // The host's connection made again, so that it takes the template's settings.
  void Reconnect() {
    vesk::SetDefaultConnection(nullptr);
    host_ = Connect(template_);
    dm_.SQLConnection = host_.get();
    vesk::SetDefaultConnection(host_.get());
  }

  std::string Tables(TVeskSQLConnection& conn) {
    return One(conn,
               "select coalesce(string_agg(relname, ',' order by relname), '') from pg_class "
               "where relkind = 'r' and relnamespace = 'public'::regnamespace");
  }

  bool DatabaseExists(const std::string& name) {
    auto admin = Connect("postgres");
    return One(*admin, "select count(*) from pg_database where datname = " + ValorParaSQL(name)) ==
           "1";
  }

  // Who exists and who is superuser, for the roles the injections aim at.
  std::string RoleState(const std::vector<std::string>& roles) {
    std::string list;
    for (const auto& role : roles) {
      list += (list.empty() ? "" : ",") + ValorParaSQL(role);
    }
    return One(*host_,
               "select coalesce(string_agg(rolname || ':' || rolsuper, ',' order by rolname), "
               "'') from pg_roles where rolname in (" +
                   list + ")");
  }

  // A tool in the tool folder that runs the real one and, for a dump, cuts its -f file at half
  // and still ends with 0, as a disk or a copy that failed silently would leave it.
  void InstallCuttingPgDump() {
    const fs::path wrapper = app_ / "PostgreSQL" / "pg_dump";
    fs::remove(wrapper);
    std::ofstream(wrapper) << "#!/bin/sh\n"
                              "\"" TOLVAN_PG_BIN
                              "pg_dump\" \"$@\" || exit $?\n"
                              "out=\n"
                              "while [ $# -gt 0 ]; do\n"
                              "  [ \"$1\" = -f ] && out=$2\n"
                              "  shift\n"
                              "done\n"
                              "[ -n \"$out\" ] || exit 0\n"
                              "size=$(stat -c %s \"$out\")\n"
                              "truncate -s $((size / 2)) \"$out\"\n";
    fs::permissions(wrapper, fs::perms::owner_all);
  }

  std::vector<std::string> roles_;
};

TEST_F(PostgresSafety, WithStandardConformingStringsOffTheInjectionsChangeNothing) {
  auto admin = Connect("postgres");
  admin->ExecuteDirect("ALTER DATABASE " + template_ + " SET standard_conforming_strings = off");
  Reconnect();
  ASSERT_EQ(One(*host_, "show standard_conforming_strings"), "off");
  EXPECT_FALSE(StandardConformingStrings(host_.get()));

  const std::string victim = NewRoleName("ana");
  const std::string intruder = NewRoleName("intruso");
  admin->ExecuteDirect("CREATE ROLE " + victim + " NOSUPERUSER");
  const std::string injection =
      "x\\'; ALTER ROLE " + victim + " SUPERUSER; CREATE ROLE " + intruder + "; --";

  const std::string role = NewRoleName("papel");
  AddUser(&dm_, role, injection, "Ana", "", injection);
  const std::string database = "d\\'; ALTER ROLE " + victim + " SUPERUSER; --";
  dropped_.push_back(database);
  CriarDataBase(&dm_, database, "", "");

  EXPECT_EQ(RoleState({victim, intruder}), victim + ":false");
  // The texts arrived whole: the password logs in, the comment and the collation are in place.
  EXPECT_EQ(One(*host_,
                "select shobj_description(oid, 'pg_authid') from pg_roles where rolname "
                "= '" +
                    role + "'"),
            "Ana;;" + injection);
  auto as_role = std::make_unique<TVeskSQLConnection>();
  ConfigurarSQLConnection(as_role.get(), 3);
  as_role->Params = {"Database=" + Key("postgres"), "USER_NAME=" + role, "PASSWORD=" + injection};
  EXPECT_EQ(One(*as_role, "select current_user"), role);
  as_role.reset();
  // The maintenance database keeps the setting on: the plain literal reads the name back.
  EXPECT_EQ(
      One(*admin, "select datcollate from pg_database where datname = " + ValorParaSQL(database)),
      "C.UTF-8");
}

TEST_F(PostgresSafety, WithTheSettingOnTheServerRunsThePlainTexts) {
  const auto dir = platform::GetEnv("TOLVAN_PG_DIR");
  const fs::path log = dir ? fs::path(*dir) / "server.log" : fs::path();
  if (log.empty() || !fs::exists(log)) {
    TOLVAN_SKIP_OR_FAIL("the server's log (TOLVAN_PG_DIR/server.log) is not here");
  }
  auto admin = Connect("postgres");
  admin->ExecuteDirect("ALTER DATABASE " + template_ + " SET log_statement = 'all'");
  Reconnect();
  ASSERT_EQ(One(*host_, "show standard_conforming_strings"), "on");
  EXPECT_TRUE(StandardConformingStrings(host_.get()));
  const auto logged_before = fs::file_size(log);

  const std::string role = NewRoleName("papel");
  const std::string password = "a\\b'c";
  AddUser(&dm_, role, password, "D'Ávila", "\\", "");
  const std::string database = NewDatabaseName("Barra");
  CriarDataBase(&dm_, database, "", "");

  std::string logged;
  for (int i = 0; i < 50; ++i) {
    logged = Bytes(log).substr(logged_before);
    if (logged.find("update pg_database") != std::string::npos) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  for (const std::string& statement :
       {RoleStatement(role, password), RoleCommentStatement(role, "D'Ávila;\\;"),
        CollationStatement(database, "C.UTF-8")}) {
    EXPECT_THAT(logged, HasSubstr("statement: " + statement + "\n"));
  }
  EXPECT_THAT(RoleStatement(role, password), HasSubstr("PASSWORD 'a\\b''c' "));
}

TEST_F(PostgresSafety, ANameThatReadsAsAConnectionStringIsRestoredIntoThatName) {
  host_->ExecuteDirect("create table cliente(id int primary key); create table pedido(id int)");
  const std::string decoy = NewDatabaseName("isca");
  auto admin = Connect("postgres");
  admin->ExecuteDirect("CREATE DATABASE " + decoy);

  const std::string name = "host=" + cluster_->host + " dbname=" + decoy;
  dropped_.push_back(name);
  CriarDataBaseVazia(&dm_, name);
  EXPECT_EQ(Tables(*Connect(name)), "cliente,pedido");
  EXPECT_EQ(Tables(*Connect(decoy)), "");

  // A URI as the name, straight through the runners: the dump of it and the restore into it.
  const std::string uri = "postgresql://" + cluster_->host + ":" + cluster_->port + "/" + decoy;
  dropped_.push_back(uri);
  admin->ExecuteDirect("CREATE DATABASE \"" + uri + "\"");
  const std::string file = (app_ / "temp" / "uri.tar").string();
  ExecutarPgDump(ToolFolder(), cluster_->host, cluster_->port, template_, cluster_->user,
                 cluster_->password, file, true);
  ExecutarPgRestore(ToolFolder(), cluster_->host, cluster_->port, uri, cluster_->user,
                    cluster_->password, file);
  EXPECT_EQ(Tables(*Connect(uri)), "cliente,pedido");
  EXPECT_EQ(Tables(*Connect(decoy)), "");

  Connect(decoy)->ExecuteDirect("create table isca(i int)");
  Connect(uri)->ExecuteDirect("create table so_do_nome(i int)");
  ExecutarPgDump(ToolFolder(), cluster_->host, cluster_->port, uri, cluster_->user,
                 cluster_->password, file, true);
  std::string listing;
  ASSERT_EQ(WinExec32AndRedirectOutput(
                std::string(TOLVAN_PG_BIN) + "pg_restore --list \"" + file + "\"", listing),
            0);
  EXPECT_THAT(listing,
              AllOf(HasSubstr("TABLE public so_do_nome"), Not(HasSubstr("TABLE public isca"))));
}

TEST_F(PostgresSafety, ADatabaseThatRefusesConnectionsIsCreatedWithAWarningNotACollationFailure) {
  const auto dir = platform::GetEnv("TOLVAN_PG_DIR");
  const fs::path hba = dir ? fs::path(*dir) / "data" / "pg_hba.conf" : fs::path();
  if (hba.empty() || !fs::exists(hba) || ::access(hba.c_str(), W_OK) != 0) {
    TOLVAN_SKIP_OR_FAIL("pg_hba.conf of the test cluster is not writable here");
  }
  // A rule of the server's own configuration that turns this one database's connections away,
  // the way a per-database rule in the field does (a superuser creator is not held back by a
  // revoked CONNECT).
  const std::string name = NewDatabaseName("recusa");
  const std::string rules = Bytes(hba);
  struct PutBack {
    fs::path file;
    std::string text;
    std::function<void()> reload;
    ~PutBack() {
      std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
      reload();
    }
  } put_back{hba, rules, [this] { Connect("postgres")->ExecuteDirect("select pg_reload_conf()"); }};
  std::ofstream(hba, std::ios::binary | std::ios::trunc)
      << "host " << name << " all 127.0.0.1/32 reject\n"
      << rules;
  Connect("postgres")->ExecuteDirect("select pg_reload_conf()");
  std::string refused;
  for (int i = 0; i < 100 && refused.find("pg_hba.conf") == std::string::npos; ++i) {
    refused = tolvan::test::FailureOf([&] { Connect(name); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_THAT(refused, HasSubstr("pg_hba.conf rejects connection"));

  // The database was made: the export returns, and the warning gives the server's answer.
  tolvan::test::DialogRecorder dialogs;
  EXPECT_NO_THROW(CriarDataBase(&dm_, name, "", ""));
  ASSERT_EQ(dialogs.Alerts().size(), 1u);
  EXPECT_THAT(dialogs.Alerts()[0],
              AllOf(HasSubstr("pg_hba.conf rejects connection"),
                    HasSubstr("database \"" + name + "\""), Not(HasSubstr("collation"))));
  EXPECT_EQ(
      One(*Connect("postgres"), "select count(*) from pg_database where datname = '" + name + "'"),
      "1");
}

TEST_F(PostgresSafety, ADumpCutAtHalfFailsWithinSecondsAndPgRestoreNeverSeesIt) {
  host_->ExecuteDirect(
      "create table t(i int, nome text);"
      "insert into t select g, repeat(md5(g::text), 8) from generate_series(1, 50000) g");
  CriarBackup(host_.get());
  const fs::path dump = app_ / "temp" / (template_ + ".dump");
  const std::string whole = Bytes(dump);
  const fs::path cut = app_ / "temp" / "cortado.dump";
  std::ofstream(cut, std::ios::binary) << whole.substr(0, whole.size() / 2);

  const std::string target = NewDatabaseName("alvo");
  Connect("postgres")->ExecuteDirect("CREATE DATABASE " + target);
  const auto started = std::chrono::steady_clock::now();
  const std::string message = tolvan::test::FailureOf([&] {
    ExecutarPgRestore(ToolFolder(), cluster_->host, cluster_->port, target, cluster_->user,
                      cluster_->password, cut.string());
  });
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_LT(took, std::chrono::seconds(5));
  EXPECT_THAT(message, AllOf(StartsWith("Backup:\r\nO arquivo \"" + cut.string() +
                                        "\" está cortado ou danificado: "),
                             HasSubstr("Nada foi restaurado")));
  EXPECT_EQ(Tables(*Connect(target)), "");
  EXPECT_EQ(platform::GetEnv("PGPASSWORD").value_or(""), "");

  // A pg_dump that ends with 0 but leaves its archive cut: the earlier dump stays as it was.
  InstallCuttingPgDump();
  EXPECT_THAT(tolvan::test::FailureOf([&] { CriarBackup(host_.get()); }),
              StartsWith("Backup:\r\nO pg_dump terminou sem erro, mas o backup que ele gravou não "
                         "está completo"));
  EXPECT_EQ(Bytes(dump), whole);
  EXPECT_TRUE(host_->Connected());
}

TEST_F(PostgresSafety, ASchemaDumpCutAtHalfMakesNoCopyAtAll) {
  host_->ExecuteDirect("create table cliente(id int primary key, nome text unique)");
  InstallCuttingPgDump();
  const std::string copy = NewDatabaseName("Copia_Cortada");
  EXPECT_THAT(tolvan::test::FailureOf([&] { CriarDataBaseVazia(&dm_, copy); }),
              StartsWith("Backup:\r\nO pg_dump terminou sem erro, mas o backup que ele gravou não "
                         "está completo"));
  EXPECT_FALSE(DatabaseExists(copy));
  EXPECT_TRUE(fs::is_empty(app_ / "temp"));
  EXPECT_TRUE(host_->Connected());

  fs::remove(app_ / "PostgreSQL" / "pg_dump");
  fs::copy_file(std::string(TOLVAN_PG_BIN) + "pg_dump", app_ / "PostgreSQL" / "pg_dump");
  CriarDataBaseVazia(&dm_, copy);
  EXPECT_EQ(Tables(*Connect(copy)), "cliente");
}

TEST_F(PostgresSafety, AnEmptyCopyInterruptedDuringPgRestoreLeavesNothingAndARetryWorks) {
  // Enough tables that the restore takes a while.
  host_->ExecuteDirect(
      "do $$ begin for i in 1..600 loop execute format('create table t%s(id int primary key, "
      "nome text unique, ref int)', i); end loop; end $$");
  const std::string copy = NewDatabaseName("Copia_Interrompida");
  auto run = std::async(std::launch::async, [&] {
    return tolvan::test::FailureOf([&] { CriarDataBaseVazia(&dm_, copy); });
  });
  // Interrupted once the restore has made some of the tables, not all.
  const std::string tool = (app_ / "PostgreSQL" / "pg_restore").string();
  const auto tables_made = [&]() -> int {
    try {
      return std::stoi(One(*Connect(copy), kCountTables));
    } catch (const std::exception&) {
      return 0;
    }
  };
  int made = 0;
  for (int i = 0; i < 1500 && made == 0; ++i) {
    if (!ProcessesWith(tool + " -h", "--version").empty() && DatabaseExists(copy)) {
      made = tables_made();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  platform::RequestInterrupt(2);
  const std::string message = run.get();
  platform::ClearInterrupt();
  ASSERT_NE(message, "(no failure)") << "the restore ended before the interrupt";
  EXPECT_GT(made, 0);
  EXPECT_LT(made, 600) << "the restore had made every table";
  EXPECT_THAT(message, StartsWith("Backup:\r\n"));
  EXPECT_FALSE(DatabaseExists(copy));
  EXPECT_TRUE(host_->Connected());
  EXPECT_FALSE(fs::exists(app_ / "temp" / "BkpTemp.tar"));

  CriarDataBaseVazia(&dm_, copy);
  EXPECT_EQ(One(*Connect(copy), kCountTables), "600");
}

}  // namespace
}  // namespace tolvan::postgresql
