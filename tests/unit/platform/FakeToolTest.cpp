// The fake tool is what other tests build on: its records must give back exactly what it got.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "ci/TestNames.h"
#include "fake_tool/FakeTool.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/Process.h"

namespace tolvan::testing {
namespace {

struct Run {
  std::string output;
  int exit_code;
};

Run RunCommand(const std::string& command_line) {
  auto child = platform::LaunchProcess({command_line, ""});
  std::string output;
  char buffer[4096];
  while (std::size_t count = child->Read(buffer, sizeof buffer)) {
    output.append(buffer, count);
  }
  return {output, child->Wait()};
}

TEST(FakeTool, RecordsArgumentsWithLineEndsAndBackslashes) {
  FakeToolFolder folder;
  const std::string tool = "\"" + folder.Install("gbak") + "\"";
  RunCommand(tool + " \"two\nlines\" cr\rx C:\\dir\\\\file \"\" -user");
  RunCommand(tool);
  auto calls = folder.Calls("gbak");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_THAT(calls[0].args, ElementsAre("two\nlines", "cr\rx", "C:\\dir\\\\file", "", "-user"));
  EXPECT_TRUE(calls[1].args.empty());
  EXPECT_FALSE(calls[1].cwd.empty());
}

TEST(FakeTool, WithoutAScriptItSaysNothingAndSucceeds) {
  FakeToolFolder folder;
  const std::string tool = folder.Install("pg_dump");
  platform::RemoveFile(tool + ".script");
  auto run = RunCommand("\"" + tool + "\" --version");
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(folder.Calls("pg_dump").size(), 1u);
}

TEST(FakeTool, ScriptAndRecordFilesCanBeNamedByTheEnvironment) {
  FakeToolFolder folder;
  const std::string tool = "\"" + folder.Install("exp", "out own script") + "\"";
  const std::string script = folder.Path() + "other.script";
  const std::string record = folder.Path() + "other.calls";
  std::ofstream(std::filesystem::path(std::u8string(script.begin(), script.end())),
                std::ios::binary)
      << "out from elsewhere\nhex 41ff0a\nexit 3\n";
  platform::ScopedEnvironmentOverride overlay;
  platform::SetEnv("TOLVAN_FAKE_SCRIPT", script);
  platform::SetEnv("TOLVAN_FAKE_RECORD", record);
  auto run = RunCommand(tool + " a");
  EXPECT_EQ(run.output, "from elsewhere\nA\xFF\n");
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_TRUE(folder.Calls("exp").empty());
  ASSERT_EQ(ReadFakeToolCalls(record).size(), 1u);
  EXPECT_THAT(ReadFakeToolCalls(record)[0].args, ElementsAre("a"));
}

TEST(FakeTool, AMistypedScriptFailsLoudly) {
  FakeToolFolder folder;
  auto run = RunCommand("\"" + folder.Install("imp", "out ok\nprnt oops\nout never") + "\"");
  EXPECT_EQ(run.exit_code, 99);
  EXPECT_EQ(run.output, "ok\nfake tool: unknown directive \"prnt\"\n");
  EXPECT_EQ(RunCommand("\"" + folder.Install("imp", "sleep soon") + "\"").exit_code, 99);
}

}  // namespace
}  // namespace tolvan::testing
