// Sessions, version, users and schema creation of the loaded Oracle plug-in on the scripted
// driver: the statements in order, the argument checks in argument order, failures passed through.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "TolvanOracleUtil.h"
#include "ci/TestNames.h"
#include "platform/DynamicLibrary.h"
#include "platform/Paths.h"
#include "scripted_driver/MessageOf.h"
#include "scripted_driver/ScriptedDriver.h"
#include "tolvan/Exports.h"
#include "vesk/VeskPack5.h"
#include "vesk/host/DefaultConnection.h"

namespace {

using tolvan::testing::Answer;
using tolvan::testing::Operation;

using tolvan::testing::MessageOf;

// The session query the operator's documents give, for the user's name as an SQL literal.
std::string SessionsOf(const std::string& user_literal) {
  return "SELECT USERNAME || ' em ' || MACHINE || ' no ' || PROGRAM USERNAME FROM SYS.V_$SESSION "
         "WHERE USERNAME IS NOT NULL and USERNAME <> 'SYSMAN' and USERNAME <> 'DBSNMP'and SCHEMA# "
         "IN (SELECT SCHEMA# FROM SYS.V_$SESSION WHERE USERNAME = " +
         user_literal + ")";
}

class OracleUsersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plugin_ = tolvan::platform::DynamicLibrary::Load(tolvan::platform::ExecutableDirectory() +
                                                     "TolvanOracle" TOLVAN_PLUGIN_SUFFIX);
    connection_.DriverName = driver_.name();
    connection_.Params = {"Database=ORCL", "USER_NAME=scott", "PASSWORD=tiger"};
    connection_.Open();
    dm_.SQLConnection = &connection_;
    vesk::SetDefaultConnection(&connection_);
    driver_->ClearRecord();
  }
  void TearDown() override { vesk::SetDefaultConnection(nullptr); }

  template <typename F>
  F Export(const char* name) {
    return plugin_->Function<F>(name);
  }
  void AddUser(const std::string& name, const std::string& pass, const std::string& group) {
    Export<tolvan::AddUserFn>("AddUser")(&dm_, name, pass, group, "a", "b", "c");
  }
  void ModifyUser(const std::string& name, const std::string& pass) {
    Export<tolvan::ModifyUserFn>("ModifyUser")(&dm_, name, pass, "", "", "", "");
  }
  void DeleteUser(const std::string& name) {
    Export<tolvan::DeleteUserFn>("DeleteUser")(&dm_, name);
  }
  void CriarDataBase(const std::string& db, const std::string& user, const std::string& pass) {
    Export<tolvan::CriarDataBaseFn>("CriarDataBase")(&dm_, db, user, pass);
  }

  tolvan::testing::ScopedScriptedDriver driver_;
  TVeskSQLConnection connection_;
  TVeskDMConexao dm_;
  std::unique_ptr<tolvan::platform::DynamicLibrary> plugin_;
};

TEST_F(OracleUsersTest, PegarUsuariosAppendsTheSessionsOfTheUpperCasedUser) {
  const std::string sql = SessionsOf("'SCOTT'");
  driver_->OnQuery(sql, Answer::Column("USERNAME", {"SCOTT em CAIXA01 no sqlplus.exe",
                                                    "SCOTT em CAIXA02 no loja.exe"}));
  std::vector<std::string> list = {"anterior"};
  Export<tolvan::PegarUsuariosFn>("PegarUsuarios")(&dm_, &list);
  EXPECT_THAT(list, ElementsAre("anterior", "SCOTT em CAIXA01 no sqlplus.exe",
                                "SCOTT em CAIXA02 no loja.exe"));

  // A quote in the name stays inside the literal.
  connection_.Params = {"USER_NAME=o'brien"};
  driver_->ClearRecord();
  driver_->OnOtherQuery([](const std::string&) { return Answer::Error("ORA-00942"); });
  EXPECT_EQ(MessageOf([&] { Export<tolvan::PegarUsuariosFn>("PegarUsuarios")(&dm_, &list); }),
            "ORA-00942");
  EXPECT_THAT(driver_->Statements(), ElementsAre(SessionsOf("'O''BRIEN'")));

  EXPECT_EQ(MessageOf([&] { Export<tolvan::PegarUsuariosFn>("PegarUsuarios")(&dm_, nullptr); }),
            "PegarUsuarios: _AUser não poder ser nil");
}

TEST_F(OracleUsersTest, VersaoGivesThePropertyAsStored) {
  driver_->OnQuery(
      "SELECT PROPERTY_VALUE FROM DATABASE_PROPERTIES WHERE PROPERTY_NAME= 'NLS_RDBMS_VERSION' ",
      Answer::Column("PROPERTY_VALUE", {"19.0.0.0.0"}));
  EXPECT_EQ(Export<tolvan::VersaoFn>("Versao")(&dm_), "19.0.0.0.0");
  EXPECT_EQ(driver_->OpenSessions(), 1);
}

