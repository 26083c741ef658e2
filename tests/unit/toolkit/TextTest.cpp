#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Process.h"
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

TEST(QuoteArgument, LeavesPlainTextAndQuotesWhatWouldSplit) {
  EXPECT_EQ(vesk::QuoteArgument("/data/loja.fdb"), "/data/loja.fdb");
  EXPECT_EQ(vesk::QuoteArgument(R"(C:\Backups\loja.fbk)"), R"(C:\Backups\loja.fbk)");
  EXPECT_EQ(vesk::QuoteArgument(R"(C:\Program Files\Tolvan\gbak.exe)"),
            R"("C:\Program Files\Tolvan\gbak.exe")");
  EXPECT_EQ(vesk::QuoteArgument("a\tb"), "\"a\tb\"");
  EXPECT_EQ(vesk::QuoteArgument(""), R"("")");
  // Trailing backslashes are doubled so they do not escape the closing quote.
  EXPECT_EQ(vesk::QuoteArgument(R"(C:\Meus Backups\)"), R"("C:\Meus Backups\\")");
  // A quote inside is escaped, with the backslashes before it doubled.
  EXPECT_EQ(vesk::QuoteArgument(R"(a"b)"), R"("a\"b")");
  EXPECT_EQ(vesk::QuoteArgument(R"(a\"b c)"), R"("a\\\"b c")");
}

// Every argument comes back whole, and alone, from the splitter that reads the tools' lines.
TEST(QuoteArgument, RoundTripsThroughTheCommandLineSplitter) {
  const std::vector<std::string> arguments = {"",
                                              " ",
                                              "x",
                                              "-user",
                                              "João D'Ávila",
                                              R"(senha "com" aspas)",
                                              R"(\)",
                                              R"(\\)",
                                              R"(a\)",
                                              R"(C:\Program Files\)",
                                              R"(\"x\")",
                                              R"(a\\"b)",
                                              "x -m",
                                              "\t",
                                              R"(""")",
                                              R"(C:\Cópias\loja.fbk)",
                                              "-pas",
                                              R"(end\ )"};
  std::string line = "tool";
  for (const auto& argument : arguments) {
    line += ' ';
    line += vesk::QuoteArgument(argument);
  }
  std::vector<std::string> expected = {"tool"};
  expected.insert(expected.end(), arguments.begin(), arguments.end());
  EXPECT_EQ(tolvan::platform::SplitCommandLine(line), expected);
}

TEST(KeptLines, KeepsEverythingUpToTheLimits) {
  vesk::KeptLines kept;
  EXPECT_EQ(kept.Join("\r\n"), "");
  kept.Add("one");
  kept.Add("");
  kept.Add("three");
  EXPECT_EQ(kept.Join("\r\n"), "one\r\n\r\nthree");
  kept.Clear();
  kept.Add("a\n");
  kept.Add("b");
  EXPECT_EQ(kept.Join(""), "a\nb");
}

TEST(KeptLines, KeepsTheFirstAndLastPartsAndCountsWhatWasLeftOut) {
  const std::size_t limit = vesk::KeptLines::kLimit;
  const std::string line(1000, 'x');
  const std::size_t per_part = limit / line.size();  // whole lines that fit in each part
  const std::size_t total = 10 * per_part;
  vesk::KeptLines kept;
  for (std::size_t i = 0; i < total; ++i) {
    kept.Add(std::to_string(i) + ":" + line.substr(0, line.size() - 8));
  }
  const std::string text = kept.Join("\r\n");
  EXPECT_LE(text.size(), 2 * limit + 2 * per_part * 2 + 100);
  EXPECT_EQ(text.rfind("0:", 0), 0u);
  EXPECT_NE(text.find("\r\n" + std::to_string(total - 1) + ":"), std::string::npos);
  // Every line is either kept or counted, once.
  std::size_t kept_lines = 0;
  for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos; at += 2) {
    ++kept_lines;
  }
  const std::size_t note = text.find("(... ");
  ASSERT_NE(note, std::string::npos);
  const std::size_t left_out = std::stoul(text.substr(note + 5));
  // n separators join n + 1 entries, one of them the note.
  EXPECT_EQ(kept_lines + left_out, total);
  EXPECT_NE(text.find(" linhas omitidas ...)"), std::string::npos);

  // Lines that carry their own ends: the note stands on its own line.
  vesk::KeptLines with_ends;
  with_ends.Add(std::string(limit - 1, 'a'));  // a piece of a long line, no end
  with_ends.Add(std::string(limit, 'b'));
  with_ends.Add(std::string(limit - 4, 'c'));
  with_ends.Add("end\n");
  EXPECT_EQ(with_ends.Join(""), std::string(limit - 1, 'a') + "\n(... 1 linha omitida ...)\n" +
                                    std::string(limit - 4, 'c') + "end\n");
}

}  // namespace
