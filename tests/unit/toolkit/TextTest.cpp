#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vesk/VeskPackBase5.h"

namespace {

struct TokenCase {
  std::string s;
  std::string sep;
  std::string token;  // expected result
  std::string rest;   // expected S afterwards
};

void PrintTo(const TokenCase& c, std::ostream* os) {
  *os << "S=\"" << c.s << "\" Sep=\"" << c.sep << "\"";
}

class NextToken : public testing::TestWithParam<TokenCase> {};

TEST_P(NextToken, TakesTextBeforeFirstSeparatorAndKeepsRest) {
  const auto& c = GetParam();
  std::string s = c.s;
  EXPECT_EQ(PegarProximoToken(s, c.sep), c.token);
  EXPECT_EQ(s, c.rest);
}

TEST_P(NextToken, SomenteGivesSameTokenAndLeavesTextAlone) {
  const auto& c = GetParam();
  EXPECT_EQ(PegarProximoTokenSomente(c.s, c.sep), c.token);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NextToken,
    testing::Values(TokenCase{"srv:/data/loja.fdb", ":", "srv", "/data/loja.fdb"},
                    TokenCase{"a:b:c", ":", "a", "b:c"},
                    // No separator: everything, and S is emptied.
                    TokenCase{"/data/loja.fdb", ":", "/data/loja.fdb", ""},
                    TokenCase{"", ":", "", ""},
                    // An empty separator counts as missing.
                    TokenCase{"a:b", "", "a:b", ""}, TokenCase{":abc", ":", "", "abc"},
                    TokenCase{"abc:", ":", "abc", ""}, TokenCase{":", ":", "", ""},
                    TokenCase{"a::b", ":", "a", ":b"},
                    TokenCase{"pythonbreadonbutter", "on", "pyth", "breadonbutter"},
                    TokenCase{"xooox", "oo", "x", "ox"}, TokenCase{"abc", "abcd", "abc", ""}));

class PreviousToken : public testing::TestWithParam<TokenCase> {};

TEST_P(PreviousToken, TakesTextAfterLastSeparatorAndKeepsTextBefore) {
  const auto& c = GetParam();
  std::string s = c.s;
  EXPECT_EQ(PegarAnteriorToken(s, c.sep), c.token);
  EXPECT_EQ(s, c.rest);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PreviousToken,
    testing::Values(TokenCase{"/bk/dir/loja.fbk", "/", "loja.fbk", "/bk/dir"},
                    TokenCase{"a:b:c", ":", "c", "a:b"},
                    // No separator: nothing, and S stays as it was.
                    TokenCase{"loja.fbk", "/", "", "loja.fbk"}, TokenCase{"", "/", "", ""},
                    TokenCase{"a/b", "", "", "a/b"}, TokenCase{"abc/", "/", "", "abc"},
                    TokenCase{"/abc", "/", "abc", ""}, TokenCase{"/", "/", "", ""},
                    TokenCase{"a//b", "/", "b", "a/"},
                    TokenCase{"pythonbreadonbutter", "on", "butter", "pythonbread"},
                    TokenCase{"xooox", "oo", "x", "xo"}));

TEST(TemDados, WrapsOnlyTextThatIsThere) {
  EXPECT_EQ(TemDados(" -user ", "SYSDBA", ";"), " -user SYSDBA;");
  EXPECT_EQ(TemDados(" -user ", "", ";"), "");
  EXPECT_EQ(TemDados("", "x", ""), "x");
}

TEST(ValorParaSQL, QuotesAndDoublesEveryQuote) {
  EXPECT_EQ(ValorParaSQL("loja"), "'loja'");
  EXPECT_EQ(ValorParaSQL(""), "''");
  EXPECT_EQ(ValorParaSQL("d'água"), "'d''água'");
  EXPECT_EQ(ValorParaSQL("'"), "''''");
  EXPECT_EQ(ValorParaSQL("x'; drop table t; --"), "'x''; drop table t; --'");
  EXPECT_EQ(ValorParaSQL("''"), "''''''");
}

}  // namespace
