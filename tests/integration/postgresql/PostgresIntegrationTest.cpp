// The PostgreSQL driver and the plug-in's work against the private test cluster
// (scripts/postgres-server) with the real pg_dump and pg_restore.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "PostgresCluster.h"
#include "TolvanPostgreSQLUtil.h"
#include "ci/TestNames.h"
#include "platform/Environment.h"
#include "platform/Paths.h"
#include "vesk/VeskPack5.h"
#include "vesk/VeskPackBase5.h"

namespace tolvan::postgresql {
namespace {

TEST_F(PostgresCluster, DriverVersionKeyParametersAndErrors) {
  EXPECT_THAT(Versao(&dm_), MatchesRegex("15\\.00[0-9][0-9]\\.00\\.0000"));
  EXPECT_EQ(host_->GetServerVersion() / 10'000'000'000, 15);
  EXPECT_EQ(host_->GetDATABASENAME_KEY(), Key(template_));
  EXPECT_THAT(PegarVersaoServidor(host_.get()), HasSubstr("PostgreSQL 15."));

  // Parameter names in any case; Server and Port apart from the database.
  TVeskSQLConnection conn;
  ConfigurarSQLConnection(&conn, 3);
  conn.Params = {"DATABASE=postgres", "hostname=" + cluster_->host, "port=" + cluster_->port,
                 "User_Name=" + cluster_->user, "password=" + cluster_->password};
  EXPECT_EQ(conn.GetDATABASENAME_KEY(), Key("postgres"));
  EXPECT_EQ(One(conn, "select current_database()"), "postgres");
  try {
    conn.ExecuteDirect("select * from no_such_table");
    FAIL() << "no exception";
  } catch (const TVeskDriverError& e) {
    EXPECT_THAT(e.what(), HasSubstr("relation \"no_such_table\" does not exist"));
  }
  // Statements under the read-only option cannot write.
  conn.Transaction()->Options.ReadOnly = true;
  EXPECT_THROW(conn.ExecuteDirect("create table ro_t(i int)"), TVeskDriverError);
  conn.Transaction()->Options.ReadOnly = false;

  EXPECT_THROW(Connect("postgres", "wrong password"), TVeskDriverError);
}

TEST_F(PostgresCluster, BothCreationsGiveTheAttachedDatabasesCollation) {
  const std::string a = NewDatabaseName("Novo_A");
  CriarDataBase(&dm_, a, "", "");
  const std::string b = NewDatabaseName("novo_b");
  CriarDataBase(&dm_, Key(b), cluster_->user, cluster_->password);
  const std::string c = NewDatabaseName("Novo_FD");
  CriarDataBaseFD(cluster_->host, std::stoi(cluster_->port), c, cluster_->user, cluster_->password);
  for (const auto& name : {a, b, c}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(One(*host_,
                  "select datcollate || '/' || datctype || '/' || "
                  "pg_encoding_to_char(encoding) from pg_database where datname = '" +
                      name + "'"),
              "C.UTF-8/C.UTF-8/UTF8");
  }
  // An existing name: the server's message.
  try {
    CriarDataBase(&dm_, a, "", "");
    FAIL() << "no exception";
  } catch (const TVeskDriverError& e) {
    EXPECT_THAT(e.what(), HasSubstr("already exists"));
  }
  EXPECT_THROW(CriarDataBaseFD("127.0.0.1", 1, NewDatabaseName("x"), "u", "p"), TVeskDriverError);
}

TEST_F(PostgresCluster, CriarBackupWritesATarArchive) {
  host_->ExecuteDirect("create table t(i int); insert into t values (1), (2)");
  CriarBackup(host_.get());
  EXPECT_TRUE(host_->Connected());
  const fs::path dump = app_ / "temp" / (template_ + ".dump");
  ASSERT_TRUE(fs::exists(dump));
  std::string listing;
  ASSERT_EQ(
      WinExec32AndRedirectOutput(
          std::string(TOLVAN_PG_BIN) + "pg_restore --list \"" + dump.string() + "\"", listing),
      0)
      << listing;
  EXPECT_THAT(listing, HasSubstr("TABLE public t"));
  EXPECT_THAT(listing, HasSubstr("TABLE DATA public t"));
  EXPECT_EQ(platform::GetEnv("PGPASSWORD").value_or(""), "");
}

TEST_F(PostgresCluster, CriarDataBaseVaziaCopiesTheSchemaWithoutRows) {
  host_->ExecuteDirect(
      "create sequence s start 100;"
      "create table cliente(id serial primary key, nome text not null unique, "
      "  idade int check (idade > 0));"
      "create table pedido(id int primary key, cliente int references cliente(id));"
      "create index pedido_cliente on pedido(cliente);"
      "create view v_cliente as select nome from cliente;"
      "create function dobro(i int) returns int language sql as 'select i * 2';"
      "comment on table cliente is 'quem compra';"
      "insert into cliente(nome, idade) values ('ana', 30);"
      "insert into pedido values (1, 1)");
  const std::string copy = NewDatabaseName("Copia");
  CriarDataBaseVazia(&dm_, copy);
  EXPECT_TRUE(host_->Connected());
  EXPECT_FALSE(fs::exists(app_ / "temp" / "BkpTemp.tar"));

  auto target = Connect(copy);
  EXPECT_EQ(One(*target, "select count(*) from cliente"), "0");
  EXPECT_EQ(One(*target, "select count(*) from pedido"), "0");
  EXPECT_EQ(One(*target, "select dobro(21)"), "42");
  EXPECT_EQ(One(*target, "select count(*) from v_cliente"), "0");
  EXPECT_EQ(One(*target, "select obj_description('cliente'::regclass, 'pg_class')"), "quem compra");
  EXPECT_THAT(Column(*target, "select indexname from pg_indexes where schemaname = 'public'"),
              Contains("pedido_cliente"));
  EXPECT_EQ(One(*target,
                "select count(*) from pg_constraint where conrelid in "
                "('cliente'::regclass, 'pedido'::regclass)"),
            "5");
  EXPECT_THAT(Column(*target, "select relname from pg_class where relkind = 'S'"), Contains("s"));

  // Into a name that exists: the server's message, and everything put back.
  try {
    CriarDataBaseVazia(&dm_, copy);
    FAIL() << "no exception";
  } catch (const TVeskDriverError& e) {
    EXPECT_THAT(e.what(), HasSubstr("already exists"));
  }
  EXPECT_TRUE(host_->Connected());
  EXPECT_FALSE(fs::exists(app_ / "temp" / "BkpTemp.tar"));
  EXPECT_EQ(platform::GetEnv("PGPASSWORD").value_or(""), "");
}

TEST_F(PostgresCluster, AToolFolderWithoutToolsIsAClearErrorAndLeavesNothingBehind) {
  fs::remove(app_ / "PostgreSQL" / "pg_dump");
  fs::create_directories(app_ / "PostgreSQL14");
  try {
    CriarDataBaseVazia(&dm_, NewDatabaseName("nunca"));
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    // The missing file and its package, never a version comparison with an empty version.
    EXPECT_THAT(e.what(), HasSubstr((app_ / "PostgreSQL").string()));
    EXPECT_THAT(e.what(), HasSubstr("postgresql-client-15"));
    EXPECT_THAT(e.what(), Not(HasSubstr("está na versão")));
  }
  EXPECT_TRUE(host_->Connected());
  EXPECT_FALSE(fs::exists(app_ / "temp" / "BkpTemp.tar"));
}

TEST_F(PostgresCluster, SessionsAndRoles) {
  std::vector<std::string> sessions;
  PegarUsuarios(&dm_, &sessions);
  EXPECT_THAT(sessions,
              Contains(template_ + " em 127.0.0.1/32 no tolvan usuário " + cluster_->user));

  const std::string role = Unique("papel");
  AddUser(&dm_, role, "it's a secret", "Ana", "Maria", "D'Arc");
  std::vector<std::string> roles;
  PegarUser(&dm_, &roles);
  EXPECT_THAT(roles, Contains(role + ";Ana;Maria;D'Arc"));
  EXPECT_THAT(roles, Contains("pg_monitor;"));

  auto as_role = std::make_unique<TVeskSQLConnection>();
  ConfigurarSQLConnection(as_role.get(), 3);
  as_role->Params = {"Database=" + Key("postgres"), "USER_NAME=" + role, "PASSWORD=it's a secret"};
  EXPECT_EQ(One(*as_role, "select current_user"), role);
  as_role.reset();

  EXPECT_THROW(AddUser(&dm_, role, "x", "", "", ""), TVeskDriverError);
  host_->ExecuteDirect("DROP ROLE " + role);
}

}  // namespace
}  // namespace tolvan::postgresql