TEST_F(OracleUsersTest, UserStatementsInOrder) {
  AddUser("loja", "segredo", "DADOS");
  DeleteUser("loja");
  ModifyUser("loja", "novo");
  EXPECT_THAT(driver_->Statements(),
              ElementsAre("CREATE USER loja PROFILE DEFAULT IDENTIFIED BY segredo DEFAULT "
                          "TABLESPACE DADOS ACCOUNT UNLOCK ",
                          "GRANT CONNECT TO loja WITH ADMIN OPTION ",
                          "GRANT DBA TO loja WITH ADMIN OPTION ", "DROP USER loja",
                          "ALTER USER loja IDENTIFIED BY novo"));
}

TEST_F(OracleUsersTest, ArgumentChecksRunInArgumentOrderBeforeAnythingIsSent) {
  EXPECT_EQ(MessageOf([&] { AddUser("", "", ""); }), "AddUser: AUserName não poder ser nil");
  EXPECT_EQ(MessageOf([&] { AddUser("u", "", ""); }), "AddUser: AUserPass não poder ser nil");
  EXPECT_EQ(MessageOf([&] { AddUser("u", "p", ""); }), "AddUser: AGroupName não poder ser nil");
  EXPECT_EQ(MessageOf([&] { ModifyUser("", "p"); }), "AddUser: AUserName não poder ser nil");
  EXPECT_EQ(MessageOf([&] { ModifyUser("u", ""); }), "AddUser: AUserPass não poder ser nil");
  EXPECT_EQ(MessageOf([&] { DeleteUser(""); }), "DeleteUser: AUserName não poder ser nil");
  // A blank is no identifier character: refused rather than sent.
  EXPECT_EQ(
      MessageOf([&] { AddUser(" ", "p", "g"); }),
      "AddUser: AUserName só pode ter letras, dígitos, _, $ e #, ou estar toda entre aspas duplas");
  EXPECT_THAT(driver_->Statements(), IsEmpty());
}

// Texts that would break out of their place in a statement, and names that are no valid text, are
// refused each with its own message before anything is sent.
TEST_F(OracleUsersTest, TextsThatWouldBreakOutOfTheirPlaceAndBadNamesAreRefused) {
  const std::string only =
      " só pode ter letras, dígitos, _, $ e #, ou estar toda entre aspas duplas";
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[&] { AddUser("u", "x DEFAULT TABLESPACE SYSTEM --", "g"); }, "AddUser: AUserPass" + only},
      {[&] { AddUser("u", "p", "USERS; DROP"); }, "AddUser: AGroupName" + only},
      {[&] { DeleteUser("u CASCADE"); }, "DeleteUser: AUserName" + only},
      {[&] { ModifyUser("u", "a'b"); }, "ModifyUser: AUserPass" + only},
      {[&] { CriarDataBase("DADOS", "lo\"ja", "p"); },
       "CriarDataBase: User não pode ter aspas duplas"},
      {[&] { CriarDataBase("DADOS", "loja", "a\" IDENTIFIED"); },
       "CriarDataBase: Password não pode ter aspas duplas"},
      {[&] { AddUser("jo\xE3o", "p", "USERS"); }, "AddUser: AUserName não é um texto UTF-8 válido"},
      {[&] { AddUser("\"jo\tão\"", "p", "USERS"); },
       "AddUser: AUserName não pode conter caracteres de controle"},
      {[&] { CriarDataBase("dados", "usuário\x01", "p"); },
       "CriarDataBase: User não pode conter caracteres de controle"},
  };
  for (const auto& [call, message] : cases) {
    EXPECT_EQ(MessageOf(call), message);
  }
  EXPECT_THAT(driver_->Statements(), IsEmpty());
  // What Oracle takes unquoted goes through as it is.
  AddUser("LOJA_1$#", "Se9r$do", "USERS");
  EXPECT_EQ(driver_->Statements().size(), 3u);
}

