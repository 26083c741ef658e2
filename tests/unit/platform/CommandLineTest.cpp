#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ci/TestNames.h"
#include "platform/Process.h"

namespace tolvan::platform {
namespace {

TEST(SplitCommandLine, BlanksTabsAndEmptyLines) {
  EXPECT_THAT(SplitCommandLine(""), IsEmpty());
  EXPECT_THAT(SplitCommandLine(" \t "), IsEmpty());
  EXPECT_THAT(SplitCommandLine("  prog\ta  \t b  "), ElementsAre("prog", "a", "b"));
}

TEST(SplitCommandLine, QuotesGroupAndVanish) {
  EXPECT_THAT(SplitCommandLine(R"(p "a b" c"d e"f "")"), ElementsAre("p", "a b", "cd ef", ""));
  EXPECT_THAT(SplitCommandLine(R"(p "" "" x)"), ElementsAre("p", "", "", "x"));
  EXPECT_THAT(SplitCommandLine(R"(p "unterminated  text)"), ElementsAre("p", "unterminated  text"));
  EXPECT_THAT(SplitCommandLine("p a\"\t\"b"), ElementsAre("p", "a\tb"));
}

TEST(SplitCommandLine, DoubledQuoteInsideQuotesIsLiteral) {
  EXPECT_THAT(SplitCommandLine(R"(p "a""b" "say ""hi""")"), ElementsAre("p", "a\"b", "say \"hi\""));
  // Outside quotes "" opens and closes an empty part.
  EXPECT_THAT(SplitCommandLine(R"(p a""b)"), ElementsAre("p", "ab"));
}

TEST(SplitCommandLine, BackslashesCountOnlyBeforeQuotes) {
  EXPECT_THAT(SplitCommandLine(R"(p C:\dir\file a\\b)"),
              ElementsAre("p", R"(C:\dir\file)", R"(a\\b)"));
  EXPECT_THAT(SplitCommandLine(R"(p a\"b)"), ElementsAre("p", R"(a"b)"));
  EXPECT_THAT(SplitCommandLine(R"(p a\\"b c")"), ElementsAre("p", R"(a\b c)"));
  EXPECT_THAT(SplitCommandLine(R"(p a\\\"b)"), ElementsAre("p", R"(a\"b)"));
  EXPECT_THAT(SplitCommandLine(R"(p "C:\dir\\" next)"), ElementsAre("p", R"(C:\dir\)", "next"));
  EXPECT_THAT(SplitCommandLine(R"(p trailing\)"), ElementsAre("p", R"(trailing\)"));
}

TEST(SplitCommandLine, ProgramIsReadWithoutBackslashRules) {
  EXPECT_THAT(SplitCommandLine(R"("C:\Program Files\App\gbak.exe" -b)"),
              ElementsAre(R"(C:\Program Files\App\gbak.exe)", "-b"));
  EXPECT_THAT(SplitCommandLine(R"(C:\App\x\" y)"), ElementsAre(R"(C:\App\x\ y)"));
  EXPECT_THAT(SplitCommandLine(R"("/tmp/app dir/tool")"), ElementsAre("/tmp/app dir/tool"));
}

TEST(SplitCommandLine, GbakLinesWithDoubleBlanks) {
  EXPECT_THAT(
      SplitCommandLine(
          R"(C:\App\gbak.exe -b -z -V "D" "F" -user U -pas P -m  -SE srv:"Backup Database" )"),
      ElementsAre(R"(C:\App\gbak.exe)", "-b", "-z", "-V", "D", "F", "-user", "U", "-pas", "P", "-m",
                  "-SE", "srv:Backup Database"));
  EXPECT_THAT(
      SplitCommandLine(R"(/app/gbak -c -v "srv/3050:/data/x.fdb"  "/bk/a b.fbk" -user SYSDBA)"),
      ElementsAre("/app/gbak", "-c", "-v", "srv/3050:/data/x.fdb", "/bk/a b.fbk", "-user",
                  "SYSDBA"));
}

TEST(SplitCommandLine, ShellCharactersAreOrdinary) {
  EXPECT_THAT(SplitCommandLine("p a;b | $(rm -rf x) `id` > out & *"),
              ElementsAre("p", "a;b", "|", "$(rm", "-rf", "x)", "`id`", ">", "out", "&", "*"));
}

}  // namespace
}  // namespace tolvan::platform
