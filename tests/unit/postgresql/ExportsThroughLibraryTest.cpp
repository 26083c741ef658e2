// Every export of the plug-in (linked into the test), looked up by name and called through a
// pointer of the export's own type, with a different value in each argument: an argument that
// reaches the wrong parameter shows in what the server or the tool is given.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Fixture.h"
#include "LinkedPlugin.h"
#include "TolvanPostgreSQLUtil.h"
#include "ci/TestNames.h"
#include "tolvan/Exports.h"

namespace tolvan::postgresql::test {
namespace {

using testing::Answer;

// The plug-in's own exports beyond the family, with the signatures TolvanPostgreSQL.cpp gives.
using PegarVersaoServidorFn = std::string (*)(TVeskSQLConnection*);
using VerificarVersaoFerramentasFn = void (*)(TVeskSQLConnection*, std::string,
                                              std::vector<std::string>);
using CriarConexaoPostgresFn = TVeskSQLConnection* (*)(std::string, std::string, std::string,
                                                       int32_t);
using ExecutarPgDumpFn = void (*)(std::string, std::string, std::string, std::string, std::string,
                                  std::string, std::string, bool);
using ExecutarPgRestoreFn = void (*)(std::string, std::string, std::string, std::string,
                                     std::string, std::string, std::string);

class ExportsThroughLibrary : public PluginHost {
 protected:
  ExportsThroughLibrary() { plugin_ = tolvan::testing::LinkedPlugin::Load("TolvanPostgreSQL"); }
  template <typename Fn>
  Fn Export(const char* name) {
    Fn fn = plugin_->Function<Fn>(name);
    EXPECT_NE(fn, nullptr) << name;
    return fn;
  }

