// The one quoting of a command line's pieces, read back by the platform's splitter.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Process.h"
#include "tolvan/support/Quoting.h"

namespace {

using tolvan::support::Quote;
using tolvan::support::QuoteArgument;

TEST(QuoteArgument, LeavesPlainTextAndQuotesWhatWouldSplit) {
  EXPECT_EQ(QuoteArgument("/data/loja.fdb"), "/data/loja.fdb");
  EXPECT_EQ(QuoteArgument(R"(C:\Backups\loja.fbk)"), R"(C:\Backups\loja.fbk)");
  EXPECT_EQ(QuoteArgument(R"(C:\Program Files\Tolvan\gbak.exe)"),
            R"("C:\Program Files\Tolvan\gbak.exe")");
  EXPECT_EQ(QuoteArgument("a\tb"), "\"a\tb\"");
  EXPECT_EQ(QuoteArgument(""), R"("")");
  // Trailing backslashes are doubled so they do not escape the closing quote.
  EXPECT_EQ(QuoteArgument(R"(C:\Meus Backups\)"), R"("C:\Meus Backups\\")");
  // A quote inside is escaped, with the backslashes before it doubled.
  EXPECT_EQ(QuoteArgument(R"(a"b)"), R"("a\"b")");
  EXPECT_EQ(QuoteArgument(R"(a\"b c)"), R"("a\\\"b c")");
  // The command lines of gbak and pg_dump carry their file paths between quotes always.
  EXPECT_EQ(QuoteArgument("/bk/x.fbk", Quote::Always), R"("/bk/x.fbk")");
  EXPECT_EQ(QuoteArgument(R"(a\\)", Quote::Always), R"("a\\\\")");
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
    line += QuoteArgument(argument);
  }
  std::vector<std::string> expected = {"tool"};
  expected.insert(expected.end(), arguments.begin(), arguments.end());
  EXPECT_EQ(tolvan::platform::SplitCommandLine(line), expected);
}

}  // namespace
