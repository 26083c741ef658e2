// The embedded scripts as the creation runs them, and the components' script splitter.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "DeclaredNames.h"
#include "TolvanFirebirdUtil.h"
#include "ci/TestNames.h"
#include "firebird/IBComponents.h"

namespace {

using tolvan::firebird::ScriptResource;
using tolvan::test::DeclaredNames;
using vesk::firebird::SplitScript;

std::vector<std::string> Texts(std::string_view script) {
  std::vector<std::string> out;
  for (const auto& s : SplitScript(script)) {
    out.push_back(s.text);
  }
  return out;
}

TEST(EmbeddedScripts, AreFoundByNameInAnyLetterCaseAndUnknownNamesAreRefused) {
  // Each name finds its own script, whatever the letter case.
  EXPECT_EQ(DeclaredNames(ScriptResource("FBUDF")).front(), "INVL");
  EXPECT_EQ(DeclaredNames(ScriptResource("Ib_Udf2")).front(), "DIV");
  EXPECT_THAT(DeclaredNames(ScriptResource("DECLARATIONS_ALL_DIALECT3")),
              ElementsAre("F_TEST_STRLEN", "F_TEST_DIV"));
  try {
    ScriptResource("fbudf2");
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_THAT(e.what(), ::testing::HasSubstr("fbudf2"));
  }
}

TEST(EmbeddedScripts, AreSevenBitTextWithCrLfLineEnds) {
  for (const char* name : {"fbudf", "ib_udf2", "declarations_all_dialect3"}) {
    const std::string_view text = ScriptResource(name);
    ASSERT_FALSE(text.empty()) << name;
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << name;
    for (std::size_t i = 0; i < text.size(); ++i) {
      ASSERT_LT(static_cast<unsigned char>(text[i]), 0x80u) << name << " at " << i;
      if (text[i] == '\n') {
        ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << name << " at " << i;
      }
    }
  }
}

TEST(EmbeddedScripts, DeclareTheFunctionsOfTheirModulesOnceEach) {
  const auto fbudf = SplitScript(ScriptResource("fbudf"));
  ASSERT_FALSE(fbudf.empty());
  EXPECT_EQ(fbudf.front().bare, "set sql dialect 3");
  const std::set<std::string> fbudf_names = [] {
    const auto v = DeclaredNames(ScriptResource("fbudf"));
    return std::set<std::string>(v.begin(), v.end());
  }();
  EXPECT_EQ(fbudf_names, (std::set<std::string>{"ADDDAY",
                                                "ADDDAY2",
                                                "ADDHOUR",
                                                "ADDMILLISECOND",
                                                "ADDMINUTE",
                                                "ADDMONTH",
                                                "ADDSECOND",
                                                "ADDWEEK",
                                                "ADDYEAR",
                                                "DNULLIF",
                                                "DNVL",
                                                "DOW",
                                                "DPOWER",
                                                "GETEXACTTIMESTAMP",
                                                "GETEXACTTIMESTAMPUTC",
                                                "I64NULLIF",
                                                "I64NVL",
                                                "I64ROUND",
                                                "I64TRUNCATE",
                                                "INULLIF",
                                                "INVL",
                                                "ISLEAPYEAR",
                                                "ROUND",
                                                "SDOW",
                                                "SNULLIF",
                                                "SNVL",
                                                "SRIGHT",
                                                "STRING2BLOB",
                                                "TRUNCATE"}));
  EXPECT_EQ(DeclaredNames(ScriptResource("fbudf")).size(), 29u);

  // The built-in functions stand inside comments: only the eight are run.
  EXPECT_THAT(
      DeclaredNames(ScriptResource("ib_udf2")),
      ElementsAre("DIV", "UDF_FRAC", "LTRIM", "RTRIM", "SRAND", "SUBSTR", "SUBSTRLEN", "STRLEN"));
  const std::string_view ib = ScriptResource("ib_udf2");
  for (const char* builtin : {"ABS", "ATAN2", "BIN_XOR", "LOG10", "RPAD", "TANH"}) {
    EXPECT_NE(ib.find(std::string("DECLARE EXTERNAL FUNCTION ") + builtin + "\r\n"),
              std::string_view::npos)
        << builtin << " is kept in the script's comments";
  }
  for (const auto& s : SplitScript(ib)) {
    if (s.text.find("LTRIM") != std::string::npos) {
      EXPECT_NE(s.text.find("CSTRING(255) NULL"), std::string::npos);
    }
  }

  // The test's own declarations stand in the third-party script's place.
  EXPECT_THAT(DeclaredNames(ScriptResource("declarations_all_dialect3")),
              ElementsAre("F_TEST_STRLEN", "F_TEST_DIV"));
}

TEST(ScriptSplitter, EndsStatementsAtTheTerminatorOutsideCommentsAndQuotes) {
  EXPECT_THAT(
      Texts("create table t (a int);\r\n"
            "-- a comment; not a statement\r\n"
            "insert into t values (1); /* ; */ insert into \"x;y\" values ('a;''b');\r\n"
            "  ;;\r\n"
            "select 1 from rdb$database"),
      ElementsAre("create table t (a int)",
                  "-- a comment; not a statement\r\ninsert into t values (1)",
                  "/* ; */ insert into \"x;y\" values ('a;''b')", "select 1 from rdb$database"));
  EXPECT_THAT(Texts("  /* only a comment */ ; -- and another"), IsEmpty());
  EXPECT_THAT(Texts(""), IsEmpty());
}

TEST(ScriptSplitter, ObeysSetTermAndGivesCommandsWithoutComments) {
  const auto statements = SplitScript(
      "SET TERM ^ ;\n"
      "create procedure p as begin\n  exit;\nend^\n"
      "set term ; ^\n"
      "/* header */ SET   SQL\n DIALECT 3;\n"
      "commit;");
  ASSERT_EQ(statements.size(), 3u);
  EXPECT_EQ(statements[0].text, "create procedure p as begin\n  exit;\nend");
  EXPECT_EQ(statements[1].bare, "SET SQL DIALECT 3");
  EXPECT_EQ(statements[2].bare, "commit");
}

TEST(ScriptSplitter, SwitchesBetweenTerminatorsOfDifferentLengthsWithoutLosingCharacters) {
  const auto statements = SplitScript(
      "SET TERM !! ;CREATE PROCEDURE P AS BEGIN EXIT; END!!\r\n"
      "set terminator ;!!CREATE TABLE T (A INT);\r\n"
      "SET TERM GO ;\r\nselect 1 from rdb$database GO");
  ASSERT_EQ(statements.size(), 3u);
  EXPECT_EQ(statements[0].text, "CREATE PROCEDURE P AS BEGIN EXIT; END");
  EXPECT_EQ(statements[1].text, "CREATE TABLE T (A INT)");
  EXPECT_EQ(statements[2].text, "select 1 from rdb$database");
  EXPECT_EQ(statements[2].line, 4u);
}

TEST(ScriptSplitter, ReadsQStringsWithAnyDelimiterAsOneText) {
  EXPECT_THAT(Texts("insert into t values (q'{it's; -- }', Q'(a';b)', q'!;'!');\n"
                    "insert into t values (1)"),
              ElementsAre("insert into t values (q'{it's; -- }', Q'(a';b)', q'!;'!')",
                          "insert into t values (1)"));
  // A name ending in q is not the start of one.
  EXPECT_THAT(Texts("select aq'x;' from t; x"), ElementsAre("select aq'x;' from t", "x"));
}

TEST(ScriptSplitter, RefusesAScriptThatEndsInsideACommentOrAQuotedText) {
  EXPECT_THROW(SplitScript("create table t (a int); /* never closed; drop table t;"),
               TVeskDriverError);
  EXPECT_THROW(SplitScript("insert into t values ('never closed);"), TVeskDriverError);
  EXPECT_THROW(SplitScript("set term;"), TVeskDriverError);
  try {
    SplitScript("select 1 from t;\r\n\r\ninsert into t values (q'{x');");
    FAIL() << "no exception";
  } catch (const TVeskDriverError& e) {
    EXPECT_THAT(e.what(), ::testing::HasSubstr("linha 3"));
  }
}

TEST(ScriptSplitter, TellsTheRunnerWhatEachStatementIs) {
  using vesk::firebird::ClassifyStatement;
  using Command = vesk::firebird::ScriptCommand;
  EXPECT_EQ(ClassifyStatement("set sql dialect 1"), Command::Dialect);
  EXPECT_EQ(ClassifyStatement("SET AUTODDL OFF"), Command::AutoDdl);
  EXPECT_EQ(ClassifyStatement("set auto"), Command::AutoDdl);
  EXPECT_EQ(ClassifyStatement("commit work"), Command::Commit);
  EXPECT_EQ(ClassifyStatement("ROLLBACK RETAIN"), Command::Rollback);
  EXPECT_EQ(ClassifyStatement("rollback to savepoint s1"), Command::Sql);
  EXPECT_EQ(ClassifyStatement("create or alter procedure p as begin end"), Command::Ddl);
  EXPECT_EQ(ClassifyStatement("DECLARE EXTERNAL FUNCTION F_X RETURNS INT"), Command::Ddl);
  EXPECT_EQ(ClassifyStatement("set generator g to 5"), Command::Sql);
  EXPECT_EQ(ClassifyStatement("set time zone 'UTC'"), Command::Sql);
  EXPECT_EQ(ClassifyStatement("SET LIST ON"), Command::Display);
  for (const char* isql_only : {"show tables", "SET NAMES WIN1252", "create database 'x.fdb'",
                                "input other.sql", "set transaction read only"}) {
    EXPECT_EQ(ClassifyStatement(isql_only), Command::Unsupported) << isql_only;
  }
}

TEST(CreationStatement, QuotesTheNameAndPutsEachClauseOnItsOwnLine) {
  EXPECT_EQ(
      vesk::firebird::CreateDatabaseStatement(
          "srv/3050:/data/novo.fdb", tolvan::firebird::CreationClauses("SYSDBA", "masterkey")),
      "CREATE DATABASE 'srv/3050:/data/novo.fdb'\nUSER 'SYSDBA'\nPASSWORD 'masterkey'");
  // A quote inside the name, the user or the password is doubled, never ends the literal.
  EXPECT_EQ(vesk::firebird::CreateDatabaseStatement(
                "/data/o'brien.fdb", tolvan::firebird::CreationClauses("o'neil", "pa''ss'")),
            "CREATE DATABASE '/data/o''brien.fdb'\nUSER 'o''neil'\nPASSWORD 'pa''''ss'''");
}

}  // namespace