TEST_F(OracleUsersTest, UpperCaseFollowsTheLettersOfPortugueseAndItsNeighbours) {
  driver_->OnOtherQuery([](const std::string&) { return Answer::Column("USERNAME", {}); });
  std::vector<std::string> list;
  for (const auto& [user, upper] :
       std::vector<std::pair<std::string, std::string>>{{"joão", "'JOÃO'"},
                                                        {"conceição", "'CONCEIÇÃO'"},
                                                        {"Ávila_ñ", "'ÁVILA_Ñ'"},
                                                        {"łódź_ÿ_œ", "'ŁÓDŹ_Ÿ_Œ'"},
                                                        {"ωδή", "'ΩΔΉ'"}}) {
    driver_->ClearRecord();
    connection_.Params = {"USER_NAME=" + user};
    Export<tolvan::PegarUsuariosFn>("PegarUsuarios")(&dm_, &list);
    EXPECT_THAT(driver_->Statements(), ElementsAre(SessionsOf(upper))) << user;
  }

  driver_->ClearRecord();
  vesk::SetDefaultConnection(nullptr);
  CriarDataBase("dados_ação", "joão", "Senha");
  ASSERT_FALSE(driver_->Statements().empty());
  EXPECT_EQ(driver_->Statements()[0],
            "CREATE USER \"JOÃO\" PROFILE \"DEFAULT\" IDENTIFIED BY \"Senha\" DEFAULT "
            "TABLESPACE \"DADOS_AÇÃO\" TEMPORARY TABLESPACE \"TEMP\" ACCOUNT UNLOCK");
  EXPECT_EQ(driver_->Statements()[1], "GRANT \"CONNECT\" TO \"JOÃO\"");
}

TEST_F(OracleUsersTest, AWholeQuotedIdentifierIsTakenWhereAnUnquotedOneGoes) {
  AddUser("joão", "\"S3nh@! ç\"", "USERS");
  ModifyUser("joão", "\"n0va senha\"");
  EXPECT_THAT(driver_->Statements(),
              ElementsAre("CREATE USER joão PROFILE DEFAULT IDENTIFIED BY \"S3nh@! ç\" DEFAULT "
                          "TABLESPACE USERS ACCOUNT UNLOCK ",
                          "GRANT CONNECT TO joão WITH ADMIN OPTION ",
                          "GRANT DBA TO joão WITH ADMIN OPTION ",
                          "ALTER USER joão IDENTIFIED BY \"n0va senha\""));

  driver_->ClearRecord();
  const std::string refused =
      "ModifyUser: AUserPass só pode ter letras, dígitos, _, $ e #, ou estar toda entre aspas "
      "duplas";
  for (const std::string& pass :
       {std::string("\"\""), std::string("\"a\"b\""), std::string("\"a\" x"), std::string("\"abc"),
        std::string("\"")}) {
    EXPECT_EQ(MessageOf([&] { ModifyUser("u", pass); }), refused) << pass;
  }
  EXPECT_EQ(MessageOf([&] { ModifyUser("u", std::string("\"a\0b\"", 5)); }),
            "ModifyUser: AUserPass não pode conter caracteres de controle");
  EXPECT_THAT(driver_->Statements(), IsEmpty());
}

TEST_F(OracleUsersTest, NamesOfUpTo128BytesAreTaken) {
  // A name of 100 bytes, and one of 128 with its quotes not counted, reach the server.
  const std::string hundred = "LOJA_" + std::string(95, 'X');
  ASSERT_EQ(hundred.size(), 100u);
  AddUser(hundred, "p", "USERS");
  DeleteUser("\"" + std::string(128, 'u') + "\"");
  CriarDataBase(std::string(128, 'd'), hundred, "p");
  ASSERT_EQ(driver_->Statements().size(), 3u + 1u + 18u);
  EXPECT_EQ(driver_->Statements()[0],
            "CREATE USER " + hundred +
                " PROFILE DEFAULT IDENTIFIED BY p DEFAULT TABLESPACE USERS ACCOUNT UNLOCK ");

  // More than 128 characters can be no name in any character set.
  driver_->ClearRecord();
  const std::string too_long =
      " tem mais de 128 caracteres; o Oracle aceita nomes de até 128 bytes";
  EXPECT_EQ(MessageOf([&] { DeleteUser(std::string(129, 'u')); }),
            "DeleteUser: AUserName" + too_long);
  EXPECT_EQ(MessageOf([&] { ModifyUser("\"" + std::string(129, 'u') + "\"", "p"); }),
            "ModifyUser: AUserName" + too_long);
  EXPECT_EQ(MessageOf([&] { CriarDataBase(std::string(129, 'd'), "u", "p"); }),
            "CriarDataBase: Database" + too_long);
  // A password is no name: its length is the server's to judge.
  ModifyUser("u", std::string(200, 'p'));
  EXPECT_EQ(driver_->Statements().size(), 1u);
}