  std::unique_ptr<tolvan::testing::LinkedPlugin> plugin_;
};

TEST_F(ExportsThroughLibrary, ReportsAndRoles) {
  driver_->OnQuery(std::string(kSessionsSql), Answer::Column("USERNAME", {"loja em x no psql"}));
  driver_->OnQuery(std::string(kRolesSql),
                   Answer::Rows({"rolname", "description"}, {{"ana", "Ana;;Silva"}}));
  std::vector<std::string> sessions{"s"};
  Export<PegarUsuariosFn>("PegarUsuarios")(&dm_, &sessions);
  EXPECT_THAT(sessions, ElementsAre("s", "loja em x no psql"));
  std::vector<std::string> roles{"r"};
  Export<PegarUserFn>("PegarUser")(&dm_, &roles);
  EXPECT_THAT(roles, ElementsAre("r", "ana;Ana;;Silva"));

  // The group is not used; the three name parts go to the comment in their order.
  Export<AddUserFn>("AddUser")(&dm_, "bia", "senha1", "grupo", "Beatriz", "Maria", "Souza");
  EXPECT_THAT(driver_->Statements(), Contains(RoleStatement("bia", "senha1")));
  EXPECT_THAT(driver_->Statements(), Contains("COMMENT ON ROLE bia IS 'Beatriz;Maria;Souza' "));

  EXPECT_EQ(Export<PegarVersaoServidorFn>("PegarVersaoServidor")(&connection_), kLinuxVersion);
}

TEST_F(ExportsThroughLibrary, CreationOnTheServerOfTheNameAndOnTheGivenServer) {
  driver_->OnQuery(std::string(kCollationSql), Answer::Column("datcollate", {"C.UTF-8"}));
  Export<CriarDataBaseFn>("CriarDataBase")(&dm_, "srv1/5434:novo", "bia", "senha2");
  EXPECT_THAT(driver_->LastSettings().params,
              IsSupersetOf({"Server=srv1", "Port=5434", "User_name=bia", "Password=senha2"}));
  EXPECT_THAT(driver_->Statements(), Contains(CreationStatement("novo")));

  testing::ScopedScriptedDriver pg("PG");
  pg->OnQuery("select version()", Answer::Column("version", {kLinuxVersion}));
  pg->OnQuery(std::string(kCollationSql), Answer::Column("datcollate", {"C.UTF-8"}));
  Export<CriarDataBaseFDFn>("CriarDataBaseFD")("srv2", 5435, "Outro", "caio", "senha3");
  EXPECT_THAT(pg->LastSettings().params,
              IsSupersetOf({"Server=srv2", "User_Name=caio", "Port=5435", "Password=senha3"}));
  EXPECT_THAT(pg->Statements(), Contains(CreationStatement("Outro")));

  std::unique_ptr<TVeskSQLConnection> own(
      Export<CriarConexaoPostgresFn>("CriarConexaoPostgres")("srv3", "davi", "senha4", 5436));
  ASSERT_NE(own, nullptr);
  EXPECT_THAT(own->Params, IsSupersetOf({"Database=postgres", "Server=srv3", "User_name=davi",
                                         "Port=5436", "Password=senha4"}));
}

TEST_F(ExportsThroughLibrary, ToolRunsGetEachArgumentInItsPlace) {
  InstallTools("15.2");
  Export<VerificarVersaoFerramentasFn>("VerificarVersaoFerramentas")(&connection_, tools_,
                                                                     {"pg_restore"});
  EXPECT_EQ(app_.Calls("PostgreSQL/pg_restore").size(), 2u);
  EXPECT_TRUE(app_.Calls("PostgreSQL/pg_dump").empty());

  const std::string out = app_.Path() + "out.dump";
  const std::string in = app_.Path() + "in.tar";
  WriteText(in, testing::SampleDump());
  Export<ExecutarPgDumpFn>("ExecutarPgDump")(tools_, "h1", "5437", "vendas", "eva", "senha5", out,
                                             true);
  const auto dump = app_.Calls("PostgreSQL/pg_dump").back();
  ASSERT_GE(dump.args.size(), 12u);
  // The file the tool writes may be a temporary one beside the final name.
  EXPECT_THAT(std::vector<std::string>(dump.args.begin(), dump.args.begin() + 10),
              ElementsAre("-h", "h1", "-p", "5437", "-U", "eva", "-F", "t", "-s", "-f"));
  EXPECT_THAT(dump.args[10], ::testing::StartsWith(app_.Path()));
  EXPECT_EQ(dump.args[11], "vendas");
  EXPECT_EQ(dump.env.at("PGPASSWORD"), "senha5");

  Export<ExecutarPgRestoreFn>("ExecutarPgRestore")(tools_, "h2", "5438", "novo", "fabio", "senha6",
                                                   in);
  const auto restore = app_.Calls("PostgreSQL/pg_restore").back();
  EXPECT_THAT(restore.args, ElementsAre("-h", "h2", "-p", "5438", "-U", "fabio", "-d", "novo", in));
  EXPECT_EQ(restore.env.at("PGPASSWORD"), "senha6");

  connection_.Open();
  Export<CriarBackupFn>("CriarBackup")(&connection_);
  EXPECT_EQ(app_.Calls("PostgreSQL/pg_dump").back().args.back(), "vendas");
  EXPECT_TRUE(connection_.Connected());
}

TEST_F(ExportsThroughLibrary, EmptyCopyTakesTheNameAndIgnoresTheRest) {
  InstallTools("15.2");
  driver_->OnQuery(std::string(kCollationSql), Answer::Column("datcollate", {"C.UTF-8"}));
  const std::string schema_file = app_.Path() + "temp" + platform::kPathDelimiter + "BkpTemp.tar";
  WriteText(schema_file, "tar");
  connection_.Open();
  Export<CriarDataBaseVaziaFn>("CriarDataBaseVazia")(&dm_, "srv4/5439:copia", "gil", "senha7",
                                                     true);
  EXPECT_THAT(driver_->Statements(), Contains(CreationStatement("copia")));
  EXPECT_THAT(
      app_.Calls("PostgreSQL/pg_restore").back().args,
      ElementsAre("-h", "srv4", "-p", "5439", "-U", "postgres", "-d", "copia", schema_file));
  EXPECT_TRUE(connection_.Connected());
}

}  // namespace
}  // namespace tolvan::postgresql::test
