// The command-line splitter against the C runtime of a real Windows program: the fake tool, built
// by the Windows compiler, prints main's argv (split by its C runtime) next to what the splitter
// reads from the same line, for a table of hard lines. Meaningful only on Windows (the Windows
// lane runs it under Wine); elsewhere the child's argv comes from this very splitter.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_tool/FakeTool.h"
#include "platform/Paths.h"
#include "platform/Process.h"

namespace tolvan::testing {
namespace {

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

struct Readings {
  std::vector<std::string> crt, ours;
};

Readings RunAndRead(const std::string& command_line) {
  auto child = platform::LaunchProcess({command_line, ""});
  std::string output;
  char buffer[4096];
  while (std::size_t count = child->Read(buffer, sizeof buffer)) {
    output.append(buffer, count);
  }
  child->Wait();
  Readings readings;
  std::size_t start = 0;
  for (std::size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = output.substr(start, end - start);
    if (line.rfind("crt:", 0) == 0) {
      readings.crt.push_back(FromHex(line.substr(4)));
    } else if (line.rfind("ours:", 0) == 0) {
      readings.ours.push_back(FromHex(line.substr(5)));
    }
  }
  return readings;
}

TEST(CRuntimeSplit, TheSplitterReadsHardLinesAsTheWindowsCRuntimeDoes) {
  if (platform::kPathDelimiter != '\\') {
    GTEST_SKIP() << "the C runtime's own reading exists only on Windows (the Windows lane)";
  }
  FakeToolFolder folder;
  const std::string tool = "\"" + folder.Install("gbak", "crt-argv") + "\"";
  const char* const lines[] = {
      "a b\tc",
      "\"C:\\Program Files\\x\" -user SYSDBA",
      "a\\\\b c\\",
      "a\\\"b",
      "a\\\\\\\"b",
      "\"a\\\\\\\\\" b",
      "\"C:\\dir\\\\\" next",
      "\"\" \"\" x",
      "a\"b c\"d e",
      "\"unterminated arg",
      "\"in \"\"quotes\"\" here\"",
      "\"\"\"\"",
      "x \"a\"\"b\" y",
      "  lead  trail  ",
      "D'Avila \"Joao Silva\" 100%",
  };
  for (const char* arguments : lines) {
    SCOPED_TRACE(arguments);
    const std::string line = tool + " " + arguments;
    const Readings readings = RunAndRead(line);
    std::vector<std::string> expected = platform::SplitCommandLine(line);
    expected.erase(expected.begin());
    EXPECT_EQ(readings.crt, expected) << "the C runtime read it otherwise";
    EXPECT_EQ(readings.ours, expected);
  }
}

}  // namespace
}  // namespace tolvan::testing