TEST_F(OracleUsersTest, UnquotedNamesTakeTheLettersOfAnyScript) {
  // Vietnamese, with a letter written whole and one written as a letter and its marks, Greek,
  // Cyrillic, Hebrew and Japanese: the server takes what its character set holds and refuses
  // the rest with its own message.
  for (const std::string& name :
       {std::string("Nguyễn_Thị"), std::string("Nguye\xCC\x82\xCC\x83n"), std::string("Ωμέγα"),
        std::string("Москва"), std::string("שלום"), std::string("ロジャー")}) {
    driver_->ClearRecord();
    AddUser(name, "p", "USERS");
    ModifyUser(name, "p");
    DeleteUser(name);
    EXPECT_EQ(driver_->Statements().size(), 5u) << name;
    EXPECT_EQ(driver_->Statements().back(), "DROP USER " + name);
  }
  // What is no letter stays refused: a quote as a letter modifier writes it, a full-width
  // semicolon, an ideographic blank.
  driver_->ClearRecord();
  const std::string refused =
      "DeleteUser: AUserName só pode ter letras, dígitos, _, $ e #, ou estar toda entre aspas "
      "duplas";
  for (const std::string& name : {std::string("o\xCA\xBC"
                                              "brien"),
                                  std::string("a\xEF\xBC\x9B"),
                                  std::string("a\xE3\x80\x80"
                                              "b")}) {
    EXPECT_EQ(MessageOf([&] { DeleteUser(name); }), refused) << name;
  }
  EXPECT_THAT(driver_->Statements(), IsEmpty());

  // The capital of any small letter, as the server folds an unquoted name.
  vesk::SetDefaultConnection(nullptr);
  CriarDataBase("dữ_liệu", "nguyễn", "Mật");
  EXPECT_EQ(driver_->Statements()[0],
            "CREATE USER \"NGUYỄN\" PROFILE \"DEFAULT\" IDENTIFIED BY \"Mật\" DEFAULT "
            "TABLESPACE \"DỮ_LIỆU\" TEMPORARY TABLESPACE \"TEMP\" ACCOUNT UNLOCK");
}

TEST_F(OracleUsersTest, CriarDataBaseSendsTheEighteenStatementsThroughTheModule) {
  vesk::SetDefaultConnection(nullptr);
  CriarDataBase("dados", "loja", "SeGredo 1");
  const std::string u = " TO \"LOJA\"";
  EXPECT_THAT(
      driver_->Statements(),
      ElementsAreArray(std::vector<std::string>{
          "CREATE USER \"LOJA\" PROFILE \"DEFAULT\" IDENTIFIED BY \"SeGredo 1\" DEFAULT "
          "TABLESPACE \"DADOS\" TEMPORARY TABLESPACE \"TEMP\" ACCOUNT UNLOCK",
          "GRANT \"CONNECT\"" + u, "GRANT \"RESOURCE\"" + u, "GRANT alter SESSION" + u,
          "GRANT CREATE PROCEDURE" + u, "GRANT CREATE SEQUENCE" + u, "GRANT CREATE SESSION" + u,
          "GRANT CREATE TABLE" + u, "GRANT CREATE TRIGGER" + u, "GRANT CREATE TYPE" + u,
          "GRANT CREATE VIEW " + u, "GRANT UNLIMITED TABLESPACE" + u,
          "GRANT SELECT ON V_$DATABASE" + u, "GRANT SELECT ON V_$DATAFILE" + u,
          "GRANT SELECT ON V_$INSTANCE" + u, "GRANT SELECT ON V_$SESSION" + u,
          "GRANT SELECT ON V_$TABLESPACE" + u, "GRANT SELECT ON V_$VERSION" + u}));
}

TEST_F(OracleUsersTest, FailingStatementStopsTheRestAndPassesThrough) {
  driver_->FailAt(Operation::Execute, 5, "ORA-01031: insufficient privileges");
  EXPECT_EQ(MessageOf([&] { CriarDataBase("dados", "loja", "p"); }),
            "ORA-01031: insufficient privileges");
  const auto statements = driver_->Statements();
  ASSERT_EQ(statements.size(), 5u) << driver_->Describe();
  EXPECT_EQ(statements[3], "GRANT alter SESSION TO \"LOJA\"");

  driver_->ClearRecord();
  driver_->OnExecuteError("GRANT DBA TO loja WITH ADMIN OPTION ", "ORA-01919");
  EXPECT_EQ(MessageOf([&] { AddUser("loja", "p", "USERS"); }), "ORA-01919");
  EXPECT_EQ(driver_->Statements().size(), 3u);
}

TEST_F(OracleUsersTest, PegarDataBasesTouchesNothing) {
  std::vector<std::string> list = {"x"};
  int32_t attachments = 7;
  int32_t databases = 8;
  Export<tolvan::PegarDataBasesFn>("PegarDataBases")(&dm_, &list, attachments, databases);
  EXPECT_THAT(list, ElementsAre("x"));
  EXPECT_EQ(attachments, 7);
  EXPECT_EQ(databases, 8);
  EXPECT_THAT(driver_->Events(), IsEmpty());
}

}  // namespace
